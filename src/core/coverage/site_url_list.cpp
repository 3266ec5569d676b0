#include "core/coverage/site_url_list.h"

#include "core/base/platform.h"
#include "core/coverage/site_list.h"
#include "core/coverage/url_key.h"
#include "core/input/gzip_source.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace logdesk {
namespace {

constexpr std::size_t kReadBlock = std::size_t{64} << 10;
// Hosts an error lists before it only counts the rest.
constexpr std::size_t kHostsNamed = 10;

// Where a sitemap index names a file: for messages about that file.
struct Listing {
    const std::string* index = nullptr;
    std::uint64_t line = 0;

    std::string prefix() const {
        return index == nullptr ? std::string()
                                : "listed in " + *index + " line " + std::to_string(line) + ": ";
    }
};

Error SourceError(const LogSource& source, const std::string& path, const Listing& listing) {
    const SourceStatus& status = source.status();
    std::string what = status.state == SourceState::Damaged ? "damaged .gz file" : "cannot read";
    std::string cause = listing.prefix() + (status.error ? status.error->cause : std::string());
    if (status.state == SourceState::Damaged) {
        cause += " (after " + std::to_string(status.deliveredBytes) + " bytes unpacked)";
    }
    return Error{std::move(what), path, std::move(cause), status.code()};
}

// Appends what `source` delivers to `bytes`, failing once they would pass
// the limit.
Result<void> ReadAll(LogSource& source, std::string& bytes, const std::string& path,
                     const Listing& listing) {
    for (;;) {
        const std::size_t at = bytes.size();
        bytes.resize(at + kReadBlock);
        const ssize_t got = source.read(bytes.data() + at, kReadBlock);
        bytes.resize(at + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0) {
            return SourceError(source, path, listing);
        }
        if (bytes.size() > kMaxSiteListBytes) {
            return Error{"too large", path,
                         listing.prefix() +
                             "more than 52,428,800 bytes once unpacked, the sitemap protocol's "
                             "limit for one file",
                         EFBIG};
        }
        if (got == 0) {
            return {};
        }
    }
}

// The file's text, unpacked when it starts as a gzip member does.
Result<std::string> ReadListBytes(const std::string& path, const Listing& listing) {
    std::string bytes;
    const std::unique_ptr<LogSource> plain = OpenPlainFile(path);
    bytes.resize(2);
    std::size_t have = 0;
    while (have < 2) {
        const ssize_t got = plain->read(bytes.data() + have, 2 - have);
        if (got < 0) {
            return SourceError(*plain, path, listing);
        }
        if (got == 0) {
            break;
        }
        have += static_cast<std::size_t>(got);
    }
    bytes.resize(have);
    if (bytes == "\x1F\x8B") {
        bytes.clear();
        const std::unique_ptr<LogSource> gzip = OpenGzipFile(path);
        const Result<void> read = ReadAll(*gzip, bytes, path, listing);
        if (!read) {
            return read.error();
        }
        return bytes;
    }
    const Result<void> read = ReadAll(*plain, bytes, path, listing);
    if (!read) {
        return read.error();
    }
    return bytes;
}

// The file a sitemap index's <loc> names beside the index: the last segment
// of its path, percent-decoded; nothing when that is no plain file name.
std::optional<std::string> ListedFileName(std::string_view loc) {
    if (const std::size_t scheme = loc.find("://"); scheme != std::string_view::npos) {
        loc.remove_prefix(scheme + 3);
        const std::size_t path = loc.find('/');
        loc = path == std::string_view::npos ? std::string_view() : loc.substr(path);
    }
    loc = loc.substr(0, std::min(loc.find_first_of("?#"), loc.size()));
    loc = loc.substr(loc.rfind('/') == std::string_view::npos ? 0 : loc.rfind('/') + 1);
    std::string name = PercentDecoded(loc);
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) {
        return std::nullopt;
    }
    return name;
}

// The path of `name` in the folder that holds `path`.
std::string Beside(const std::string& path, const std::string& name) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

std::string HostNames(const std::vector<std::string>& hosts) {
    std::string names;
    for (std::size_t i = 0; i < std::min(hosts.size(), kHostsNamed); ++i) {
        names += (i == 0 ? "" : ", ") + hosts[i];
    }
    if (hosts.size() > kHostsNamed) {
        names += " and " + std::to_string(hosts.size() - kHostsNamed) + " more";
    }
    return names;
}

struct Entry {
    std::string url;
    SiteUrlKey split;
};

class ListReader {
public:
    explicit ListReader(const SiteUrlOptions& options) : options_(options) {}

