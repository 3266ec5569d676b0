#include "crawler_ranges.h"

#include "core/base/whole_files.h"
#include "core/net/http_fetch.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>

namespace logdesk {
namespace {

// Where each owner documents its list: Google's "Verifying Googlebot and
// other Google crawlers", Bing's "Verifying Bingbot", Apple's "About
// Applebot", OpenAI's "Overview of OpenAI Crawlers", DuckDuckGo's help pages
// for DuckDuckBot and DuckAssistBot.
constexpr std::array<RangeSource, 11> kSources = {{
    {"googlebot", "https://developers.google.com/static/search/apis/ipranges/googlebot.json",
     SpiderId::Google, RangeFormat::PrefixJson},
    {"google-special-crawlers",
     "https://developers.google.com/static/search/apis/ipranges/special-crawlers.json",
     SpiderId::Google, RangeFormat::PrefixJson},
    {"google-user-triggered-fetchers",
     "https://developers.google.com/static/search/apis/ipranges/user-triggered-fetchers.json",
     SpiderId::Google, RangeFormat::PrefixJson},
    {"google-user-triggered-fetchers-google",
     "https://developers.google.com/static/search/apis/ipranges/"
     "user-triggered-fetchers-google.json",
     SpiderId::Google, RangeFormat::PrefixJson},
    {"bingbot", "https://www.bing.com/toolbox/bingbot.json", SpiderId::Bing,
     RangeFormat::PrefixJson},
    {"applebot", "https://search.developer.apple.com/applebot.json", SpiderId::Apple,
     RangeFormat::PrefixJson},
    {"gptbot", "https://openai.com/gptbot.json", SpiderId::OpenAi, RangeFormat::PrefixJson},
    {"oai-searchbot", "https://openai.com/searchbot.json", SpiderId::OpenAi,
     RangeFormat::PrefixJson},
    {"chatgpt-user", "https://openai.com/chatgpt-user.json", SpiderId::OpenAi,
     RangeFormat::PrefixJson},
    {"duckduckbot", "https://duckduckgo.com/duckduckgo-help-pages/results/duckduckbot",
     SpiderId::DuckDuckGo, RangeFormat::AddressList},
    {"duckassistbot", "https://duckduckgo.com/duckduckgo-help-pages/results/duckassistbot",
     SpiderId::DuckDuckGo, RangeFormat::AddressList},
}};

Error RangeError(const std::string& why) {
    return Error{"", "", why};
}

bool AddressByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' ||
           c == ':' || c == '/';
}

// The address tokens of a page's list items: the text of each <li> element,
// and of each line that starts with "- " or "* ".
std::vector<std::string_view> ListItems(std::string_view body) {
    std::vector<std::string_view> items;
    std::size_t at = 0;
    while ((at = body.find("<li", at)) != std::string_view::npos) {
        const std::size_t open = body.find('>', at);
        const std::size_t close = body.find("</li>", at);
        if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
            break;
        }
        items.push_back(TrimBlanks(body.substr(open + 1, close - open - 1)));
        at = close;
    }
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\n', start);
        if (end == std::string_view::npos) {
            end = body.size();
        }
        const std::string_view line = TrimBlanks(body.substr(start, end - start));
        if (line.starts_with("- ") || line.starts_with("* ")) {
            items.push_back(TrimBlanks(line.substr(2)));
        }
        start = end + 1;
    }
    return items;
}

} // namespace

std::optional<IpRange> IpRange::Parse(std::string_view text) {
    const std::size_t slash = text.find('/');
    const std::optional<IpAddress> base = IpAddress::Parse(text.substr(0, slash));
    if (!base) {
        return std::nullopt;
    }
    const int most = base->family == IpFamily::V4 ? 32 : 128;
    int length = most;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 3 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
        length = std::stoi(std::string(digits));
        if (length > most) {
            return std::nullopt;
        }
        // A mapped IPv6 range ("::ffff:1.2.3.0/120") counts in IPv4 bits.
        if (base->family == IpFamily::V4 && text.find(':') != std::string_view::npos) {
            if (length < 96) {
                return std::nullopt;
            }
            length -= 96;
        }
    }
    return IpRange{*base, length};
}

bool IpRange::contains(const IpAddress& address) const {
    if (address.family != base.family) {
        return false;
    }
    int left = prefixLength;
    for (std::size_t i = 0; i < address.size() && left > 0; ++i, left -= 8) {
        const int bits = std::min(left, 8);
        const auto mask = static_cast<std::uint8_t>(0xff << (8 - bits));
        if ((address.bytes[i] & mask) != (base.bytes[i] & mask)) {
            return false;
        }
    }
    return true;
}

std::string IpRange::text() const {
    return base.text() + "/" + std::to_string(prefixLength);
}

std::span<const RangeSource> RangeSources() {
    return kSources;
}

Result<std::vector<IpRange>> ParseRangeBody(RangeFormat format, std::string_view body) {
    std::vector<IpRange> ranges;
    if (format == RangeFormat::PrefixJson) {
        const nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
        if (document.is_discarded() || !document.is_object()) {
            return RangeError(Gbk("下载的内容不是JSON"));
        }
        const auto prefixes = document.find("prefixes");
        if (prefixes == document.end() || !prefixes->is_array()) {
            return RangeError(Gbk("JSON中没有prefixes列表"));
        }
        for (const nlohmann::json& entry : *prefixes) {
            if (!entry.is_object()) {
                return RangeError(Gbk("prefixes中有不是对象的项"));
            }
            bool found = false;
            for (const char* key : {"ipv4Prefix", "ipv6Prefix"}) {
                const auto value = entry.find(key);
                if (value == entry.end()) {
                    continue;
                }
                const std::optional<IpRange> range =
                    value->is_string() ? IpRange::Parse(value->get<std::string>()) : std::nullopt;
                if (!range) {
                    return RangeError(Gbk("prefixes中有无效的IP段"));
                }
                ranges.push_back(*range);
                found = true;
            }
            if (!found) {
                return RangeError(Gbk("prefixes中有不含IP段的项"));
            }
        }
    } else {
        for (std::string_view item : ListItems(body)) {
            if (item.empty() || !std::all_of(item.begin(), item.end(), AddressByte)) {
                continue;
            }
            if (const std::optional<IpRange> range = IpRange::Parse(item)) {
                ranges.push_back(*range);
            }
        }
    }
    if (ranges.empty()) {
        return RangeError(Gbk("下载的内容中没有IP段"));
    }
    return ranges;
}

