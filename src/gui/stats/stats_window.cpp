#include "stats_window.h"

#include "stats_list_export.h"
#include "stats_session.h"
#include "stats_table_model.h"

#include "core/export/csv_format.h"
#include "core/logimport/client_address.h"
#include "core/logimport/imported_log.h"
#include "core/net/http_fetch.h"
#include "core/net/ip_database.h"
#include "core/net/ip_location.h"
#include "core/net/page_text.h"
#include "core/settings/config_file.h"
#include "core/stats/page_builds.h"
#include "core/stats/stats_sort.h"
#include "core/text/gbk_codec.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/file_saving.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/ui_seam.h"
#include "gui/toolkit/window_description.h"
#include "gui/seo/seo_window.h"
#include "gui/verify/verify_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QShowEvent>
#include <cstring>
#include <utility>

namespace logdesk {

namespace {

// The IP page's columns the lookups read and write.
constexpr int kIpColumn = 0;
constexpr int kLocationColumn = 3;

// The run over all IPs waits this long after each lookup, so that two of
// its queries are never closer together.
constexpr int kWalkPauseMs = 1500;

// The filter tab that counts every record ("所有流量").
constexpr int kAllTrafficTab = 0;

// The entries of the drop-down on the crawler traffic tab, in its order.
enum class TrafficSpan {
    Hours = 0, // "按小时"
    Days = 1,  // "按日期"
};

// What a page build hands back.
struct BuiltPage {
    StatsTable page;
    std::vector<int> longest;
};

// What a lookup hands back: the location, and the cookies after the fetch.
struct Located {
    std::string location;
    CookieJar cookies;
};

// The run over all IPs with a local database: the rows it read, and for
// each its IP and location.
struct DatabaseRow {
    int row = -1; // where the IP was; a sort may move it meanwhile
    std::string ip;
    std::string location;
};

// How many of the run's rows a database worker reads between two looks at
// its cancel flag.
constexpr std::size_t kRowsBetweenCancelChecks = 4096;

} // namespace

StatsWindow::StatsWindow(const ImportedLog& log, ConfigFile& config, StatsSession& session,
                         QWidget* parent)
    : QWidget(parent), log_(log), config_(config), session_(session),
      settings_(StatsWindowSettings::read(config)), verify_(VerifySettings::read(config)),
      sortOrder_([](const StatsTable& page, int column, bool ascending,
                    const CancelToken& cancel) {
          return StatsSortOrder(page, column, ascending, cancel);
      }) {
    setAttribute(Qt::WA_DeleteOnClose);
    const BuiltWindow built(this, StatsWindowDescription());
    tabs_ = built.control<TabStrip>("选择夹");
    filterTabs_ = built.control<TabStrip>("选择夹蜘蛛");
    trafficSpan_ = built.control<DropDown>("组合框时间单位");
    list_ = built.control<ReportList>("列表框");
    urlList_ = built.control<ListBox>("列表框URL");
    prefix_ = built.control<EditBox>("编辑框http前缀");
    prefix1_ = built.control<EditBox>("编辑框http前缀1");
    locateAllButton_ = built.control<Button>("按钮查询全部ip");
    model_ = new StatsTableModel(session_.cellMarks, this);
    list_->setModel(model_);
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    exportDialog_ = built.dialog("对话框导出");

    prefix_->setText(FromGbk(settings_.urlPrefix));
    prefix1_->setText(FromGbk(settings_.statusUrlPrefix));

    walkPause_.setSingleShot(true);
    connect(&walkPause_, &QTimer::timeout, this, &StatsWindow::walkOn);

    connect(tabs_, &QTabBar::currentChanged, this, [this] { refresh(); });
    connect(trafficSpan_, &QComboBox::currentIndexChanged, this, [this] {
        // Only a tab that has a by-date page changes with the span.
        const int tab = tabs_->currentIndex();
        if (StatsPageOfTab(tab, true) != StatsPageOfTab(tab, false)) {
            refresh();
        }
    });
    connect(filterTabs_, &QTabBar::currentChanged, this, [this](int tab) {
        if (tab >= 0 && !filterTabs_->signalsBlocked()) {
            build(currentPage(), SpiderFilterOfTab(log_.tally, tab));
        }
    });
    connect(tabs_, &TabStrip::rightClicked, this, &StatsWindow::exportList);
    // The title promises the export on a right click of the 栏目头: the page
    // tabs, and the column titles under them, where a user looks for it too.
    connect(list_, &ReportList::headerRightClicked, this, &StatsWindow::exportList);
    connect(list_, &ReportList::headerClicked, this, &StatsWindow::headerClicked);
    connect(list_, &QAbstractItemView::doubleClicked, this, &StatsWindow::doubleClicked);
    connect(list_, &ReportList::rowRightClicked, this, &StatsWindow::copyRow);
    connect(urlList_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) {
            openUrl(prefix1_->text() + urlList_->entryText(row));
        }
    });
    connect(urlList_, &ListBox::rightPressed, this, &StatsWindow::exportUrlList);
    connect(built.control<Button>("按钮查询选中ip"), &QPushButton::clicked, this,
            &StatsWindow::locateSelectedIp);
    connect(locateAllButton_, &QPushButton::clicked, this, &StatsWindow::locateAllIps);
    connect(built.control<Button>("按钮百度该IP"), &QPushButton::clicked, this,
            &StatsWindow::openIpSearchPage);
    connect(built.control<Button>("按钮验证蜘蛛"), &QPushButton::clicked, this,
            &StatsWindow::openVerifyWindow);
    connect(built.control<Button>("按钮抓取分析"), &QPushButton::clicked, this,
            &StatsWindow::openSeoWindow);
}

