#include "input/import_inputs.h"

#include <cerrno>
#include <utility>

namespace logdesk {

namespace {

SkipKind KindOfEnd(SourceState state) {
    switch (state) {
    case SourceState::ReadFailed:
        return SkipKind::ReadFailed;
    case SourceState::Damaged:
        return SkipKind::Damaged;
    case SourceState::Reading:
    case SourceState::Complete:
    case SourceState::OpenFailed:
        break;
    }
    return SkipKind::Unreadable;
}

SkippedInput SkippedOf(const LogSource& source) {
    const SourceStatus& status = source.status();
    SkippedInput skipped;
    skipped.name = source.name();
    skipped.kind = KindOfEnd(status.state);
    skipped.error = status.error;
    skipped.reason = status.reason;
    skipped.bytesKept = status.deliveredBytes;
    skipped.compressedOffset = status.compressedOffset;
    return skipped;
}

// A failure of the one input named, as ImportLogFile gives it: the path,
// and the system's words for the code in the cause.
Error SingleInputError(const SourceName& name, int code) {
    return SystemError(code, {}, name.display());
}

} // namespace

std::string SkippedInput::describe() const {
    std::string text = name.display() + ": ";
    switch (kind) {
    case SkipKind::Unreadable:
        return text + "cannot be read: " + reason;
    case SkipKind::ReadFailed:
        return text + "reading failed after " + std::to_string(bytesKept) +
               " bytes, the text before it kept: " + reason;
    case SkipKind::Damaged:
        text += "damaged after " + std::to_string(bytesKept) + " bytes";
        if (compressedOffset) {
            text += " (compressed offset " + std::to_string(*compressedOffset) + ")";
        }
        return text + ", the text before it kept: " + reason;
    case SkipKind::Rejected:
        break;
    }
    return text + "这个文件不是标准的IIS日志文件！ (a #Fields: line without field names; "
                  "the lines before it kept, the rest of the file left out)";
}

Result<InputsImport> ImportLogInputs(LogInputs& inputs, const HeaderLayout& previousHeader,
                                     const ImportOptions& options) {
    InputsImport result;
    result.single = inputs.files().size() + inputs.problems().size() == 1 &&
                    (inputs.files().empty() || inputs.files()[0].kind != InputKind::Archive);
    for (const InputProblem& problem : inputs.problems()) {
        if (result.single) {
            return SingleInputError({problem.path, {}}, problem.error);
        }
        SkippedInput skipped;
        skipped.name = {problem.path, {}};
        skipped.error = problem.error;
        skipped.reason = problem.reason;
        result.skipped.push_back(std::move(skipped));
    }
    for (const InputFile& file : inputs.files()) {
        if (file.kind != InputKind::StandardInput) {
            result.files.push_back(file.path);
        }
    }

    // Progress comes from the sources, which know their compressed sizes; the
    // importer's own counts only one input's text.
    LogImporter importer(previousHeader, options);
    importer.reportProgress(false);
    std::size_t added = 0;
    bool lastRejected = false;
    while (const std::unique_ptr<LogSource> source = inputs.next()) {
        if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
            return SystemError(ECANCELED, {}, source->name().display());
        }
        if (source->status().ended() && !source->status().complete()) {
            // Failed before its first byte: nothing to read.
            if (result.single && source->status().state != SourceState::Damaged) {
                return SingleInputError(source->name(), source->status().error);
            }
            result.skipped.push_back(SkippedOf(*source));
            continue;
        }
        LogSource& from = *source;
        const auto read = [&](char* buffer, std::size_t size) -> Result<std::size_t> {
            const ssize_t got = from.read(buffer, size);
            if (options.progress) {
                const SourceProgress overall = inputs.overallProgress(from);
                options.progress(overall.done, overall.total);
            }
            if (got < 0) {
                return Error{{}, from.name().display(), from.status().reason, from.status().error};
            }
            return static_cast<std::size_t>(got);
        };
        const Result<InputRead> outcome = importer.add(read, from.sizeHint());
        if (!outcome) {
            Error error = outcome.error();
            error.path = from.name().display();
            return error;
        }
        ++added;
        ++result.sourcesRead;
        lastRejected = outcome->rejected;
        if (!from.status().complete() && from.status().ended()) {
            if (result.single && from.status().state != SourceState::Damaged) {
                // As ImportLogFile: a file that failed part-way keeps nothing.
                return SingleInputError(from.name(), from.status().error);
            }
            result.skipped.push_back(SkippedOf(from));
        }
        if (outcome->rejected && !result.single) {
            SkippedInput skipped;
            skipped.name = from.name();
            skipped.kind = SkipKind::Rejected;
            skipped.bytesKept = outcome->bytes;
            result.skipped.push_back(std::move(skipped));
        }
    }
    if (added == 1 && lastRejected && !result.single) {
        // Among several inputs a rejected one is skipped, and the importer
        // takes its rejection back once another input follows; an empty one
        // does so without adding anything, when the rejected input was the
        // only one that could be read.
        const Result<InputRead> empty =
            importer.add([](char*, std::size_t) -> Result<std::size_t> { return 0; }, 0);
        if (!empty) {
            return empty.error();
        }
    }
    Result<LogImport> finished = importer.finish();
    if (!finished) {
        Error error = finished.error();
        if (error.path.empty() && !result.files.empty()) {
            error.path = result.files.back();
        }
        return error;
    }
    result.log = std::move(finished).value();
    if (options.progress) {
        options.progress(inputs.totalBytes(), inputs.totalBytes());
    }
    return result;
}

Result<InputsImport> ImportLogInputs(const std::vector<std::string>& arguments,
                                     const HeaderLayout& previousHeader,
                                     const ImportOptions& options,
                                     const LogInputsOptions& inputOptions) {
    LogInputs inputs(arguments, inputOptions);
    return ImportLogInputs(inputs, previousHeader, options);
}

} // namespace logdesk
