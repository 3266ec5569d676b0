#include "stats_window.h"

#include "export/csv_format.h"
#include "export/line_sink.h"
#include "logimport/imported_log.h"
#include "net/http_fetch.h"
#include "net/ip_location.h"
#include "net/page_text.h"
#include "settings/config_file.h"
#include "settings/settings_keys.h"
#include "stats/cell_colours.h"
#include "stats/page_builds.h"
#include "stats/stats_sort.h"
#include "stats_table_model.h"
#include "text/gbk_codec.h"
#include "toolkit/controls.h"
#include "toolkit/pausable_wait.h"
#include "toolkit/qt_text.h"
#include "toolkit/ui_seam.h"
#include "toolkit/window_description.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QPointer>
#include <QShowEvent>

namespace logdesk {

namespace {

// One sort direction for the whole run: every header click inverts it, so
// the first click sorts ascending and the next descending.
bool& SortAscending() {
    static bool ascending = false;
    return ascending;
}

// The IP page's columns the lookups read and write.
constexpr int kIpColumn = 0;
constexpr int kLocationColumn = 3;

std::vector<int> LongestCells(const StatsTable& page) {
    std::vector<int> longest(page.headers.size(), -1);
    std::vector<std::size_t> sizes(page.headers.size(), 0);
    for (std::size_t r = 0; r < page.rows.size(); ++r) {
        for (std::size_t c = 0; c < page.headers.size(); ++c) {
            if (page.rows[r][c].size() > sizes[c]) {
                sizes[c] = page.rows[r][c].size();
                longest[c] = static_cast<int>(r);
            }
        }
    }
    return longest;
}

} // namespace

CellColours& StatsWindow::Colours() {
    static CellColours colours;
    return colours;
}

StatsWindow::StatsWindow(const ImportedLog& log, ConfigFile& config, CookieJar& cookies,
                         QWidget* parent)
    : QWidget(parent), log_(log), config_(config), cookies_(cookies) {
    setAttribute(Qt::WA_DeleteOnClose);
    const WindowDescription& description = StatsWindowDescription();
    BuildWindow(this, description);
    tabs_ = findChild<TabStrip*>(QStringLiteral("选择夹"));
    filterTabs_ = findChild<TabStrip*>(QStringLiteral("选择夹蜘蛛"));
    list_ = findChild<ReportList*>(QStringLiteral("列表框"));
    urlList_ = findChild<ListBox*>(QStringLiteral("列表框URL"));
    prefix_ = findChild<EditBox*>(QStringLiteral("编辑框http前缀"));
    prefix1_ = findChild<EditBox*>(QStringLiteral("编辑框http前缀1"));
    model_ = new StatsTableModel(Colours(), this);
    list_->setModel(model_);
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    exportDialog_ = MakeFileDialog(description, "对话框导出");

    prefix_->setText(FromGbk(config_.read(settings::kUrlPrefix, Gbk(settings::kUrlPrefixDefault))));
    prefix1_->setText(
        FromGbk(config_.read(settings::kStatusUrlPrefix, Gbk(settings::kUrlPrefixDefault))));

    connect(tabs_, &QTabBar::currentChanged, this, [this] { refresh(); });
    connect(filterTabs_, &QTabBar::currentChanged, this, [this](int tab) {
        if (tab >= 0 && !filterTabs_->signalsBlocked()) {
            build(tabs_->currentIndex(), SpiderFilterOfTab(log_.tally, tab));
        }
    });
    connect(tabs_, &TabStrip::rightClicked, this, &StatsWindow::exportList);
    connect(list_, &ReportList::headerClicked, this, &StatsWindow::headerClicked);
    connect(list_, &QAbstractItemView::doubleClicked, this, &StatsWindow::doubleClicked);
    connect(list_, &ReportList::rowRightClicked, this, &StatsWindow::copyRow);
    connect(urlList_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) {
            openUrl(prefix1_->text() + urlList_->entryText(row));
        }
    });
    connect(urlList_, &ListBox::rightPressed, this, &StatsWindow::exportUrlList);
    connect(findChild<Button*>(QStringLiteral("按钮查询选中ip")), &QPushButton::clicked, this,
            &StatsWindow::locateSelectedIp);
    connect(findChild<Button*>(QStringLiteral("按钮查询全部ip")), &QPushButton::clicked, this,
            &StatsWindow::locateAllIps);
    connect(findChild<Button*>(QStringLiteral("按钮百度该IP")), &QPushButton::clicked, this,
            &StatsWindow::openIpSearchPage);
}