StatsWindow::~StatsWindow() = default;

StatsPage StatsWindow::currentPage() const {
    const bool byDate = trafficSpan_->currentEntry() == static_cast<int>(TrafficSpan::Days);
    const StatsPageEntry* entry = StatsPageOfTab(tabs_->currentIndex(), byDate);
    return entry != nullptr ? entry->page : StatsPages().front().page;
}

std::string StatsWindow::ipQueryUrl(const std::string& ip) {
    return IpLocationQueryUrl(settings_.ipQueryHost, ip);
}

std::string StatsWindow::ipDatabasePath() const {
    return settings_.ipDatabase.empty()
               ? std::string()
               : QFile::encodeName(FromGbk(settings_.ipDatabase)).toStdString();
}

void StatsWindow::tellDatabaseError(const Error& error) {
    Ui().showMessage(this, ErrorText(QStringLiteral("无法读取IP数据库："), error));
}

int StatsWindow::rowOfIp(const std::string& ip, int likely) const {
    const auto& rows = model_->page().rows;
    if (likely >= 0 && static_cast<std::size_t>(likely) < rows.size() &&
        rows[static_cast<std::size_t>(likely)][kIpColumn] == ip) {
        return likely;
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (rows[r][kIpColumn] == ip) {
            return static_cast<int>(r);
        }
    }
    return -1;
}

bool StatsWindow::locateRow(int row, bool walk) {
    if (shownPage_ != StatsPage::Ip || row < 0 || row >= model_->rowCount() ||
        model_->columnCount() <= kLocationColumn) {
        return false;
    }
    const std::string ip = model_->page().rows[static_cast<std::size_t>(row)][kIpColumn];
    model_->setCell(row, kLocationColumn, Gbk("正在查询中.."));
    lookups_.push_back({ip, row, pageGeneration_, walk});
    startNextLookup();
    return true;
}

void StatsWindow::startNextLookup() {
    if (lookup_.running() || lookups_.empty()) {
        return;
    }
    const Lookup next = lookups_.front();
    lookups_.pop_front();
    if (next.page != pageGeneration_) {
        finishLookup(next, {}); // its page is gone: nothing to ask
        return;
    }
    if (!settings_.ipDatabase.empty()) {
        startDatabaseLookup(next);
        return;
    }
    FetchRequest request;
    request.url = ipQueryUrl(next.ip);
    // The worker fetches with a copy of the cookies, which replaces the
    // shared ones when the answer comes: one lookup runs at a time, so no
    // cookie a lookup stored is lost.
    const bool started = lookup_.start(
        [request, cookies = session_.lookupCookies](const TaskControl& control) mutable {
            FetchContext context;
            context.cancel = control.cancelToken();
            context.cookies = &cookies;
            Located located;
            // A failed fetch shows no location, as a page without one does.
            const Result<std::string> page = FetchPageText(request, kCharsetFromPage, context);
            located.location = IpLocationFromPage(page ? *page : std::string());
            located.cookies = std::move(cookies);
            return located;
        },
        [this, next](Located located) {
            session_.lookupCookies = std::move(located.cookies);
            finishLookup(next, located.location);
        });
    if (!started) {
        finishLookup(next, {}); // as a failed fetch
    }
}

