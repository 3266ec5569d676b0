#include "core/input/log_inputs.h"

#include "core/base/platform.h"
#include "core/input/name_order.h"
#include "core/input/read_ahead.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>
#include <set>
#include <utility>

namespace logdesk {
namespace {

struct Suffix {
    std::string_view text;
    InputKind kind;
};

// Longer suffixes first: ".tar.gz" is an archive, ".gz" alone a stream.
constexpr std::array kSuffixes{
    Suffix{".tar.gz", InputKind::Archive}, Suffix{".tar.bz2", InputKind::Archive},
    Suffix{".tar.xz", InputKind::Archive}, Suffix{".tar.zst", InputKind::Archive},
    Suffix{".tgz", InputKind::Archive},    Suffix{".tbz2", InputKind::Archive},
    Suffix{".tbz", InputKind::Archive},    Suffix{".txz", InputKind::Archive},
    Suffix{".tzst", InputKind::Archive},   Suffix{".tar", InputKind::Archive},
    Suffix{".zip", InputKind::Archive},    Suffix{".gz", InputKind::Gzip},
    Suffix{".bz2", InputKind::Compressed}, Suffix{".xz", InputKind::Compressed},
    Suffix{".zst", InputKind::Compressed},
};

using FileIdentity = std::pair<std::uint64_t, std::uint64_t>; // device, inode

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

// Below this much text (expected) an input is not decoded ahead.
constexpr std::uint64_t kReadAheadFrom = std::uint64_t{4} << 20;
// Log text shrinks to a fifth or less compressed.
constexpr std::uint64_t kTypicalRatio = 5;

// /dev/zero would be read for ever, a disk is no text: neither is imported.
InputProblem DeviceProblem(const std::string& path) {
    return {Error{{}, path, "a device, not a log file", ENODEV}};
}

class Expansion {
public:
    Expansion(std::vector<InputFile>& files, std::vector<InputProblem>& problems)
        : files_(files), problems_(problems) {}

    void argument(const std::string& path) {
        const Result<FileStatus> status = StatusOf(path);
        if (!status) {
            problem(path, status.error());
            return;
        }
        if (status->kind == FileStatus::Directory) {
            folder(path);
            return;
        }
        // Opened and closed again at once: an unreadable file is reported
        // now, with the others still to come.
        if (const Result<void> readable = CheckReadable(path); !readable) {
            problem(path, readable.error());
            return;
        }
        if (IsDeviceOtherThanTerminal(path)) {
            deviceProblem(path);
            return;
        }
        add(path, KindOfName(LastComponent(path)), *status);
    }

    void add(std::string path, InputKind kind, const FileStatus& status) {
        InputFile file;
        file.path = std::move(path);
        file.kind = kind;
        file.size = status.size;
        files_.push_back(std::move(file));
        identities_.emplace_back(status.device, status.inode);
    }

    // Sorts into name order and keeps the first of each file reached twice.
    void finish() {
        std::vector<std::size_t> order(files_.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return NameOrderLess(files_[a].path, files_[b].path);
        });
        std::set<FileIdentity> seen;
        std::vector<InputFile> sorted;
        sorted.reserve(files_.size());
        for (const std::size_t i : order) {
            if (seen.insert(identities_[i]).second) {
                sorted.push_back(std::move(files_[i]));
            }
        }
        files_ = std::move(sorted);
    }

private:
    void folder(const std::string& path) {
        const Result<std::vector<std::string>> names = ListFolder(path);
        if (!names) {
            problem(path, names.error());
            return;
        }
        for (const std::string& name : *names) {
            if (!IsFolderLogName(name)) {
                continue;
            }
            std::string full = JoinPath(path, name);
            const Result<FileStatus> status = StatusOf(full);
            if (!status) {
                problem(full, status.error()); // a link to nothing, say
                continue;
            }
            if (status->kind != FileStatus::Regular) {
                continue; // a folder named like a log
            }
            if (const Result<void> readable = CheckReadable(full); !readable) {
                problem(full, readable.error());
                continue;
            }
            add(std::move(full), KindOfName(name), *status);
        }
    }

    void problem(const std::string& path, const Error& error) {
        problems_.push_back({Error{{}, path, ErrnoText(error.code), error.code}});
    }
    void deviceProblem(const std::string& path) { problems_.push_back(DeviceProblem(path)); }

    std::vector<InputFile>& files_;
    std::vector<InputProblem>& problems_;
    std::vector<FileIdentity> identities_; // beside files_
};

} // namespace

InputKind KindOfName(std::string_view name) {
    for (const Suffix& suffix : kSuffixes) {
        if (EndsWithNoCase(name, suffix.text)) {
            return suffix.kind;
        }
    }
    return InputKind::Plain;
}

bool IsFolderLogName(std::string_view name) {
    return EndsWithNoCase(name, ".log") || KindOfName(name) != InputKind::Plain;
}

