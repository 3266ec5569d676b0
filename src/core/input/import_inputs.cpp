#include "core/input/import_inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
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
    skipped.bytesKept = status.deliveredBytes;
    skipped.compressedOffset = status.compressedOffset;
    skipped.unconfirmedFrom = status.unconfirmedFrom;
    return skipped;
}

// A failure of the one input named, as ImportLogFile gives it: the path,
// and the system's words for the code in the cause.
Error SingleInputError(const SourceName& name, int code) {
    return SystemError(code, {}, name.display());
}

} // namespace

std::string SkippedInput::describe() const {
    const std::string why = ForTerminal(error ? error->cause : std::string());
    std::string text = ForTerminal(name.display()) + ": ";
    switch (kind) {
    case SkipKind::Unreadable:
        return text + "cannot be read: " + why;
    case SkipKind::ReadFailed:
        return text + "reading failed after " + std::to_string(bytesKept) +
               " bytes, the text before it kept: " + why;
    case SkipKind::Damaged:
        text += "damaged after " + std::to_string(bytesKept + leftOutBytes) + " bytes";
        if (compressedOffset) {
            text += " (compressed offset " + std::to_string(*compressedOffset) + ")";
        }
        if (leftOutBytes > 0) {
            return text + ", the " + std::to_string(leftOutBytes) +
                   " bytes of text since its last sound checksum left out, the " +
                   std::to_string(bytesKept) + " bytes before them kept: " + why;
        }
        if (unconfirmedFrom && *unconfirmedFrom < bytesKept) {
            return text + ", the text before it kept, though no checksum confirmed its last " +
                   std::to_string(bytesKept - *unconfirmedFrom) +
                   " bytes (standard input cannot be read again to leave them out): " + why;
        }
        return text + ", the text before it kept: " + why;
    case SkipKind::Rejected:
        break;
    }
    return text + "这个文件不是标准的IIS日志文件！ (a #Fields: line without field names; "
                  "the lines before it kept, the rest of the file left out)";
}

namespace {

// Sources, by their place in reading order, whose damage made part of
// their text untrustworthy, as the pass that found it out saw them end.
using TextLimits = std::map<std::size_t, SkippedInput>;

// One pass over every source of `inputs` (not yet started, or restarted).
// Damaged sources whose text no check confirmed from some byte on are added
// to `distrusted`; with `limits`, their text is read only up to that byte.
Result<InputsImport> ImportPass(LogInputs& inputs, const HeaderLayout& previousHeader,
                                const ImportOptions& options, const TextLimits& limits,
                                TextLimits& distrusted) {
    InputsImport result;
    result.single = inputs.files().size() + inputs.problems().size() == 1 &&
                    (inputs.files().empty() || inputs.files()[0].kind != InputKind::Archive);
    for (const InputProblem& problem : inputs.problems()) {
        if (result.single) {
            return problem.error;
        }
        SkippedInput skipped;
        skipped.name = {problem.error.path, {}};
        skipped.error = problem.error;
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
    for (std::size_t index = 0;; ++index) {
        const std::unique_ptr<LogSource> source = inputs.next();
        if (source == nullptr) {
            break;
        }
        if (options.cancel.cancelled()) {
            return SystemError(ECANCELED, {}, source->name().display());
        }
        if (source->status().ended() && !source->status().complete()) {
            // Failed before its first byte: nothing to read.
            if (result.single && source->status().state != SourceState::Damaged) {
                return SingleInputError(source->name(), source->status().code());
            }
            result.skipped.push_back(SkippedOf(*source));
            continue;
        }
        LogSource& from = *source;
        const auto limit = limits.find(index);
        const std::uint64_t cap =
            limit != limits.end() ? *limit->second.unconfirmedFrom : UINT64_MAX;
        const auto read = [&](char* buffer, std::size_t size) -> Result<std::size_t> {
            size = static_cast<std::size_t>(std::min<std::uint64_t>(size, cap - from.delivered()));
            if (size == 0) {
                return 0; // the text no check confirmed is left out
            }
            const ssize_t got = from.read(buffer, size);
            if (options.progress) {
                const SourceProgress overall = inputs.overallProgress(from);
                options.progress(overall.done, overall.total);
            }
            if (got < 0) {
                Error error = from.status().error.value_or(Error{});
                error.path = from.name().display();
                return error;
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
        if (limit != limits.end()) {
            // Read as far as the checks vouch for; how it ended was seen in
            // the pass before.
            SkippedInput skipped = limit->second;
            skipped.leftOutBytes = skipped.bytesKept - cap;
            skipped.bytesKept = cap;
            result.skipped.push_back(std::move(skipped));
        } else if (!from.status().complete() && from.status().ended()) {
            if (result.single && from.status().state != SourceState::Damaged) {
                // As ImportLogFile: a file that failed part-way keeps nothing.
                return SingleInputError(from.name(), from.status().code());
            }
            const std::optional<std::uint64_t> sound = from.status().unconfirmedFrom;
            if (sound && *sound < from.status().deliveredBytes) {
                distrusted[index] = SkippedOf(from);
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
    return result;
}

bool ReadsStandardInput(const LogInputs& inputs) {
    return std::any_of(inputs.files().begin(), inputs.files().end(), [](const InputFile& file) {
        return file.kind == InputKind::StandardInput;
    });
}

} // namespace

Result<InputsImport> ImportLogInputs(LogInputs& inputs, const HeaderLayout& previousHeader,
                                     const ImportOptions& options) {
    TextLimits distrusted;
    Result<InputsImport> read = ImportPass(inputs, previousHeader, options, {}, distrusted);
    if (read && !distrusted.empty()) {
        if (!ReadsStandardInput(inputs)) {
            // (Standard input cannot be read again: there the damaged text
            // stays, and the message says how much of it no check confirmed.)
            // Corrupt compressed data decodes into wrong text until its
            // checksum fails at the end of the member, and the rows of that
            // text are already counted: read everything again, stopping each
            // damaged source where its sound text ends. Rare, and the only
            // way that leaves no trace of the wrong rows in the table, the
            // tally and every streamed page.
            TextLimits again;
            inputs.restart();
            read = ImportPass(inputs, previousHeader, options, distrusted, again);
        }
    }
    if (read && options.progress) {
        options.progress(inputs.totalBytes(), inputs.totalBytes());
    }
    return read;
}

Result<InputsImport> ImportLogInputs(const std::vector<std::string>& arguments,
                                     const HeaderLayout& previousHeader,
                                     const ImportOptions& options,
                                     const LogInputsOptions& inputOptions) {
    LogInputs inputs(arguments, inputOptions);
    return ImportLogInputs(inputs, previousHeader, options);
}

} // namespace logdesk
