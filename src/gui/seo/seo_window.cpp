#include "seo_window.h"

#include "core/coverage/site_url_list.h"
#include "core/logimport/imported_log.h"
#include "core/stats/page_builds.h"
#include "gui/stats/stats_list_export.h"
#include "gui/stats/stats_table_model.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/ui_seam.h"
#include "gui/toolkit/window_description.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QProgressBar>
#include <QShowEvent>
#include <algorithm>
#include <utility>

namespace logdesk {

namespace {

// The depth drop-down's entry 二级目录 (after 一级目录).
constexpr int kSecondLevelEntry = 1;

// Room kept around the notice where the list would be.
constexpr int kNoticeMargin = 12;
// Between the page tabs' strip and the progress bar right of it.
constexpr int kTabsGap = 4;

const QString kStopCaption = QStringLiteral("停止统计");
const QString kRebuildCaption = QStringLiteral("重新统计");

// What the list of the coverage page waits for before it has a URL list.
const QString kNoUrlList =
    QStringLiteral("请点击“选择URL清单”，选择网站的URL清单：\n网站地图（sitemap.xml、"
                   "网站地图索引、.gz 压缩的网站地图），每行一个URL的列表，或CSV文件。");

// What a list that cannot be read is told with. The list's own words name
// the files, lines and hosts; a list of several sites (the failures
// ReadSiteUrls calls so) also gets the way out.
QString UrlListError(const Error& error) {
    QString text = ErrorText(QStringLiteral("无法读取URL清单："), error);
    if (error.what == kSeveralHosts || error.what == kHostNotListed) {
        text += QStringLiteral("\r\n请在设置文件的 [更多精细统计] 中以 站点主机= "
                               "指明日志所属网站的主机名。");
    }
    return text;
}

} // namespace

const std::vector<StatsPage>& SeoPages() {
    static const std::vector<StatsPage> pages = [] {
        std::vector<const StatsPageEntry*> shown;
        for (const StatsPageEntry& entry : StatsPages()) {
            if (entry.crawlAnalysisTab != kNoTab) {
                shown.push_back(&entry);
            }
        }
        std::sort(shown.begin(), shown.end(), [](const StatsPageEntry* a, const StatsPageEntry* b) {
            return a->crawlAnalysisTab < b->crawlAnalysisTab;
        });
        std::vector<StatsPage> inOrder;
        for (const StatsPageEntry* entry : shown) {
            inOrder.push_back(entry->page);
        }
        return inOrder;
    }();
    return pages;
}

int SeoTabOf(StatsPage page) {
    return StatsPageEntryOf(page).crawlAnalysisTab;
}

SeoWindow::SeoWindow(const ImportedLog& log, std::string siteHost, QWidget* parent)
    : QWidget(parent), log_(log), siteHost_(std::move(siteHost)) {
    setAttribute(Qt::WA_DeleteOnClose);
    const BuiltWindow built(this, SeoWindowDescription());
    tabs_ = built.control<TabStrip>("选择夹");
    filterTabs_ = built.control<TabStrip>("选择夹蜘蛛");
    depth_ = built.control<DropDown>("组合框目录层级");
    chooseListButton_ = built.control<Button>("按钮选择清单");
    stopButton_ = built.control<Button>("按钮停止统计");
    exportButton_ = built.control<Button>("按钮导出列表");
    progress_ = built.control<QProgressBar>("进度条统计");
    status_ = built.control<Label>("标签状态");
    notice_ = built.control<Label>("标签提示");
    list_ = built.control<ReportList>("列表框");
    model_ = new StatsTableModel(marks_, this);
    list_->setModel(model_);
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    exportDialog_ = built.dialog("对话框导出");
    listDialog_ = built.dialog("对话框URL清单");
    notice_->setWordWrap(true);
    notice_->setAlignment(Qt::AlignCenter);
    build_.showProgressOn(progress_);
    for (QWidget* control : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(stopButton_),
                             static_cast<QWidget*>(exportButton_)}) {
        rightAnchored_.emplace_back(control, width() - control->x());
    }

    connect(tabs_, &QTabBar::currentChanged, this, [this] { refresh(); });
    connect(filterTabs_, &QTabBar::currentChanged, this, [this](int tab) {
        if (tab < 0 || filterTabs_->signalsBlocked() ||
            static_cast<std::size_t>(tab) >= filterNames_.size()) {
            return;
        }
        crawler_ = filterNames_[static_cast<std::size_t>(tab)];
        build(currentPage());
    });
    connect(depth_, &QComboBox::currentIndexChanged, this, [this] {
        if (currentPage() == StatsPage::Sections) {
            build(StatsPage::Sections);
        }
    });
    connect(chooseListButton_, &QPushButton::clicked, this, &SeoWindow::chooseUrlList);
    connect(stopButton_, &QPushButton::clicked, this, &SeoWindow::stopOrRebuild);
    connect(exportButton_, &QPushButton::clicked, this, &SeoWindow::exportList);
    connect(tabs_, &TabStrip::rightClicked, this, &SeoWindow::exportList);
    connect(list_, &ReportList::headerRightClicked, this, &SeoWindow::exportList);
    connect(list_, &ReportList::rowRightClicked, this, &SeoWindow::copyRow);
    layoutControls();
}