LogInputs::LogInputs(const std::vector<std::string>& arguments, const LogInputsOptions& options)
    : options_(options) {
    bool standardInput = false;
    Expansion expansion(files_, problems_);
    for (const std::string& argument : arguments) {
        if (argument == "-") {
            standardInput = true;
        } else {
            expansion.argument(argument);
        }
    }
    expansion.finish();
    if (standardInput && IsDeviceOtherThanTerminal(options_.standardInput)) {
        problems_.insert(problems_.begin(), DeviceProblem("-"));
        standardInput = false;
    }
    if (standardInput) {
        InputFile in;
        in.path = "-";
        in.kind = InputKind::StandardInput;
        if (const std::optional<std::uint64_t> size = RegularFileSize(options_.standardInput)) {
            const std::uint64_t start = ReadPosition(options_.standardInput).value_or(0);
            in.size = *size > start ? *size - start : 0;
        }
        files_.insert(files_.begin(), std::move(in));
    }
    bytesBefore_.reserve(files_.size());
    for (const InputFile& file : files_) {
        bytesBefore_.push_back(totalBytes_);
        totalBytes_ += file.size;
    }
}

LogInputs::~LogInputs() = default;

std::unique_ptr<LogSource> LogInputs::next() {
    std::unique_ptr<LogSource> source;
    if (prefetched_ != nullptr) {
        source = std::move(prefetched_);
        currentFile_ = prefetchedFile_;
    } else {
        source = openGuarded();
        currentFile_ = nextFile_ > 0 ? nextFile_ - 1 : 0;
    }
    // One .gz file after another: the next one inflates on a core of its own
    // while this one is read, instead of waiting for it to end.
    if (source != nullptr && options_.readAhead && archive_ == nullptr && nextFile_ > 0 &&
        files_[currentFile_].kind == InputKind::Gzip && nextFile_ < files_.size() &&
        files_[nextFile_].kind == InputKind::Gzip) {
        prefetched_ = openGuarded();
        prefetchedFile_ = nextFile_ - 1;
    }
    return source;
}

std::unique_ptr<LogSource> LogInputs::openGuarded() {
    try {
        return openNext();
    } catch (const std::bad_alloc&) {
        const std::string path = nextFile_ > 0 ? files_[nextFile_ - 1].path : std::string();
        return FailedSource({path, {}}, SourceState::ReadFailed, ENOMEM, ErrnoText(ENOMEM));
    }
}

void LogInputs::restart() {
    prefetched_.reset();
    archive_.reset();
    nextMember_ = 0;
    nextFile_ = 0;
    currentFile_ = 0;
}

std::unique_ptr<LogSource> LogInputs::openNext() {
    for (;;) {
        if (archive_ != nullptr) {
            if (nextMember_ < archive_->members().size()) {
                const std::uint64_t textSize = archive_->members()[nextMember_].size;
                return wrap(archive_->openMember(nextMember_++), textSize);
            }
            std::unique_ptr<LogArchive> done = std::move(archive_);
            if (const SourceStatus* stopped = done->listingStopped()) {
                const Error why = stopped->error.value_or(Error{});
                return FailedSource({done->path(), {}}, stopped->state, why.code, why.cause);
            }
        }
        if (nextFile_ == files_.size()) {
            return nullptr;
        }
        const InputFile& file = files_[nextFile_++];
        switch (file.kind) {
        case InputKind::StandardInput:
            return OpenDescriptor(options_.standardInput);
        case InputKind::Plain:
            return OpenPlainFile(file.path);
        case InputKind::Gzip:
            return wrap(OpenGzipFile(file.path, options_.gzip), file.size * kTypicalRatio);
        case InputKind::Compressed:
            return wrap(OpenCompressedFile(file.path), file.size * kTypicalRatio);
        case InputKind::Archive:
            break;
        }
        auto archive = std::make_unique<LogArchive>(file.path);
        if (const SourceStatus* failed = archive->openFailure()) {
            const Error why = failed->error.value_or(Error{});
            return FailedSource({file.path, {}}, failed->state, why.code, why.cause);
        }
        if (archive->members().empty() && archive->listingStopped() == nullptr) {
            return FailedSource({file.path, {}}, SourceState::OpenFailed, ENOENT,
                                "the archive holds no .log file");
        }
        archive_ = std::move(archive);
        nextMember_ = 0;
    }
}

std::unique_ptr<LogSource> LogInputs::wrap(std::unique_ptr<LogSource> source,
                                           std::uint64_t textSize) const {
    // A small input is decoded sooner than a thread and its ring are set up
    // and taken down again: thousands of small members would spend their
    // time there (and a size of 0 is an empty member as often as an unknown
    // one).
    if (!options_.readAhead || source->status().ended() || textSize < kReadAheadFrom) {
        return source;
    }
    return ReadAhead(std::move(source));
}

SourceProgress LogInputs::overallProgress(const LogSource& current) const {
    if (nextFile_ == 0) {
        return {0, totalBytes_};
    }
    const std::size_t file = currentFile_;
    std::uint64_t done = current.progress().done;
    if (files_[file].size > 0) {
        done = std::min(done, files_[file].size);
    }
    // A failure reported after an archive's members has no progress of its own.
    overallDone_ = std::max(overallDone_, bytesBefore_[file] + done);
    return {overallDone_, std::max(totalBytes_, overallDone_)};
}

} // namespace logdesk
