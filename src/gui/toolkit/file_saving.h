// Writing a file from a window: the bytes go out on a BackgroundTask's
// worker, and the user is told how it ended.
#pragma once

#include "core/base/cancel_token.h"
#include "core/base/result.h"
#include "core/export/line_sink.h"
#include "core/logimport/imported_log.h"

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace logdesk {

class TaskControl;

// The kinds of file the windows write, each with its own messages.
enum class SavedFile {
    Table,        // a record table or a statistics list
    UrlList,      // the status page's URL list
    ChartPicture, // the crawler share chart
};

// How a write ended: cancelled (nothing changed), or written, or the reason
// it failed.
struct WriteOutcome {
    bool cancelled = false;
    Result<void> result;

    bool written() const { return !cancelled && result.ok(); }
};

// On the worker: opens `path` (file system bytes) as a FileSink, lets
// `write(sink, cancelToken)` fill it and puts the file in place. A cancelled
// write is abandoned instead: the target keeps its old bytes (or stays
// absent) and no temporary file is left.
WriteOutcome
WriteFileUnlessCancelled(const std::string& path, const TaskControl& control,
                         const std::function<Result<void>(LineSink&, const CancelToken&)>& write);

// Tells the user how writing `path` (as a dialog gives it) ended: the kind's
// "saved" message, or its "cannot save" message with the path and `reason`.
void TellSaveOutcome(QWidget* parent, SavedFile file, const QString& path, bool written,
                     const QString& reason);
// The same for a write that succeeded or failed with an Error (whose path is
// the one written).
void TellSaveOutcome(QWidget* parent, SavedFile file, const QString& path,
                     const Result<void>& written);

// True when `path` names the imported log, the file at `importedPath` (file
// system bytes; empty: none), also through a link. The user is then told,
// with the kind's "cannot save" message, and the caller writes nothing.
bool RefuseImportedLog(QWidget* parent, SavedFile file, const QString& path,
                       const std::string& importedPath);
// The same for every file of an import (its path and its files).
bool RefuseImportedLog(QWidget* parent, SavedFile file, const QString& path,
                       const ImportedLog& imported);

} // namespace logdesk