bool& StatsWindow::StopLookup() {
    static bool stop = false;
    return stop;
}

std::string StatsWindow::ipQueryUrl(const std::string& ip) {
    const std::string host =
        config_.read(settings::kIpQueryHost, Gbk(settings::kIpQueryHostDefault));
    return IpLocationQueryUrl(host, ip);
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

bool StatsWindow::locateRow(int row) {
    if (shownPage_ != static_cast<int>(StatsPage::Ip) || row < 0 || row >= model_->rowCount() ||
        model_->columnCount() <= kLocationColumn) {
        return false;
    }
    const QPointer<StatsWindow> self(this);
    const int generation = pageGeneration_;
    const std::string ip = model_->page().rows[static_cast<std::size_t>(row)][kIpColumn];
    model_->setCell(row, kLocationColumn, Gbk("正在查询中.."));
    FetchRequest request;
    request.url = ipQueryUrl(ip);
    FetchContext context;
    // The fetch runs on a worker; meanwhile the windows keep working.
    context.pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); };
    const std::shared_ptr<std::atomic<bool>> closing = closing_;
    context.cancel = closing.get();
    context.cookies = &cookies_;
    const Result<std::string> page = FetchPageText(request, kCharsetFromPage, context);
    // A failed fetch shows no location, as a page without one does.
    const std::string location = IpLocationFromPage(page ? *page : std::string());
    if (!self || closing->load()) {
        return false;
    }
    // A rebuilt page gets nothing; on the same page the status text moved
    // with its row through any sort, and the location goes where the IP is.
    if (generation != pageGeneration_) {
        emit lookupEnded();
        return false;
    }
    model_->setCell(rowOfIp(ip, row), kLocationColumn, location);
    emit lookupEnded();
    return true;
}

void StatsWindow::locateSelectedIp() {
    const int row = list_->selectedRow();
    if (shownPage_ != static_cast<int>(StatsPage::Ip)) {
        return;
    }
    if (row < 0) {
        Ui().showMessage(this, QStringLiteral("当前还没有选中IP！"));
        return;
    }
    locateRow(row);
}

void StatsWindow::locateAllIps() {
    auto* button = findChild<Button*>(QStringLiteral("按钮查询全部ip"));
    if (button->caption() != QStringLiteral("查询全部IP")) {
        button->setCaption(QStringLiteral("停止查询中.."));
        StopLookup() = true;
        return;
    }
    if (shownPage_ != static_cast<int>(StatsPage::Ip)) {
        return;
    }
    const QPointer<StatsWindow> self(this);
    button->setCaption(QStringLiteral("停止查询IP"));
    StopLookup() = false;
    // The run walks the rows of the page it began on, in their order then;
    // it ends once that page was rebuilt, its rows moved or an import
    // replaced the records, which any wait below may bring.
    const RowsMark began = rowsMark();
    const std::weak_ptr<const RecordData> records = log_.table.data();
    const auto samePage = [&] {
        return rowsMark() == began && records.lock() == log_.table.data();
    };
    const int rows = model_->rowCount();
    for (int row = 0; row < rows && !StopLookup() && samePage(); ++row) {
        if (!model_->page().rows[static_cast<std::size_t>(row)][kLocationColumn].empty()) {
            continue; // holds a location (or another text) already
        }
        if (!locateRow(row)) {
            break; // the window closed or the page changed
        }
        if (!samePage()) {
            break;
        }
        PausableWait(1500, StopLookup());
        if (!self) {
            return;
        }
    }
    if (self) {
        button->setCaption(QStringLiteral("查询全部IP"));
    }
}