    Result<void> read(const std::string& path, const Listing& listing) {
        const Result<FileStatus> status = StatusOf(path);
        if (!status) {
            Error error = status.error();
            error.what = "cannot read";
            error.cause = listing.prefix() + error.cause;
            return error;
        }
        if (status->kind == FileStatus::Regular &&
            !read_.insert({status->device, status->inode}).second) {
            return {};
        }
        const Result<std::string> bytes = ReadListBytes(path, listing);
        if (!bytes) {
            return bytes.error();
        }
        Result<SiteList> parsed = ParseSiteList(*bytes, path, options_.csvColumn);
        if (!parsed) {
            Error error = parsed.error();
            error.cause = listing.prefix() + error.cause;
            return error;
        }
        files_.push_back(path);
        if (parsed->kind == SiteListKind::SitemapIndex) {
            if (listing.index != nullptr) {
                return Error{"nested sitemap index", path,
                             listing.prefix() +
                                 "a sitemap index lists another index, which the protocol does "
                                 "not allow; name the inner index itself",
                             0};
            }
            return readIndex(path, *parsed);
        }
        for (ListedUrl& listed : parsed->urls) {
            std::optional<SiteUrlKey> split = SplitSiteUrl(listed.url);
            if (!split) {
                return Error{"not a URL", path,
                             "line " + std::to_string(listed.line) +
                                 ": not an http:// or https:// URL: " + listed.url.substr(0, 200),
                             0};
            }
            entries_.push_back({std::move(listed.url), std::move(*split)});
        }
        return {};
    }

    Result<SiteUrlList> finish(const std::vector<std::string>& paths) {
        SiteUrlList list;
        // A set beside the hosts' list: a CSV of 50,000 sites would make
        // the list's own search quadratic.
        {
            std::unordered_set<std::string_view> hostsSeen;
            for (const Entry& entry : entries_) {
                if (hostsSeen.insert(entry.split.host).second) {
                    list.hosts.push_back(entry.split.host);
                }
            }
        }
        const std::string place = paths.size() == 1 ? paths[0] : std::string();
        if (!options_.host.empty()) {
            list.host = AsciiLower(options_.host);
            if (!list.hosts.empty() &&
                std::find(list.hosts.begin(), list.hosts.end(), list.host) == list.hosts.end()) {
                return Error{std::string(kHostNotListed), place,
                             "the list holds no URL of " + list.host +
                                 "; its hosts: " + HostNames(list.hosts),
                             0};
            }
        } else if (list.hosts.size() > 1) {
            return Error{std::string(kSeveralHosts), place,
                         "the list holds URLs of " + std::to_string(list.hosts.size()) +
                             " hosts (" + HostNames(list.hosts) +
                             "); name the one whose log is read",
                         0};
        } else if (!list.hosts.empty()) {
            list.host = list.hosts[0];
        }
        // The keys are seen where the entries hold them, and only moved
        // once every entry has been seen.
        std::vector<bool> kept(entries_.size());
        {
            std::unordered_set<std::string_view> keys;
            keys.reserve(entries_.size());
            for (std::size_t e = 0; e < entries_.size(); ++e) {
                const Entry& entry = entries_[e];
                if (entry.split.host != list.host) {
                    ++list.otherHostUrls;
                } else if (!keys.insert(entry.split.key).second) {
                    ++list.duplicateUrls;
                } else {
                    kept[e] = true;
                }
            }
        }
        list.urls.reserve(entries_.size() - list.otherHostUrls - list.duplicateUrls);
        for (std::size_t e = 0; e < entries_.size(); ++e) {
            if (kept[e]) {
                list.urls.push_back({std::move(entries_[e].url), std::move(entries_[e].split.key)});
            }
        }
        list.files = std::move(files_);
        return list;
    }

private:
    Result<void> readIndex(const std::string& path, const SiteList& index) {
        for (const ListedUrl& listed : index.urls) {
            const std::optional<std::string> name = ListedFileName(listed.url);
            if (!name) {
                return Error{"not a sitemap file", path,
                             "line " + std::to_string(listed.line) +
                                 ": the listed sitemap names no file: " + listed.url.substr(0, 200),
                             0};
            }
            const Result<void> read = this->read(Beside(path, *name), {&path, listed.line});
            if (!read) {
                return read;
            }
        }
        return {};
    }

    const SiteUrlOptions& options_;
    std::set<std::pair<std::uint64_t, std::uint64_t>> read_; // device and inode of files read
    std::vector<Entry> entries_;
    std::vector<std::string> files_;
};

} // namespace

Result<SiteUrlList> ReadSiteUrls(const std::vector<std::string>& paths,
                                 const SiteUrlOptions& options) {
    ListReader reader(options);
    for (const std::string& path : paths) {
        const Result<void> read = reader.read(path, {});
        if (!read) {
            return read.error();
        }
    }
    return reader.finish(paths);
}

} // namespace logdesk