SeoWindow::~SeoWindow() = default;

const StatsTable& SeoWindow::page() const {
    return model_->page();
}

StatsPage SeoWindow::currentPage() const {
    const int tab = tabs_->currentIndex();
    const std::vector<StatsPage>& pages = SeoPages();
    return tab >= 0 && tab < static_cast<int>(pages.size()) ? pages[static_cast<std::size_t>(tab)]
                                                            : pages.front();
}

void SeoWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!activated_) {
        activated_ = true;
        refresh();
    }
}

void SeoWindow::closeEvent(QCloseEvent* event) {
    build_.cancel();
    listRead_.cancel();
    export_.cancel();
    QWidget::closeEvent(event);
}

void SeoWindow::refresh() {
    rebuildFilterTabs();
    layoutControls();
    build(currentPage());
}

void SeoWindow::rebuildFilterTabs() {
    std::vector<std::optional<std::string>> names{std::nullopt};
    for (int entry = 1; entry <= log_.tally.length(); ++entry) {
        names.push_back(SpiderFilterOfTab(log_.tally, entry).displayName);
    }
    if (names == filterNames_) {
        return;
    }
    const QSignalBlocker quiet(filterTabs_);
    while (filterTabs_->count() > 0) {
        filterTabs_->removeTab(filterTabs_->count() - 1);
    }
    for (const std::string& caption : SpiderFilterCaptions(log_.tally)) {
        filterTabs_->addTab(FromGbk(caption));
    }
    filterNames_ = std::move(names);
    // The crawler chosen before, where this log has it; else every crawler.
    int chosen = 0;
    for (std::size_t tab = 0; tab < filterNames_.size(); ++tab) {
        if (filterNames_[tab] == crawler_) {
            chosen = static_cast<int>(tab);
        }
    }
    crawler_ = filterNames_[static_cast<std::size_t>(chosen)];
    filterTabs_->setCurrentIndex(chosen);
    filterTabs_->fitTabs();
}

void SeoWindow::build(StatsPage page) {
    stopped_ = false;
    if (page == StatsPage::Coverage && !siteUrls_) {
        // Nothing to set the crawlers' visits against yet. A build of
        // another page is dropped; the core stops it within a few thousand
        // records.
        build_.cancelAndWait();
        shownPage_ = page;
        model_->setPage({});
        showNotice(kNoUrlList);
        endBuild();
        emit pageShown();
        return;
    }
    PageRequest request{SpiderFilter{crawler_}};
    request.depth = depth_->currentEntry() == kSecondLevelEntry ? 2 : 1;
    // The build reads snapshots: the table handle shares the records, and
    // the URL list is shared with the window.
    const bool started = build_.start(
        [page, request, table = log_.table, fields = log_.header.fieldMap, tally = log_.tally,
         urls = siteUrls_](const TaskControl& control) mutable {
            request.siteUrls = urls.get();
            BuiltPage built{BuildStatsPage(page, table, fields, tally, request,
                                           control.cancelToken(), {}, 0,
                                           [&control](std::uint64_t done, std::uint64_t total) {
                                               control.progress(done, total);
                                           }),
                            {}};
            if (!control.cancelled()) {
                built.longest = LongestCells(built.page);
            }
            return built;
        },
        [this, page](BuiltPage built) { showPage(page, std::move(built)); },
        BackgroundTask::Overlap::Supersede);
    if (!started) {
        endBuild();
        return;
    }
    // The list shown stays, greyed, until the new page replaces it; the
    // notice of another page does not.
    showNotice({});
    list_->setEnabled(false);
    progress_->setValue(0);
    progress_->show();
    stopButton_->setCaption(kStopCaption);
    exportButton_->setEnabled(false);
    status_->setText(QStringLiteral("正在统计%1..")
                         .arg(QString::fromUtf8(StatsPageEntryOf(page).tabCaption.data())));
}

void SeoWindow::showPage(StatsPage page, BuiltPage built) {
    shownPage_ = page;
    const QString notice = FromGbk(built.page.notice);
    model_->setPage(std::move(built.page));
    QStringList cells;
    const StatsTable& shown = model_->page();
    for (std::size_t c = 0; c < built.longest.size(); ++c) {
        cells << (built.longest[c] >= 0
                      ? FromGbk(shown.rows[static_cast<std::size_t>(built.longest[c])][c])
                      : QString());
    }
    list_->fitColumns(cells);
    showNotice(notice);
    endBuild();
    emit pageShown();
}

void SeoWindow::showNotice(const QString& text) {
    notice_->setText(text);
    notice_->setVisible(!text.isEmpty());
    list_->setVisible(text.isEmpty());
}

void SeoWindow::endBuild() {
    if (building()) {
        return; // the other piece of work goes on; its end comes here again
    }
    list_->setEnabled(true);
    progress_->hide();
    stopButton_->setCaption(kRebuildCaption);
    exportButton_->setEnabled(list_->isVisibleTo(this) && !stopped_);
    showStatus();
}