void StatsWindow::startDatabaseLookup(const Lookup& next) {
    // The database is opened for each lookup: mapping it is cheap, and a
    // file replaced meanwhile is read afresh.
    const bool started = lookup_.start(
        [path = ipDatabasePath(), ip = next.ip](const TaskControl&) -> Result<std::string> {
            Result<IpDatabase> database = IpDatabase::open(path);
            if (!database) {
                return database.error();
            }
            return database->locate(ip);
        },
        [this, next](const Result<std::string>& located) {
            if (located) {
                finishLookup(next, *located);
                return;
            }
            // One message, however many lookups waited: none of them can
            // be answered either.
            const std::deque<Lookup> waiting = std::exchange(lookups_, {});
            tellDatabaseError(located.error());
            finishLookup(next, {});
            for (const Lookup& lookup : waiting) {
                finishLookup(lookup, {});
            }
        });
    if (!started) {
        finishLookup(next, {});
    }
}

void StatsWindow::locateAllFromDatabase() {
    std::vector<DatabaseRow> rows;
    const auto& cells = model_->page().rows;
    for (std::size_t r = 0; r < cells.size(); ++r) {
        // A row with a location (or another text) keeps it, as in the web run.
        if (cells[r][kLocationColumn].empty()) {
            rows.push_back({static_cast<int>(r), cells[r][kIpColumn], {}});
        }
    }
    locateAllButton_->setCaption(QStringLiteral("停止查询IP"));
    const auto ended = [this] {
        locateAllButton_->setCaption(QStringLiteral("查询全部IP"));
        emit lookupRunEnded();
    };
    const bool started = databaseWalk_.start(
        [path = ipDatabasePath(), rows = std::move(rows)](
            const TaskControl& control) mutable -> Result<std::vector<DatabaseRow>> {
            Result<IpDatabase> database = IpDatabase::open(path);
            if (!database) {
                return database.error();
            }
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (i % kRowsBetweenCancelChecks == 0 && control.cancelled()) {
                    break; // the result is dropped
                }
                rows[i].location = database->locate(rows[i].ip);
            }
            return std::move(rows);
        },
        [this, ended, page = pageGeneration_](const Result<std::vector<DatabaseRow>>& located) {
            if (!located) {
                tellDatabaseError(located.error());
            } else if (page == pageGeneration_) {
                // The same page, perhaps sorted meanwhile: each location
                // goes where its IP is now.
                for (const DatabaseRow& row : *located) {
                    if (!row.location.empty()) {
                        model_->setCell(rowOfIp(row.ip, row.row), kLocationColumn, row.location);
                        list_->widenColumnFor(kLocationColumn, FromGbk(row.location));
                    }
                }
            }
            ended();
        });
    if (!started) {
        ended();
    }
}

void StatsWindow::finishLookup(const Lookup& lookup, const std::string& location) {
    // A rebuilt page gets nothing; on the same page the status text moved
    // with its row through any sort, and the location goes where the IP is.
    if (lookup.page == pageGeneration_) {
        model_->setCell(rowOfIp(lookup.ip, lookup.row), kLocationColumn, location);
        list_->widenColumnFor(kLocationColumn, FromGbk(location));
    }
    emit lookupEnded();
    if (lookup.walk && walk_) {
        if (session_.lookupStop->cancelled() || !walkPageShown()) {
            endWalk();
        } else {
            walkPause_.start(kWalkPauseMs);
        }
    }
    startNextLookup();
}