void StatsWindow::openIpSearchPage() {
    const int row = list_->selectedRow();
    const std::string ip = row >= 0 && shownPage_ == static_cast<int>(StatsPage::Ip)
                               ? model_->page().rows[static_cast<std::size_t>(row)][kIpColumn]
                               : "";
    Ui().openUrl(QUrl(FromGbk(ipQueryUrl(ip))));
}

StatsWindow::~StatsWindow() {
    if (worker_.joinable()) {
        worker_.join();
    }
    if (sorter_.joinable()) {
        sorter_.join();
    }
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
    closing_->store(true);
    StopLookup() = true;
    const Result<void> saved = config_.write(settings::kUrlPrefix, ToGbk(prefix_->text()));
    const Result<void> saved1 = config_.write(settings::kStatusUrlPrefix, ToGbk(prefix1_->text()));
    if (!saved || !saved1) {
        // One message for both: they go to the same file.
        Ui().showMessage(this, ErrorText(QStringLiteral("无法保存设置："),
                                         saved ? saved1.error() : saved.error()));
    }
    QWidget::closeEvent(event);
}

void StatsWindow::refresh() {
    const int page = tabs_->currentIndex();
    filterTabs_->setVisible(page == 1 || page == 2);
    urlList_->setVisible(page == 3);
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
        if (i == 0 && filterTabs_->count() == 1) {
            filterTabs_->setTabText(0, FromGbk(captions[0]));
        } else {
            filterTabs_->addTab(FromGbk(captions[i]));
        }
    }
    filterTabs_->setCurrentIndex(0);
    filterTabs_->fitTabs();
}

void StatsWindow::build(int page, const SpiderFilter& filter) {
    if (building()) {
        worker_.join(); // a page change during a build: the later one wins
    }
    const int generation = ++generation_;
    setEnabled(false);
    // The build reads a snapshot, so an import finishing meanwhile does not
    // change the page being built.
    const RecordTable table = log_.table;
    const FieldMap fields = log_.header.fieldMap;
    const SpiderTally tally = log_.tally;
    worker_ = std::thread([this, generation, page, filter, table, fields, tally] {
        auto built = std::make_shared<StatsTable>(
            BuildStatsPage(static_cast<StatsPage>(page), table, fields, tally, filter));
        auto longest = std::make_shared<std::vector<int>>(LongestCells(*built));
        QMetaObject::invokeMethod(
            this,
            [this, generation, page, built, longest] {
                if (generation != generation_) {
                    return; // superseded by a later build
                }
                worker_.join();
                shownPage_ = page;
                showPage(std::move(*built), std::move(*longest));
            },
            Qt::QueuedConnection);
    });
}

void StatsWindow::showPage(StatsTable page, std::vector<int> longest) {
    const QPalette palette = list_->palette();
    Colours().apply(page, ToColourRef(palette.color(QPalette::Text)),
                    ToColourRef(palette.color(QPalette::Base)));
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
    bool& ascending = SortAscending();
    ascending = !ascending;
    // The worker sorts a copy of the column only: lookups may write cells of
    // the page meanwhile, and the order is applied to the rows as they are
    // then.
    const StatsTable& page = model_->page();
    const SortKind kind = StatsSortKind(page.headers[static_cast<std::size_t>(column)]);
    const int generation = pageGeneration_;
    setEnabled(false);
    sorter_ =
        std::thread([this, cells = StatsSortCells(page, column), kind, up = ascending, generation] {
            auto order =
                std::make_shared<std::vector<std::uint32_t>>(StatsSortOrder(cells, kind, up));
            QMetaObject::invokeMethod(
                this, [this, order, generation] { finishSort(*order, generation); },
                Qt::QueuedConnection);
        });
}

