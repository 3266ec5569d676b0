// What a statistics list offers besides showing its page: one row copied as
// text and the whole list written to a file. The statistics window and the
// crawl-analysis window both take their lists out through these, so a list
// reads the same from either. GUI thread.
#pragma once

#include "core/base/cancel_token.h"
#include "core/base/result.h"
#include "core/export/line_sink.h"
#include "core/stats/stats_table.h"
#include "gui/toolkit/file_saving.h"
#include "gui/toolkit/window_description.h"

#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace logdesk {

class BackgroundTask;
struct FileDialog;
struct ImportedLog;

// The save dialog of a statistics list, as a window's layout lists it.
inline constexpr DialogDescription kListExportDialog{
    .name = "对话框导出",
    .save = true,
    .title = "导出列表数据",
    .filter = "CSV逗号分隔文件(*.csv)|*.csv|文本文件(*.txt)|*.txt|全部文件(*.*)|*.*",
    .initialFilter = 0,
    .defaultExtension = "csv"};

// The filters of that dialog, in its order.
enum class ListExportFilter {
    Csv = 0,
    Text = 1,
};

// What a list export writes into its sink; the sink is the file's.
using ListWrite = std::function<Result<void>(LineSink&, const CancelToken&)>;

// Row `row` of the page, its cells joined by "," as they are (empty text
// for a row the page has not, -1 among them), onto the clipboard; then a
// beep.
void CopyStatsRow(const StatsTable& page, int row);

// Writes `path` (as a dialog gave it) with `write` on `task`'s worker, then
// tells the user how it ended (nothing when the task was cancelled) and
// calls `ended(written)`. A path naming a file of `log` is refused first,
// with the kind's message; so is the write when `task` cannot start. `task`
// belongs to `parent`, which must outlive `log`'s use here.
void SaveListFile(QWidget* parent, BackgroundTask& task, const QString& path, SavedFile file,
                  const ImportedLog& log, ListWrite write, std::function<void(bool)> ended);

// The list export: asks `dialog` (kListExportDialog, its CSV filter first)
// for a file and writes `page` there as SaveListFile does: a name ending in
// ".csv" (any case) gets the header line and quoted cells, any other the
// cells as they are, all GBK as the page holds them. Nothing when `task`
// runs already or the dialog was cancelled.
void ExportStatsList(QWidget* parent, FileDialog& dialog, BackgroundTask& task,
                     std::shared_ptr<const StatsTable> page, const ImportedLog& log,
                     std::function<void(bool)> ended);

} // namespace logdesk
