#include "main_window.h"

#include "gui/charts/chart_window.h"
#include "gui/csv_export/csv_export_window.h"
#include "help_text.h"
#include "import_message.h"
#include "record_table_model.h"
#include "core/settings/window_settings.h"
#include "core/stats/record_sort.h"
#include "gui/stats/stats_window.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/ui_seam.h"
#include "gui/toolkit/window_description.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMimeData>
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

// What the import hands back.
struct MainWindow::Finished {
    Result<InputsImport> result;
    std::vector<RecordIndex> longest;
};

namespace {

// The local files and folders of a drag; empty when it carries none.
QStringList DroppedPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

} // namespace

MainWindow::MainWindow(ConfigFile& config, QWidget* parent) : QWidget(parent), config_(config) {
    const BuiltWindow built(this, MainWindowDescription());
    list_ = built.control<ReportList>("列表框");
    importButton_ = built.control<Button>("按钮选择日志文件");
    model_ = new RecordTableModel(this);
    list_->setModel(model_);
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setAcceptDrops(true);

    // Shows how far the file has been read; hidden while idle.
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("进度条导入"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->hide();
    import_.showProgressOn(progress_);

    logDialog_ = built.dialog("对话框日志");
    logDialog_->fileName = FromGbk(MainWindowSettings::read(config_).logPath);

    connect(importButton_, &QPushButton::clicked, this, &MainWindow::chooseAndImport);
    connect(list_, &ReportList::headerClicked, this, &MainWindow::sortByColumn);
    connect(built.control<Button>("按钮蜘蛛占比图表化"), &QPushButton::clicked, this, [this] {
        openOnce(chartWindow_, [this] { return new ChartWindow(imported_, config_, this); });
    });
    connect(built.control<Button>("按钮精细化统计分析"), &QPushButton::clicked, this, [this] {
        openOnce(statsWindow_, [this] { return new StatsWindow(imported_, config_, statsSession_, this); });
    });
    connect(built.control<Button>("按钮导出csv文件"), &QPushButton::clicked, this, [this] {
        openOnce(exportWindow_, [this] { return new CsvExportWindow(imported_, config_, this); });
    });

    auto showHelp = [this] { Ui().showMessage(this, HelpText()); };
    connect(built.control<PictureBox>("图片框操作"), &PictureBox::leftPressed, this, showHelp);
    connect(built.control<LinkLabel>("超级链接框操作"), &LinkLabel::leftPressed, this, showHelp);
    auto link = [this, &built](const char* picture, const char* label, const QUrl& url) {
        auto* box = built.control<PictureBox>(picture);
        if (label != nullptr) {
            built.control<LinkLabel>(label)->setTarget(url);
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
    import_.cancelAndWait();
    sort_.cancelAndWait();
    // Qt would delete the child windows only after every member of this
    // window is gone, the log they hold a reference to among them.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) {
            delete child;
        }
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (importing()) {
        import_.cancel();
        progress_->hide();
        importButton_->setCaption(QStringLiteral("导入日志文件"));
    }
    sort_.cancel();
    QWidget::closeEvent(event);
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
    const std::weak_ptr<const RecordData> sorted = table.data();
    sort_.start(
        [table, column](const TaskControl& control) {
            return SortRecordsByText(table, ColumnIndex{column}, control.cancelToken());
        },
        [this, sorted, selectedRecord](std::vector<RecordIndex> order) {
            // An import that finished meanwhile wins over the sort of the old table.
            if (sorted.lock() == imported_.table.data() &&
                order.size() == imported_.table.rowCount()) {
                list_->clearSelection();
                imported_.table.setRowOrder(order);
                model_->setRowOrder(std::move(order));
                if (selectedRecord) {
                    const std::vector<RecordIndex>& rows = imported_.table.rowOrder();
                    const auto at = std::find(rows.begin(), rows.end(), *selectedRecord);
                    const int row = static_cast<int>(at - rows.begin());
                    list_->setSelectedRow(row);
                    list_->makeRowVisible(row);
                }
            }
            emit sortEnded();
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
    rememberAndImport(logDialog_->fileNames);
}

void MainWindow::rememberAndImport(const QStringList& paths) {
    if (paths.isEmpty()) {
        return;
    }
    // The first path chosen, so that the dialog opens where the user was;
    // remembered before the files are opened, so also when the import fails.
    logDialog_->fileName = paths.first();
    if (const Result<void> saved = MainWindowSettings{ToGbk(paths.first())}.write(config_);
        !saved) {
        Ui().showMessage(this, ErrorText(QStringLiteral("无法保存设置："), saved.error()));
    }
    importFiles(paths);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!importing() && !DroppedPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!importing() && !DroppedPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = DroppedPaths(event->mimeData());
    if (importing() || paths.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    rememberAndImport(paths);
}

void MainWindow::importFile(const QString& path) {
    importFiles(QStringList{path});
}

void MainWindow::importFiles(const QStringList& paths) {
    if (importing() || paths.isEmpty()) {
        return;
    }
    importButton_->setCaption(QStringLiteral("正在导入.."));
    progress_->setValue(0);
    progress_->show();
    std::vector<std::string> arguments;
    for (const QString& path : paths) {
        arguments.push_back(QFile::encodeName(path).toStdString());
    }
    const HeaderLayout previous = imported_.header;
    // Read afresh for each import: the chart window changes it meanwhile.
    const Crawlers crawlers =
        ChartSettings::read(config_).todaysCrawlers ? Crawlers::All : Crawlers::Classic;
    const bool started = import_.start(
        [arguments, previous, crawlers](const TaskControl& control) {
            ImportOptions options;
            options.cancel = control.cancelToken();
            options.crawlers = crawlers;
            options.progress = [&control](std::uint64_t read, std::uint64_t total) {
                control.progress(read, total);
            };
            // A .gz file or an archive member is inflated on a core of its
            // own while this thread splits the text already inflated.
            LogInputsOptions inputOptions;
            inputOptions.readAhead = true;
            Finished finished{ImportLogInputs(arguments, previous, options, inputOptions), {}};
            if (finished.result && finished.result->log.table.data() && !control.cancelled()) {
                try {
                    finished.longest =
                        LongestCells(*finished.result->log.table.data(), control.cancelToken());
                } catch (const std::bad_alloc&) {
                    const std::vector<std::string>& files = finished.result->files;
                    finished.result =
                        SystemError(ENOMEM, {}, files.empty() ? arguments.front() : files.front());
                }
            }
            return finished;
        },
        [this](Finished finished) { finishImport(std::move(finished)); });
    if (!started) {
        progress_->hide();
        importButton_->setCaption(QStringLiteral("导入日志文件"));
    }
}

void MainWindow::finishImport(Finished finished) {
    progress_->hide();
    importButton_->setCaption(QStringLiteral("导入日志文件"));
    if (!finished.result) {
        // The previous table, tally and buttons stay as they were; a
        // cancelled import says nothing.
        const Error& error = finished.result.error();
        if (error.code == ENOMEM) {
            Ui().showMessage(this,
                             ErrorText(QStringLiteral("内存不足，无法导入日志文件："), error));
        } else if (error.code != ECANCELED) {
            Ui().showMessage(this, ErrorText(QStringLiteral("无法读取日志文件："), error));
        }
        emit importEnded();
        return;
    }
    InputsImport& all = *finished.result;
    if (!all.single && all.sourcesRead == 0) {
        // Nothing could be read: the previous table stays, as when one file
        // cannot be read.
        Ui().showMessage(this, all.skipped.empty() ? NoLogFileText()
                                                   : SkippedInputsText(all.skipped, true));
        emit importEnded();
        return;
    }
    LogImport& result = all.log;
    imported_.table = std::move(result.table);
    imported_.header = std::move(result.header);
    imported_.tally = std::move(result.tally);
    imported_.path = all.files.empty() ? std::string() : all.files.front();
    imported_.files = std::move(all.files);
    model_->setTable(imported_.table);
    fitColumns(finished.longest);
    if (auto* chart = qobject_cast<ChartWindow*>(chartWindow_.data())) {
        chart->showTally(); // an open chart shows the new log at once
    }
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
    // Nothing is left out without a word: one message names every input
    // that could not be read whole, and what of it is in the table.
    if (const QString skipped = SkippedInputsText(all.skipped, false); !skipped.isEmpty()) {
        Ui().showMessage(this, skipped);
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
