// What the user asked to import, as an ordered list of files and then, one
// at a time, the log sources they hold.
//
// Arguments are paths of files or folders, and "-" for standard input.
// - A folder stands for the files directly in it (no subfolders) whose names
//   end, without case, in ".log" or in one of the compressed or archive
//   extensions below. Other entries, and entries that are not regular files,
//   are left out.
// - A file given by name is read whatever its name; its extension says how:
//   .gz (gzip_source.h); .zip, .tar, .tar.gz/.tgz, .tar.bz2/.tbz2/.tbz,
//   .tar.xz/.txz, .tar.zst/.tzst (archives: their .log members,
//   archive_source.h); .bz2, .xz, .zst (one compressed stream); anything
//   else is plain text.
// - Every file found, from arguments and folders alike, goes into one list
//   in name order (name_order.h); the order of the arguments does not
//   matter. Standard input comes first, before every file, wherever "-"
//   stands. A file reached twice (named and in a folder, through a link, or
//   "-" given twice) is read once, at its first place in that order.
// - An archive takes its place by its own name; its members follow each
//   other there in their own name order.
// - An argument that cannot be used (missing, not readable, a folder that
//   cannot be listed, a folder entry that cannot be examined) is reported in
//   problems() with the system's reason; everything else still goes on.
// - A device other than a terminal (/dev/zero, a disk), named or as standard
//   input, is such an argument too ("a device, not a log file"): it would be
//   read without end, or gives no text. A FIFO is read, and opened only
//   once, when next() reaches it, so that a writer already waiting on it
//   is not cut off.
//
// Typical use by an importer that runs the sources one after another:
//
//     LogInputs inputs(arguments);
//     for (const InputProblem& p : inputs.problems()) { tell the user }
//     while (std::unique_ptr<LogSource> source = inputs.next()) {
//         read *source to its end (see log_source.h), showing
//         inputs.overallProgress(*source); then, unless
//         source->status().complete(), tell the user
//         source->describeFailure() (for Damaged: keeping the bytes read
//         only while saying so)
//     }
//
// Files are opened only when next() reaches them, one at a time (an archive
// stays open while its members are read), so a month of logs does not hold
// thirty files open; with LogInputsOptions::readAhead, next() returning a
// .gz file also opens the .gz file after it, so that the two inflate at once
// on threads of their own. A file that cannot be opened then, an archive that holds
// no .log member and an archive whose listing stopped at damage each come
// out of next() as a source that has already failed, in their place.
#pragma once

#include "core/input/archive_source.h"
#include "core/input/gzip_source.h"
#include "core/input/log_source.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

enum class InputKind {
    StandardInput,
    Plain,
    Gzip,
    Compressed, // .bz2, .xz, .zst
    Archive,
};

// How a file of this name is read (see the top of this file).
InputKind KindOfName(std::string_view name);
// True when a folder entry of this name is read: ".log" and the compressed
// and archive extensions.
bool IsFolderLogName(std::string_view name);

struct InputFile {
    std::string path; // as given, or the folder as given + "/" + the entry's name
    InputKind kind = InputKind::Plain;
    std::uint64_t size = 0; // when listed; 0 when not a regular file (a pipe)
};

struct InputProblem {
    // The input as named in `path`, the errno in `code`, the system's words
    // in `cause`; `what` is empty.
    Error error;
};

struct LogInputsOptions {
    GzipOptions gzip;
    // The descriptor "-" reads; it is left open.
    int standardInput = 0;
    // Decode compressed files and archive members on a thread of their own
    // (read_ahead.h), those of a few MB of text or more, and the next .gz
    // file already while one is read. Plain files and standard input are
    // read directly.
    bool readAhead = false;
};

class LogInputs {
public:
    explicit LogInputs(const std::vector<std::string>& arguments,
                       const LogInputsOptions& options = {});
    ~LogInputs();
    LogInputs(const LogInputs&) = delete;
    LogInputs& operator=(const LogInputs&) = delete;

    // In the order they are read.
    const std::vector<InputFile>& files() const { return files_; }
    // In the order of the arguments.
    const std::vector<InputProblem>& problems() const { return problems_; }
    // The listed sizes of files(), added up.
    std::uint64_t totalBytes() const { return totalBytes_; }

    // The next source, opened; nullptr after the last. Never throws. The
    // caller may drop a source before its end. For an archive, a source
    // returned earlier stops working once the next one is returned (see
    // LogArchive).
    std::unique_ptr<LogSource> next();
    // Starts again at the first file, for a second pass over the same list;
    // the sources returned before must be gone. Standard input gives only
    // what is left of it.
    void restart();

    // Progress over all files for `current`, the source next() returned last:
    // the listed sizes of the files before its file, plus how far it has come
    // through its own (at most that file's listed size), out of totalBytes().
    // Never less than an earlier answer.
    SourceProgress overallProgress(const LogSource& current) const;

private:
    // openNext(), with running out of memory as a failed source.
    std::unique_ptr<LogSource> openGuarded();
    std::unique_ptr<LogSource> openNext();
    // Reads ahead on a thread of its own where asked and worth it: about
    // textSize bytes of text are expected.
    std::unique_ptr<LogSource> wrap(std::unique_ptr<LogSource> source,
                                    std::uint64_t textSize) const;

    LogInputsOptions options_;
    std::vector<InputFile> files_;
    std::vector<std::uint64_t> bytesBefore_; // per file
    std::vector<InputProblem> problems_;
    std::uint64_t totalBytes_ = 0;
    std::size_t nextFile_ = 0;
    std::unique_ptr<LogArchive> archive_;
    std::size_t nextMember_ = 0;
    std::size_t currentFile_ = 0; // of the source next() returned last
    // The .gz file after the current one, decoding already.
    std::unique_ptr<LogSource> prefetched_;
    std::size_t prefetchedFile_ = 0;
    mutable std::uint64_t overallDone_ = 0;
};

} // namespace logdesk