void SeoWindow::showStatus() {
    QString text;
    if (stopped_) {
        text = QStringLiteral("统计已停止；点击“重新统计”再统计");
    } else if (list_->isVisibleTo(this)) {
        text = QStringLiteral("共 %1 行").arg(model_->rowCount());
    }
    if (shownPage_ == StatsPage::Coverage && siteUrls_) {
        const SiteUrlList& urls = *siteUrls_;
        QString source =
            urls.files.empty()
                ? QString()
                : QFileInfo(QFile::decodeName(QByteArray::fromStdString(urls.files.front())))
                      .fileName();
        if (urls.files.size() > 1) {
            source = QStringLiteral("%1 等 %2 个文件").arg(source).arg(urls.files.size());
        }
        QString list =
            QStringLiteral("URL清单：%1 的 %2 个URL（%3）")
                .arg(QString::fromUtf8(urls.host.data(), static_cast<qsizetype>(urls.host.size())))
                .arg(urls.urls.size())
                .arg(source);
        if (urls.otherHostUrls > 0) {
            list += QStringLiteral("，另有 %1 个其他主机的URL未计入").arg(urls.otherHostUrls);
        }
        if (urls.duplicateUrls > 0) {
            list += QStringLiteral("，%1 个重复的URL只计一次").arg(urls.duplicateUrls);
        }
        text = text.isEmpty() ? list : list + QStringLiteral("；") + text;
    }
    status_->setText(text);
    status_->setToolTip(text);
}

void SeoWindow::stopOrRebuild() {
    if (!building()) {
        refresh();
        return;
    }
    // The build stops within a few thousand records; the list's reader
    // takes no cancel, so it reads on and its result is dropped.
    build_.cancelAndWait();
    listRead_.cancel();
    reading_ = false;
    // The page of the controls was not built: nothing of it shows, and no
    // older page stands in for it.
    model_->setPage({});
    stopped_ = true;
    showNotice({});
    list_->setEnabled(true);
    progress_->hide();
    stopButton_->setCaption(kRebuildCaption);
    exportButton_->setEnabled(false);
    showStatus();
    emit buildStopped();
}

void SeoWindow::chooseUrlList() {
    // A list stopped while it was read is still being read to its end (the
    // reader takes no cancel): no second one meanwhile.
    if (listRead_.running() || !listDialog_->show(this)) {
        return;
    }
    std::vector<std::string> paths;
    for (const QString& path : listDialog_->fileNames) {
        paths.push_back(QFile::encodeName(path).toStdString());
    }
    SiteUrlOptions options;
    // The list's hosts are its URLs' bytes, UTF-8 as sitemaps are written.
    options.host = FromGbk(siteHost_).toUtf8().toStdString();
    const bool started = listRead_.start(
        [paths = std::move(paths), options](const TaskControl&) -> Result<SiteUrlList> {
            return ReadSiteUrls(paths, options);
        },
        [this](Result<SiteUrlList> read) {
            reading_ = false;
            if (!read) {
                Ui().showMessage(this, UrlListError(read.error()));
                endBuild();
                emit urlListRead(false);
                return;
            }
            siteUrls_ = std::make_shared<const SiteUrlList>(std::move(*read));
            emit urlListRead(true);
            if (currentPage() == StatsPage::Coverage) {
                build(StatsPage::Coverage);
            } else {
                endBuild();
            }
        });
    if (!started) {
        return;
    }
    reading_ = true;
    stopped_ = false;
    progress_->setValue(0);
    progress_->show();
    stopButton_->setCaption(kStopCaption);
    exportButton_->setEnabled(false);
    status_->setText(QStringLiteral("正在读取URL清单.."));
}

void SeoWindow::exportList() {
    if (building() || !list_->isVisibleTo(this) || stopped_) {
        return;
    }
    ExportStatsList(this, *exportDialog_, export_, model_->snapshot(), log_,
                    [this](bool written) { emit exportEnded(written); });
}

void SeoWindow::copyRow() {
    CopyStatsRow(model_->page(), list_->selectedRow());
}

void SeoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

void SeoWindow::layoutControls() {
    if (tabs_ == nullptr) {
        return;
    }
    const int w = width();
    const int h = height();
    // The bar and the buttons keep their distance from the right edge; the
    // page tabs take the room left of them.
    for (const auto& [control, fromRight] : rightAnchored_) {
        control->move(w - fromRight, control->y());
    }
    tabs_->resize(std::max(0, progress_->x() - kTabsGap), tabs_->height());
    const int top = status_->y() + status_->height();
    const int listHeight = h - top - filterTabs_->height();
    status_->resize(w - 2 * status_->x(), status_->height());
    list_->setGeometry(0, top, w, listHeight);
    notice_->setGeometry(kNoticeMargin, top + kNoticeMargin, w - 2 * kNoticeMargin,
                         listHeight - 2 * kNoticeMargin);
    filterTabs_->setGeometry(0, h - filterTabs_->height(), w, filterTabs_->height());
}

} // namespace logdesk