void StatsWindow::finishSort(const std::vector<std::uint32_t>& order, int pageGeneration) {
    sorter_.join();
    if (pageGeneration != pageGeneration_) {
        enableWhenIdle();
        emit sortEnded(); // the page it sorted is gone
        return;
    }
    const StatsTable& page = model_->page();
    const bool summary = page.summaryRow && !page.rows.empty();
    const int columns = static_cast<int>(page.headers.size());
    const int selected = model_->reorderRows(order, list_->selectedRow());
    if (MovesRows(order)) {
        ++orderGeneration_;
    }
    if (summary) {
        const QPalette palette = list_->palette();
        for (int c = 1; c < columns; ++c) {
            Colours().set(0, c, kSummaryTextColour, ToColourRef(palette.color(QPalette::Base)),
                          ToColourRef(palette.color(QPalette::Text)),
                          ToColourRef(palette.color(QPalette::Base)));
        }
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
    switch (shownPage_) {
    case 3:
        urlList_->clear();
        for (const std::string& line : StatusUrlLines(log_.table, log_.header.fieldMap, key)) {
            urlList_->addEntry(FromGbk(line));
        }
        break;
    case 2:
        locateSelectedIp();
        break;
    case 1:
        if (prefix_->text().isEmpty()) {
            Ui().showMessage(this, QStringLiteral("在双击打开URL之前请先输入HTTP前缀"));
            prefix_->setFocus();
        } else {
            openUrl(prefix_->text() + FromGbk(key));
        }
        break;
    default:
        break;
    }
}

void StatsWindow::copyRow() {
    const int row = list_->selectedRow();
    QStringList cells;
    if (row >= 0) {
        for (const std::string& cell : model_->page().rows[static_cast<std::size_t>(row)]) {
            cells << FromGbk(cell);
        }
    }
    Ui().setClipboardText(cells.join(QLatin1Char(',')));
    Ui().beep();
}

void StatsWindow::exportList() {
    exportDialog_->initialFilter = 0;
    if (!exportDialog_->show(this)) {
        return;
    }
    const QString path = exportDialog_->fileName;
    if (RefuseImportedLog(this, path, log_.path, QStringLiteral("无法保存文件：%1\r\n%2"))) {
        emit exportEnded(false);
        return;
    }
    const std::string nativePath = QFile::encodeName(path).toStdString();
    const TextTable table{model_->page().headers, model_->page().rows};
    const Result<void> written = ExportToFile(nativePath, [&](LineSink& file) {
        return WriteTextTable(table, EndsWithCsv(nativePath), file);
    });
    if (written) {
        Ui().showMessage(this, QStringLiteral("保存完毕！") + QDir::toNativeSeparators(path));
    } else {
        Ui().showMessage(this, ErrorText(QStringLiteral("无法保存文件："), written.error()));
    }
    emit exportEnded(written.ok());
}

void StatsWindow::exportUrlList() {
    exportDialog_->initialFilter = 1;
    if (!exportDialog_->show(this)) {
        return;
    }
    const QString path = exportDialog_->fileName;
    if (RefuseImportedLog(this, path, log_.path, QStringLiteral("无法保存文件：%1\r\n%2"))) {
        emit exportEnded(false);
        return;
    }
    const Result<void> written =
        ExportToFile(QFile::encodeName(path).toStdString(), [&](LineSink& file) -> Result<void> {
            for (int i = 0; i < urlList_->entryCount(); ++i) {
                if (!file.write(ToGbk(urlList_->entryText(i)) + std::string(kLineEnd))) {
                    return FailureOf(file);
                }
            }
            return {};
        });
    if (written) {
        Ui().showMessage(this, QStringLiteral("已导出URL列表"));
    } else {
        Ui().showMessage(this, ErrorText(QStringLiteral("无法保存文件："), written.error()));
    }
    emit exportEnded(written.ok());
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