void StatsWindow::locateSelectedIp() {
    const int row = list_->selectedRow();
    if (shownPage_ != StatsPage::Ip) {
        return;
    }
    if (row < 0) {
        Ui().showMessage(this, QStringLiteral("当前还没有选中IP！"));
        return;
    }
    locateRow(row, false);
}

void StatsWindow::locateAllIps() {
    if (databaseWalk_.running()) {
        // Its result is dropped: the run ends here.
        databaseWalk_.cancel();
        locateAllButton_->setCaption(QStringLiteral("查询全部IP"));
        emit lookupRunEnded();
        return;
    }
    if (locateAllButton_->caption() != QStringLiteral("查询全部IP")) {
        locateAllButton_->setCaption(QStringLiteral("停止查询中.."));
        session_.lookupStop->cancel();
        if (walkPause_.isActive()) {
            // The pause is cut short; the run ends from the event loop.
            walkPause_.stop();
            QTimer::singleShot(0, this, &StatsWindow::walkOn);
        }
        return;
    }
    if (shownPage_ != StatsPage::Ip) {
        return;
    }
    if (!settings_.ipDatabase.empty()) {
        locateAllFromDatabase();
        return;
    }
    locateAllButton_->setCaption(QStringLiteral("停止查询IP"));
    session_.lookupStop = std::make_unique<Cancellation>();
    walk_ = Walk{pageGeneration_, orderGeneration_, log_.table.data(), model_->rowCount(), 0};
    walkOn();
}

bool StatsWindow::walkPageShown() const {
    return walk_ && walk_->page == pageGeneration_ && walk_->order == orderGeneration_ &&
           walk_->records.lock() == log_.table.data() && !building() && !sorting();
}

void StatsWindow::walkOn() {
    if (!walk_) {
        return;
    }
    while (walk_->next < walk_->rows && !session_.lookupStop->cancelled() && walkPageShown()) {
        const int row = walk_->next++;
        if (!model_->page().rows[static_cast<std::size_t>(row)][kLocationColumn].empty()) {
            continue; // holds a location (or another text) already
        }
        if (locateRow(row, true)) {
            return; // goes on when its answer came
        }
        break;
    }
    endWalk();
}

void StatsWindow::endWalk() {
    walk_.reset();
    walkPause_.stop();
    locateAllButton_->setCaption(QStringLiteral("查询全部IP"));
    emit lookupRunEnded();
}

void StatsWindow::stopLookups() {
    session_.lookupStop->cancel();
    lookups_.clear();
    lookup_.cancel();
    databaseWalk_.cancel();
    if (walk_) {
        endWalk();
    }
}

void StatsWindow::openIpSearchPage() {
    const int row = list_->selectedRow();
    const std::string ip = row >= 0 && shownPage_ == StatsPage::Ip
                               ? model_->page().rows[static_cast<std::size_t>(row)][kIpColumn]
                               : "";
    Ui().openUrl(QUrl(FromGbk(ipQueryUrl(ip))));
}

std::int32_t StatsWindow::clientIpColumn() const {
    // Off (0) unless the setting names a field of this log.
    return FieldColumn(log_.header, verify_.clientIpField);
}

void StatsWindow::openVerifyWindow() {
    if (verifyWindow_) {
        verifyWindow_->raise();
        verifyWindow_->activateWindow();
        return;
    }
    ResolverSettings settings;
    settings.servers = verify_.dnsServers;
    settings.timeoutMs = verify_.dnsTimeoutMs;
    // The published crawler ranges live beside the settings file.
    const std::string& path = config_.path();
    const std::size_t slash = path.rfind('/');
    auto* window = new VerifyWindow(log_, settings, this,
                                    slash == std::string::npos ? "." : path.substr(0, slash),
                                    clientIpColumn());
    window->setBlockShared(verify_.blockShared);
    verifyWindow_ = window;
    verifyWindow_->show();
}

void StatsWindow::openSeoWindow() {
    if (seoWindow_) {
        seoWindow_->raise();
        seoWindow_->activateWindow();
        return;
    }
    seoWindow_ = new SeoWindow(log_, settings_.siteHost, this);
    seoWindow_->show();
}

