#include "csv_export_window.h"

#include "core/export/column_chooser.h"
#include "core/export/csv_format.h"
#include "core/export/export_column_settings.h"
#include "core/export/line_sink.h"
#include "core/logimport/imported_log.h"
#include "core/settings/config_file.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/file_saving.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/window_description.h"

#include <QCloseEvent>
#include <QFile>
#include <QProgressBar>
#include <cerrno>
#include <cstring>

namespace logdesk {

namespace {

// Reports the written lines of `total` as the task's progress while passing
// them on.
class CountingSink final : public LineSink {
public:
    CountingSink(LineSink& target, const TaskControl& control, std::uint64_t total)
        : target_(target), control_(control), total_(total) {}
    bool write(std::string_view bytes) override {
        if (++lines_ % 4096 == 0) {
            control_.progress(lines_, total_);
        }
        return target_.write(bytes);
    }
    Result<void> status() const override { return target_.status(); }

private:
    LineSink& target_;
    const TaskControl& control_;
    std::uint64_t total_;
    std::uint64_t lines_ = 0;
};

} // namespace

CsvExportWindow::CsvExportWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent)
    : QWidget(parent), log_(log), config_(config) {
    setAttribute(Qt::WA_DeleteOnClose);
    const BuiltWindow built(this, CsvExportWindowDescription());
    list_ = built.control<CheckList>("选择列表框");

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("进度条导出"));
    progress_->setGeometry(8, 338, 456, 4);
    progress_->setTextVisible(false);
    progress_->setRange(0, 1000);
    progress_->hide();
    export_.showProgressOn(progress_);

    dialog_ = built.dialog("通用对话框3");

    auto clicked = [this, &built](const char* button, auto action) {
        connect(built.control<Button>(button), &QPushButton::clicked, this, action);
    };
    clicked("按钮全选", [this] { setAllChecks(Ticks::All); });
    clicked("按钮不选", [this] { setAllChecks(Ticks::None); });
    clicked("按钮反选", [this] { setAllChecks(Ticks::Invert); });
    clicked("按钮上移", [this] { move(-1); });
    clicked("按钮下移", [this] { move(1); });
    clicked("按钮恢复默认字段设置", [this] { fill(true); });
    clicked("按钮导出保存", [this] { chooseAndExport(); });
    fill(false);
}

CsvExportWindow::~CsvExportWindow() = default;

void CsvExportWindow::fill(bool defaults) {
    list_->clear();
    // The field columns of the table; a log whose headers changed has the
    // fields of earlier headers after those of the last one.
    std::vector<std::string> captions;
    for (int c = 1; c < log_.table.columnCount(); ++c) {
        captions.emplace_back(log_.table.columnTitle(ColumnIndex{c}));
    }
    if (log_.table.columnCount() == 0) {
        captions = log_.header.fieldHeaders;
    }
    for (const ExportColumn& entry :
         FillChooser(ExportColumnSettings::read(config_, defaults, captions))) {
        const int index = list_->addEntry(FromGbk(entry.caption), entry.column);
        list_->setChecked(index, entry.checked);
    }
}

void CsvExportWindow::setAllChecks(Ticks ticks) {
    for (int i = 0; i < list_->entryCount(); ++i) {
        list_->setChecked(i, ticks == Ticks::All || (ticks == Ticks::Invert && !list_->checked(i)));
    }
}

void CsvExportWindow::move(int by) {
    const int s = list_->currentEntry();
    const int t = s + by;
    if (s < 0 || t < 0 || t >= list_->entryCount()) {
        return;
    }
    const QString caption = list_->entryText(s);
    const int column = list_->entryData(s);
    const bool checked = list_->checked(s);
    list_->setEntryText(s, list_->entryText(t));
    list_->setEntryData(s, list_->entryData(t));
    list_->setChecked(s, list_->checked(t));
    list_->setEntryText(t, caption);
    list_->setEntryData(t, column);
    list_->setChecked(t, checked);
    list_->setCurrentEntry(t);
    list_->setFocus();
}

void CsvExportWindow::closeEvent(QCloseEvent* event) {
    export_.cancel();
    ExportColumnSettings choice;
    for (int i = 0; i < list_->entryCount(); ++i) {
        choice.marks.push_back({ToGbk(list_->entryText(i)), list_->checked(i)});
    }
    if (const Result<void> saved = choice.write(config_); !saved) {
        Ui().showMessage(this, ErrorText(QStringLiteral("无法保存设置："), saved.error()));
    }
    QWidget::closeEvent(event);
}

void CsvExportWindow::chooseAndExport() {
    if (exporting() || !dialog_->show(this)) {
        return;
    }
    exportTo(dialog_->fileName);
}

void CsvExportWindow::exportTo(const QString& path) {
    if (exporting()) {
        return;
    }
    if (RefuseImportedLog(this, SavedFile::Table, path, log_)) {
        emit exportEnded(false);
        return;
    }
    // What the user confirmed: the table as it is now and the ticked columns.
    // An import finishing meanwhile changes nothing in this file.
    const RecordTable table = log_.table;
    std::vector<ColumnIndex> columns;
    for (int i = 0; i < list_->entryCount(); ++i) {
        if (list_->checked(i)) {
            columns.push_back(ColumnIndex{list_->entryData(i)});
        }
    }
    const std::string nativePath = QFile::encodeName(path).toStdString();
    progress_->setValue(0);
    progress_->show();
    const bool started = export_.start(
        [table, columns, nativePath](const TaskControl& control) {
            const bool header = HasCsvExtension(nativePath);
            return WriteFileUnlessCancelled(
                nativePath, control, [&](LineSink& file, const CancelToken& cancel) {
                    CountingSink counted(file, control, table.rowCount());
                    return WriteRecordTable(table, columns, header, counted, cancel);
                });
        },
        [this, path](const WriteOutcome& outcome) {
            progress_->hide();
            if (!outcome.cancelled) {
                TellSaveOutcome(this, SavedFile::Table, path, outcome.result);
            }
            emit exportEnded(outcome.written());
        });
    if (!started) {
        progress_->hide();
        TellSaveOutcome(this, SavedFile::Table, path,
                        Result<void>(SystemError(EAGAIN, "cannot start",
                                                 QFile::encodeName(path).toStdString())));
        emit exportEnded(false);
    }
}

} // namespace logdesk
