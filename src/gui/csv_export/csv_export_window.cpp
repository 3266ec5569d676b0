#include "csv_export_window.h"

#include "export/column_chooser.h"
#include "export/csv_format.h"
#include "export/line_sink.h"
#include "logimport/imported_log.h"
#include "settings/config_file.h"
#include "toolkit/controls.h"
#include "toolkit/qt_text.h"
#include "toolkit/ui_seam.h"
#include "toolkit/window_description.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QProgressBar>

namespace logdesk {

namespace {

// Counts written rows for the progress bar while passing lines on.
class CountingSink final : public LineSink {
public:
    CountingSink(LineSink& target, std::function<void(std::uint64_t)> onLine)
        : target_(target), onLine_(std::move(onLine)) {}
    bool write(std::string_view bytes) override {
        onLine_(++lines_);
        return target_.write(bytes);
    }
    Result<void> status() const override { return target_.status(); }

private:
    LineSink& target_;
    std::function<void(std::uint64_t)> onLine_;
    std::uint64_t lines_ = 0;
};

} // namespace

CsvExportWindow::CsvExportWindow(const ImportedLog& log, ConfigFile& config, QWidget* parent)
    : QWidget(parent), log_(log), config_(config) {
    setAttribute(Qt::WA_DeleteOnClose);
    const WindowDescription& description = CsvExportWindowDescription();
    BuildWindow(this, description);
    list_ = findChild<CheckList*>(QStringLiteral("选择列表框"));

    auto* bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("进度条导出"));
    bar->setGeometry(8, 338, 456, 4);
    bar->setTextVisible(false);
    bar->setRange(0, 1000);
    bar->hide();
    progress_ = bar;

    dialog_ = MakeFileDialog(description, "通用对话框3");

    auto button = [this](const char* name) { return findChild<Button*>(QString::fromUtf8(name)); };
    connect(button("按钮全选"), &QPushButton::clicked, this, [this] { setAllChecks(0); });
    connect(button("按钮不选"), &QPushButton::clicked, this, [this] { setAllChecks(1); });
    connect(button("按钮反选"), &QPushButton::clicked, this, [this] { setAllChecks(2); });
    connect(button("按钮上移"), &QPushButton::clicked, this, [this] { move(-1); });
    connect(button("按钮下移"), &QPushButton::clicked, this, [this] { move(1); });
    connect(button("按钮恢复默认字段设置"), &QPushButton::clicked, this, [this] { fill(true); });
    connect(button("按钮导出保存"), &QPushButton::clicked, this, &CsvExportWindow::chooseAndExport);
    fill(false);
}

CsvExportWindow::~CsvExportWindow() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

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
    for (const ExportColumn& entry : FillChooser(config_, defaults, captions)) {
        const int index = list_->addEntry(FromGbk(entry.caption), entry.column);
        list_->setChecked(index, entry.checked);
    }
}

void CsvExportWindow::setAllChecks(int mode) {
    for (int i = 0; i < list_->entryCount(); ++i) {
        list_->setChecked(i, mode == 0 || (mode == 2 && !list_->checked(i)));
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
    std::vector<ExportColumn> entries;
    for (int i = 0; i < list_->entryCount(); ++i) {
        entries.push_back({ToGbk(list_->entryText(i)), list_->checked(i), list_->entryData(i)});
    }
    if (const Result<void> saved = SaveChoice(config_, entries); !saved) {
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
    if (RefuseImportedLog(this, path, log_.path, QStringLiteral("无法保存文件：%1\r\n%2"))) {
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
    progress_->show();
    static_cast<QProgressBar*>(progress_)->setValue(0);
    QPointer<QProgressBar> bar = static_cast<QProgressBar*>(progress_);
    worker_ = std::thread([this, table, columns, nativePath, path, bar] {
        const std::uint64_t rows = std::max<std::uint64_t>(table.rowCount(), 1);
        const Result<void> written = ExportToFile(nativePath, [&](LineSink& file) {
            CountingSink counted(file, [&](std::uint64_t lines) {
                if (lines % 65536 == 0) {
                    PostProgress(bar, lines, rows);
                }
            });
            return WriteRecordTable(table, columns, HasCsvExtension(nativePath), counted);
        });
        const QString message = written
                                    ? QStringLiteral("保存完毕！") + QDir::toNativeSeparators(path)
                                    : ErrorText(QStringLiteral("无法保存文件："), written.error());
        QMetaObject::invokeMethod(
            this,
            [this, ok = written.ok(), message] {
                worker_.join();
                progress_->hide();
                Ui().showMessage(this, message);
                emit exportEnded(ok);
            },
            Qt::QueuedConnection);
    });
}

} // namespace logdesk