const StatsTable& StatsWindow::page() const {
    return model_->page();
}

void StatsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!activated_) {
        activated_ = true;
        refresh();
    }
}

void StatsWindow::closeEvent(QCloseEvent* event) {
    build_.cancel();
    sort_.cancel();
    export_.cancel();
    stopLookups();
    settings_.urlPrefix = ToGbk(prefix_->text());
    settings_.statusUrlPrefix = ToGbk(prefix1_->text());
    // One message for both prefixes: they go to the same file.
    if (const Result<void> saved = settings_.write(config_); !saved) {
        Ui().showMessage(this, ErrorText(QStringLiteral("无法保存设置："), saved.error()));
    }
    QWidget::closeEvent(event);
}

void StatsWindow::refresh() {
    const StatsPage page = currentPage();
    filterTabs_->setVisible(StatsPageEntryOf(page).crawlerFilter);
    urlList_->setVisible(StatsPageEntryOf(page).doubleClick == RowAction::ListStatusUrls);
    if (filterTabs_->isVisibleTo(this)) {
        rebuildFilterTabs();
    }
    layoutControls();
    // A rebuilt strip always ends on "所有流量": the unfiltered table.
    build(page, SpiderFilter{});
}

void StatsWindow::rebuildFilterTabs() {
    const QSignalBlocker quiet(filterTabs_);
    while (filterTabs_->count() > 1) {
        filterTabs_->removeTab(filterTabs_->count() - 1);
    }
    const std::vector<std::string> captions = SpiderFilterCaptions(log_.tally);
    for (std::size_t i = 0; i < captions.size(); ++i) {
        if (static_cast<int>(i) == kAllTrafficTab && filterTabs_->count() == 1) {
            filterTabs_->setTabText(kAllTrafficTab, FromGbk(captions[kAllTrafficTab]));
        } else {
            filterTabs_->addTab(FromGbk(captions[i]));
        }
    }
    filterTabs_->setCurrentIndex(kAllTrafficTab);
    filterTabs_->fitTabs();
}

void StatsWindow::build(StatsPage page, const SpiderFilter& filter) {
    setEnabled(false);
    // The build reads a snapshot, so an import finishing meanwhile does not
    // change the page being built. A page change during a build: the later
    // one wins.
    const RecordTable table = log_.table;
    const FieldMap fields = log_.header.fieldMap;
    const SpiderTally tally = log_.tally;
    const std::int32_t clientIp = clientIpColumn();
    const bool started = build_.start(
        [page, filter, table, fields, tally, clientIp](const TaskControl& control) {
            BuiltPage built{BuildStatsPage(page, table, fields, tally, filter,
                                           control.cancelToken(), {}, clientIp),
                            {}};
            if (!control.cancelled()) {
                built.longest = LongestCells(built.page);
            }
            return built;
        },
        [this, page, crawler = filter.displayName](BuiltPage built) {
            shownPage_ = page;
            shownCrawler_ = crawler;
            showPage(std::move(built.page), std::move(built.longest));
        },
        BackgroundTask::Overlap::Supersede);
    if (!started) {
        enableWhenIdle();
    }
}

void StatsWindow::showPage(StatsTable page, std::vector<int> longest) {
    session_.cellMarks.apply(page);
    model_->setPage(std::move(page));
    ++pageGeneration_;
    QStringList cells;
    const StatsTable& shown = model_->page();
    for (std::size_t c = 0; c < longest.size(); ++c) {
        cells << (longest[c] >= 0 ? FromGbk(shown.rows[static_cast<std::size_t>(longest[c])][c])
                                  : QString());
    }
    list_->fitColumns(cells);
    enableWhenIdle();
    emit pageShown();
}

void StatsWindow::enableWhenIdle() {
    if (!building() && !sorting()) {
        setEnabled(true);
    }
}