std::string RangeFilePath(const std::string& folder, std::string_view id) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path + "crawler-ranges-" + std::string(id) + ".txt";
}

PublishedRanges PublishedRanges::Load(const std::string& folder) {
    PublishedRanges loaded;
    for (const RangeSource& source : kSources) {
        const std::string path = RangeFilePath(folder, source.id);
        const Result<std::string> text = ReadWholeFile(path);
        if (!text) {
            if (text.error().code != ENOENT) {
                loaded.damaged_.push_back(path);
            }
            continue;
        }
        StoredRanges stored{std::string(source.id), {}, {}, source.spider, {}};
        bool damaged = false;
        std::size_t start = 0;
        const std::string_view all = *text;
        while (start < all.size()) {
            std::size_t end = all.find('\n', start);
            if (end == std::string_view::npos) {
                end = all.size();
            }
            std::string_view line = all.substr(start, end - start);
            start = end + 1;
            if (line.ends_with('\r')) {
                line.remove_suffix(1);
            }
            if (line.starts_with("# source ")) {
                stored.source = line.substr(9);
            } else if (line.starts_with("# fetched ")) {
                stored.fetched = line.substr(10);
            } else if (!line.empty() && !line.starts_with('#')) {
                const std::optional<IpRange> range = IpRange::Parse(line);
                damaged = damaged || !range;
                if (range) {
                    stored.ranges.push_back(*range);
                }
            }
        }
        if (damaged || stored.ranges.empty()) {
            loaded.damaged_.push_back(path);
            continue;
        }
        loaded.stored_.push_back(std::move(stored));
    }
    return loaded;
}

const StoredRanges* PublishedRanges::find(SpiderId spider, const IpAddress& address) const {
    for (const StoredRanges& stored : stored_) {
        if (stored.spider != spider) {
            continue;
        }
        for (const IpRange& range : stored.ranges) {
            if (range.contains(address)) {
                return &stored;
            }
        }
    }
    return nullptr;
}

std::string UtcNowText() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

namespace {

// Days since 1970-01-01 of a "YYYY-MM-DD..." text; nothing when it has none.
std::optional<int> DayNumber(std::string_view text) {
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const std::string digits = std::string(text.substr(0, 4)) + std::string(text.substr(5, 2)) +
                               std::string(text.substr(8, 2));
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{
        std::chrono::year(std::stoi(digits.substr(0, 4))),
        std::chrono::month(static_cast<unsigned>(std::stoi(digits.substr(4, 2)))),
        std::chrono::day(static_cast<unsigned>(std::stoi(digits.substr(6, 2))))};
    if (!date.ok()) {
        return std::nullopt;
    }
    return std::chrono::sys_days(date).time_since_epoch().count();
}

} // namespace

int RangeAgeDays(std::string_view fetched, std::string_view now) {
    const std::optional<int> from = DayNumber(fetched);
    const std::optional<int> to = DayNumber(now);
    return from && to ? *to - *from : -1;
}

std::vector<RangeUpdate> UpdatePublishedRanges(
    const std::string& folder, std::span<const RangeSource> sources, const std::string& now,
    const std::function<std::string(const RangeSource&)>& urlFor, const CancelToken& cancel) {
    std::vector<RangeUpdate> updates;
    for (const RangeSource& source : sources) {
        RangeUpdate& update = updates.emplace_back(RangeUpdate{std::string(source.id)});
        const std::string url = urlFor ? urlFor(source) : std::string(source.url);
        FetchRequest request;
        request.url = url;
        request.maxBodyBytes = 4 << 20;
        FetchContext context;
        context.cancel = cancel;
        Result<FetchResponse> response = HttpExchange(request, 30, context);
        if (!response) {
            update.error = Gbk("下载失败：") + response.error().reason();
            continue;
        }
        // "HTTP/1.1 200 OK": the status is the second word of the last
        // response's status line.
        const std::string& headers = response->headers;
        const std::size_t space = headers.find(' ');
        if (space == std::string::npos || headers.compare(space + 1, 3, "200") != 0) {
            update.error = Gbk("服务器没有给出这个列表：") +
                           headers.substr(0, std::min(headers.find('\r'), headers.size()));
            continue;
        }
        const std::string body(response->body.begin(), response->body.end());
        const Result<std::vector<IpRange>> ranges = ParseRangeBody(source.format, body);
        if (!ranges) {
            update.error = ranges.error().cause;
            continue;
        }
        std::string text = "# source " + url + "\r\n# fetched " + now + "\r\n";
        for (const IpRange& range : *ranges) {
            text += range.text() + "\r\n";
        }
        Result<FileReplacement> file = FileReplacement::Begin(RangeFilePath(folder, source.id));
        Result<void> written =
            file ? WriteAll(file->descriptor(), text) : Result<void>(file.error());
        if (written) {
            written = file->commit();
        }
        if (!written) {
            update.error = Gbk("无法保存：") + written.error().line();
            continue;
        }
        update.stored = true;
        update.ranges = ranges->size();
    }
    return updates;
}

} // namespace logdesk
