#include "main_window.h"

#include "charts/chart_window.h"
#include "csv_export/csv_export_window.h"
#include "help_text.h"
#include "record_table_model.h"
#include "settings/settings_keys.h"
#include "stats/list_sort.h"
#include "stats/stats_window.h"
#include "text/gbk_codec.h"
#include "toolkit/controls.h"
#include "toolkit/qt_text.h"
#include "toolkit/ui_seam.h"
#include "toolkit/window_description.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QProgressBar>
#include <QResizeEvent>
#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>

namespace logdesk {

QUrl HomePageUrl() {
    return QUrl(QStringLiteral("https://logdesk.example.org/"));
}
QUrl ChatContactUrl() {
    return QUrl(QStringLiteral("https://logdesk.example.org/contact"));
}
QUrl SoftwarePageUrl() {
    return QUrl(QStringLiteral("https://logdesk.example.org/software"));
}

QUrl ReleasePageUrl() {
    // The release notes ship with the program: beside the executable in a
    // build tree, under share/logdesk when installed.
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {dir.filePath(QStringLiteral("release.html")),
          dir.filePath(QStringLiteral("../share/logdesk/release.html"))}) {
        if (QFileInfo::exists(candidate)) {
            return QUrl::fromLocalFile(QFileInfo(candidate).canonicalFilePath());
        }
    }
    return QUrl(QStringLiteral("https://logdesk.example.org/release"));
}

// What the import thread hands back.
struct MainWindow::Finished {
    Result<LogImport> result;
    std::vector<RecordIndex> longest;
    QString path;
};

