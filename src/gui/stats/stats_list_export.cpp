#include "stats_list_export.h"

#include "core/export/csv_format.h"
#include "core/logimport/imported_log.h"
#include "gui/toolkit/background_task.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/ui_seam.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <string>
#include <utility>

namespace logdesk {

void CopyStatsRow(const StatsTable& page, int row) {
    QStringList cells;
    if (row >= 0 && static_cast<std::size_t>(row) < page.rows.size()) {
        for (const std::string& cell : page.rows[static_cast<std::size_t>(row)]) {
            cells << FromGbk(cell);
        }
    }
    Ui().setClipboardText(cells.join(QLatin1Char(',')));
    Ui().beep();
}

void SaveListFile(QWidget* parent, BackgroundTask& task, const QString& path, SavedFile file,
                  const ImportedLog& log, ListWrite write, std::function<void(bool)> ended) {
    if (RefuseImportedLog(parent, file, path, log)) {
        ended(false);
        return;
    }
    const bool started = task.start(
        [nativePath = QFile::encodeName(path).toStdString(),
         write = std::move(write)](const TaskControl& control) {
            return WriteFileUnlessCancelled(nativePath, control, write);
        },
        [parent, path, file, ended](const WriteOutcome& outcome) {
            if (!outcome.cancelled) {
                TellSaveOutcome(parent, file, path, outcome.result);
            }
            ended(outcome.written());
        });
    if (!started) {
        TellSaveOutcome(parent, file, path,
                        Result<void>(SystemError(EAGAIN, "cannot start",
                                                 QFile::encodeName(path).toStdString())));
        ended(false);
    }
}

void ExportStatsList(QWidget* parent, FileDialog& dialog, BackgroundTask& task,
                     std::shared_ptr<const StatsTable> page, const ImportedLog& log,
                     std::function<void(bool)> ended) {
    if (task.running()) {
        return;
    }
    dialog.initialFilter = static_cast<int>(ListExportFilter::Csv);
    if (!dialog.show(parent)) {
        return;
    }
    const QString path = dialog.fileName;
    const bool csv = EndsWithCsv(QFile::encodeName(path).toStdString());
    SaveListFile(
        parent, task, path, SavedFile::Table, log,
        [page = std::move(page), csv](LineSink& sink, const CancelToken& cancel) {
            return WriteTextTable(page->headers, page->rows, csv, sink, cancel);
        },
        std::move(ended));
}

} // namespace logdesk