void StatsWindow::headerClicked(int column) {
    if (building() || sorting() || column < 0 || column >= model_->columnCount()) {
        return;
    }
    bool& ascending = session_.sortAscending;
    ascending = !ascending;
    // The worker sorts a snapshot of the page: lookups may write cells of
    // the page meanwhile, and the order is applied to the rows as they are
    // then.
    const int generation = pageGeneration_;
    setEnabled(false);
    const bool started = sort_.start(
        [page = model_->snapshot(), column, up = ascending, order = sortOrder_](
            const TaskControl& control) { return order(*page, column, up, control.cancelToken()); },
        [this, generation](const std::vector<std::uint32_t>& order) {
            finishSort(order, generation);
        });
    if (!started) {
        enableWhenIdle();
    }
}

void StatsWindow::finishSort(const std::vector<std::uint32_t>& order, int pageGeneration) {
    if (pageGeneration != pageGeneration_) {
        enableWhenIdle();
        emit sortEnded(); // the page it sorted is gone
        return;
    }
    const int selected = model_->reorderRows(order, list_->selectedRow());
    if (MovesRows(order)) {
        ++orderGeneration_;
    }
    if (model_->page().summaryRow) {
        session_.cellMarks.markSummaryRow(model_->page());
        model_->coloursChanged();
    }
    if (selected >= 0) {
        list_->setSelectedRow(selected);
        list_->makeRowVisible(selected);
    }
    enableWhenIdle();
    emit sortEnded();
}

void StatsWindow::openUrl(const QString& url) {
    Ui().openUrl(QUrl(url));
}

void StatsWindow::doubleClicked() {
    const int row = list_->selectedRow();
    if (row < 0 || building() || sorting()) {
        return;
    }
    const std::string& key = model_->page().rows[static_cast<std::size_t>(row)][0];
    switch (StatsPageEntryOf(shownPage_).doubleClick) {
    case RowAction::ListStatusUrls:
        urlList_->clear();
        // The URLs of the records the row counted: the shown crawler's only.
        for (const std::string& line :
             StatusUrlLines(log_.table, log_.header.fieldMap, key, {shownCrawler_})) {
            urlList_->addEntry(FromGbk(line));
        }
        break;
    case RowAction::LocateIp:
        locateSelectedIp();
        break;
    case RowAction::OpenUrl:
        if (prefix_->text().isEmpty()) {
            Ui().showMessage(this, QStringLiteral("在双击打开URL之前请先输入HTTP前缀"));
            prefix_->setFocus();
        } else {
            openUrl(prefix_->text() + FromGbk(key));
        }
        break;
    case RowAction::None:
        break;
    }
}

void StatsWindow::copyRow() {
    CopyStatsRow(model_->page(), list_->selectedRow());
}

void StatsWindow::exportList() {
    ExportStatsList(this, *exportDialog_, export_, model_->snapshot(), log_,
                    [this](bool written) { emit exportEnded(written); });
}

void StatsWindow::exportUrlList() {
    if (exporting()) {
        return;
    }
    exportDialog_->initialFilter = static_cast<int>(ListExportFilter::Text);
    if (!exportDialog_->show(this)) {
        return;
    }
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(urlList_->entryCount()));
    for (int i = 0; i < urlList_->entryCount(); ++i) {
        lines.push_back(ToGbk(urlList_->entryText(i)));
    }
    SaveListFile(
        this, export_, exportDialog_->fileName, SavedFile::UrlList, log_,
        [lines = std::move(lines)](LineSink& sink, const CancelToken& cancel) {
            return WriteTextLines(lines, sink, cancel);
        },
        [this](bool written) { emit exportEnded(written); });
}

void StatsWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

void StatsWindow::layoutControls() {
    if (tabs_ == nullptr) {
        return;
    }
    const int w = width();
    const int h = height();
    tabs_->resize(w, tabs_->height());
    const bool urls = urlList_->isVisibleTo(this);
    const bool filters = filterTabs_->isVisibleTo(this);
    const int top = tabs_->height();
    const int listHeight = h - top - (filters ? filterTabs_->height() : 0);
    list_->setGeometry(0, top, w - (urls ? urlList_->width() : 0), listHeight);
    urlList_->setGeometry(w - urlList_->width(), top, urlList_->width(), listHeight);
    filterTabs_->setGeometry(0, h - filterTabs_->height(), w, filterTabs_->height());
}

} // namespace logdesk
