// Importing what the user named (files, folders, archives, standard input)
// as one log: the sources of LogInputs, in their order, go through one
// LogImporter, so record numbers go on from file to file, each file's
// headers apply from where they stand and a file without a header is read
// with the layout in force at its start.
//
// An input that cannot be read, or is read only in part, does not stop the
// others: it is listed in InputsImport::skipped with the reason and with
// how much of it the table holds, so nothing is lost without a word.
// Corrupt compressed data gives wrong text before its checksum fails; the
// table keeps only what the checksums confirmed (see SkippedInput).
//
// One input named (one file, or a folder holding one file; not an archive,
// whose members are several inputs) is imported as ImportLogFile imports
// it: a file that cannot be opened or read fails the import with an Error
// naming it and keeps nothing, and a header without field names leaves
// LogImport::rejected set. Only damage (a truncated .gz, say) is listed as
// skipped there, since what came before it is kept.
#pragma once

#include "core/base/result.h"
#include "core/input/log_inputs.h"
#include "core/logimport/log_importer.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace logdesk {

enum class SkipKind {
    Unreadable, // missing, refused, not listable, an archive without .log: nothing of it read
    ReadFailed, // the system refused part-way: the text before is in the table
    Damaged,    // a broken .gz or archive member: the text before the damage is in the table
    Rejected,   // a header without field names: the lines before it are in the table
};

struct SkippedInput {
    SourceName name;
    SkipKind kind = SkipKind::Unreadable;
    // Why it ended: the errno in `code` (EBADMSG for damage), the system's or
    // the decoder's words in `cause`. None for a rejection.
    std::optional<Error> error;
    // Bytes of log text read from it before it ended; the table holds the
    // lines they make up. 0 for Unreadable.
    std::uint64_t bytesKept = 0;
    // Damaged .gz only: where in the compressed file decoding failed.
    std::optional<std::uint64_t> compressedOffset;
    // Damaged by corruption: the first byte of its text that may be wrong
    // (see SourceStatus). The import reads such inputs again, keeping only
    // the text before it: leftOutBytes is what it left out. Standard input
    // cannot be read again; among its inputs nothing is left out, and
    // describe() says so.
    std::optional<std::uint64_t> unconfirmedFrom;
    std::uint64_t leftOutBytes = 0;

    // One line for a terminal, without a line end: "NAME: damaged after N
    // bytes (compressed offset M), the text before it kept: REASON" and the
    // like. Words in UTF-8, the name as file system bytes.
    std::string describe() const;
};

struct InputsImport {
    LogImport log;
    // Arguments that could not be used first (in the order given), then the
    // sources in the order they were read.
    std::vector<SkippedInput> skipped;
    // Every file named for reading, standard input aside, read or not, in
    // reading order: exports must not write over any of them.
    std::vector<std::string> files;
    // Sources that were read, to their end or in part. 0 with nothing
    // skipped: the arguments named no log file at all.
    std::size_t sourcesRead = 0;
    // One input was named (see the top of this file).
    bool single = false;
};

// Reads every source of `inputs` (not yet started) into one table. `options`
// goes to the LogImporter as it is, with one exception: its progress
// callback is given the bytes of all files (compressed bytes for compressed
// files, LogInputs::overallProgress) instead of one input's. The Error of a
// failed import (memory, the table's limits, a cancel: ECANCELED; in the
// one-input case also the file's own failure) has its path set to the
// input being read and keeps nothing.
Result<InputsImport> ImportLogInputs(LogInputs& inputs, const HeaderLayout& previousHeader,
                                     const ImportOptions& options);

// The same for the arguments of LogInputs.
Result<InputsImport> ImportLogInputs(const std::vector<std::string>& arguments,
                                     const HeaderLayout& previousHeader,
                                     const ImportOptions& options,
                                     const LogInputsOptions& inputOptions = {});

} // namespace logdesk