MainWindow::MainWindow(ConfigFile& config, QWidget* parent) : QWidget(parent), config_(config) {
    const WindowDescription& description = MainWindowDescription();
    BuildWindow(this, description);
    list_ = findChild<ReportList*>(QStringLiteral("列表框"));
    importButton_ = findChild<Button*>(QStringLiteral("按钮选择日志文件"));
    model_ = new RecordTableModel(this);
    list_->setModel(model_);
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    // Shows how far the file has been read; hidden while idle.
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("进度条导入"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->hide();

    logDialog_ = MakeFileDialog(description, "对话框日志");
    logDialog_->fileName =
        FromGbk(config_.read(settings::kLogPath, Gbk(settings::kLogPathDefault)));

    connect(importButton_, &QPushButton::clicked, this, &MainWindow::chooseAndImport);
    connect(list_, &ReportList::headerClicked, this, &MainWindow::sortByColumn);
    connect(findChild<Button*>(QStringLiteral("按钮蜘蛛占比图表化")), &QPushButton::clicked, this,
            [this] {
                openOnce(chartWindow_,
                         [this] { return new ChartWindow(imported_, config_, this); });
            });
    connect(findChild<Button*>(QStringLiteral("按钮精细化统计分析")), &QPushButton::clicked, this,
            [this] {
                openOnce(statsWindow_, [this] {
                    return new StatsWindow(imported_, config_, lookupCookies_, this);
                });
            });
    connect(findChild<Button*>(QStringLiteral("按钮导出csv文件")), &QPushButton::clicked, this,
            [this] {
                openOnce(exportWindow_,
                         [this] { return new CsvExportWindow(imported_, config_, this); });
            });

    auto showHelp = [this] { Ui().showMessage(this, HelpText()); };
    connect(findChild<PictureBox*>(QStringLiteral("图片框操作")), &PictureBox::leftPressed, this,
            showHelp);
    connect(findChild<LinkLabel*>(QStringLiteral("超级链接框操作")), &LinkLabel::leftPressed, this,
            showHelp);
    auto link = [this](const char* picture, const char* label, const QUrl& url) {
        auto* box = findChild<PictureBox*>(QString::fromUtf8(picture));
        if (label != nullptr) {
            findChild<LinkLabel*>(QString::fromUtf8(label))->setTarget(url);
        }
        connect(box, &PictureBox::leftPressed, this, [url] { Ui().openUrl(url); });
    };
    link("图片框官网", nullptr, HomePageUrl());
    link("图片框QQ", "超级链接框QQ", ChatContactUrl());
    link("图片框软件", "超级链接框软件", SoftwarePageUrl());
    link("图片框更新", "超级链接框更新", ReleasePageUrl());
    layoutControls();
}

MainWindow::~MainWindow() {
    cancel_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
    if (sorter_.joinable()) {
        sorter_.join();
    }
}

void MainWindow::sortByColumn(int column) {
    if (sorting() || imported_.table.rowCount() == 0) {
        return;
    }
    const int selected = list_->selectedRow();
    const RecordTable table = imported_.table; // a snapshot: shares the cells
    const std::optional<RecordIndex> selectedRecord =
        selected >= 0 ? std::optional(table.record(RowIndex{static_cast<std::uint32_t>(selected)}))
                      : std::nullopt;
    sorter_ = std::thread([this, table, column, selectedRecord] {
        const std::vector<std::uint32_t> byRow = SortOrder(
            table.rowCount(),
            [&](std::uint32_t r) { return table.cell(RowIndex{r}, ColumnIndex{column}); },
            SortKind::Text);
        auto order = std::make_shared<std::vector<RecordIndex>>(byRow.size());
        for (std::size_t q = 0; q < byRow.size(); ++q) {
            (*order)[q] = table.record(RowIndex{byRow[q]});
        }
        QMetaObject::invokeMethod(
            this,
            [this, table, order, selectedRecord] {
                sorter_.join();
                // An import that finished meanwhile wins over the sort of the old table.
                if (imported_.table.data() == table.data()) {
                    list_->clearSelection();
                    imported_.table.setRowOrder(*order);
                    model_->setRowOrder(std::move(*order));
                    if (selectedRecord) {
                        const std::vector<RecordIndex>& rows = imported_.table.rowOrder();
                        const auto at = std::find(rows.begin(), rows.end(), *selectedRecord);
                        const int row = static_cast<int>(at - rows.begin());
                        list_->setSelectedRow(row);
                        list_->makeRowVisible(row);
                    }
                }
                emit sortEnded();
            },
            Qt::QueuedConnection);
    });
}

template <typename Make> void MainWindow::openOnce(QPointer<QWidget>& slot, Make make) {
    if (slot) {
        slot->showNormal();
        slot->raise();
        slot->activateWindow();
        return;
    }
    slot = make();
    slot->show();
}

void MainWindow::chooseAndImport() {
    if (importing()) {
        return;
    }
    if (!logDialog_->show(this)) {
        return;
    }
    // Remembered before the file is opened, so also when the import fails.
    if (const Result<void> saved = config_.write(settings::kLogPath, ToGbk(logDialog_->fileName));
        !saved) {
        Ui().showMessage(this, ErrorText(QStringLiteral("无法保存设置："), saved.error()));
    }
    importFile(logDialog_->fileName);
}

void MainWindow::importFile(const QString& path) {
    if (importing()) {
        return;
    }
    importButton_->setCaption(QStringLiteral("正在导入.."));
    progress_->setValue(0);
    progress_->show();
    cancel_ = false;
    const std::string nativePath = QFile::encodeName(path).toStdString();
    const HeaderLayout previous = imported_.header;
    QPointer<QProgressBar> bar = progress_;
    worker_ = std::thread([this, nativePath, previous, path, bar] {
        ImportOptions options;
        options.cancel = &cancel_;
        options.progress = [bar](std::uint64_t read, std::uint64_t total) {
            PostProgress(bar, read, total);
        };
        auto finished = std::make_shared<Finished>(
            Finished{ImportLogFile(nativePath, previous, options), {}, path});
        if (finished->result && finished->result->table.data()) {
            try {
                finished->longest = LongestCells(*finished->result->table.data());
            } catch (const std::bad_alloc&) {
                finished->result = SystemError(ENOMEM, {}, nativePath);
            }
        }
        QMetaObject::invokeMethod(
            this, [this, finished] { finishImport(finished); }, Qt::QueuedConnection);
    });
}

void MainWindow::finishImport(std::shared_ptr<Finished> finished) {
    worker_.join();
    progress_->hide();
    importButton_->setCaption(QStringLiteral("导入日志文件"));
    if (!finished->result) {
        // The previous table, tally and buttons stay as they were; a
        // cancelled import says nothing.
        const Error& error = finished->result.error();
        if (error.code == ENOMEM) {
            Ui().showMessage(this,
                             ErrorText(QStringLiteral("内存不足，无法导入日志文件："), error));
        } else if (error.code != ECANCELED) {
            Ui().showMessage(this, ErrorText(QStringLiteral("无法读取日志文件："), error));
        }
        emit importEnded();
        return;
    }
    LogImport& result = *finished->result;
    imported_.table = std::move(result.table);
    imported_.header = std::move(result.header);
    imported_.tally = std::move(result.tally);
    imported_.path = QFile::encodeName(finished->path).toStdString();
    model_->setTable(imported_.table);
    fitColumns(finished->longest);
    if (result.rejected) {
        Ui().showMessage(this, QStringLiteral("这个文件不是标准的IIS日志文件！"));
    } else {
        if (result.droppedFields > 0) {
            Ui().showMessage(
                this, QStringLiteral("日志的字段多于表格能列出的%1个，其余%2个字段没有列出。")
                          .arg(kMaxTableColumns - 1)
                          .arg(result.droppedFields));
        }
        for (const char* name : {"按钮导出csv文件", "按钮蜘蛛占比图表化", "按钮精细化统计分析"}) {
            findChild<Button*>(QString::fromUtf8(name))->setEnabled(true);
        }
    }
    emit importEnded();
}

void MainWindow::fitColumns(const std::vector<RecordIndex>& longest) {
    QStringList cells;
    const RecordTable& table = imported_.table;
    for (std::size_t c = 0; c < longest.size(); ++c) {
        cells << FromGbk(table.data()->cell(longest[c], ColumnIndex{static_cast<int>(c)}));
    }
    list_->fitColumns(cells);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

void MainWindow::layoutControls() {
    if (list_ == nullptr) {
        return;
    }
    const int w = width();
    const int h = height();
    const int left = list_->x();
    const int top = list_->y();
    list_->setGeometry(left, top, w - 2 * left, h - top - left);
    auto* logo = findChild<QWidget*>(QStringLiteral("图片框官网"));
    logo->resize(w - logo->x(), logo->height());
    auto* line = findChild<QWidget*>(QStringLiteral("标签10"));
    line->setGeometry(0, line->y(), w, line->height());
    progress_->setGeometry(left, top - 8, w - 2 * left, 6);
}

} // namespace logdesk
