// The window 抓取分析 offscreen: each page as the core counts it, the URL
// lists of the coverage page, stops and superseded builds, the export and
// the row copy, and its place under the statistics window.
#include "core/coverage/site_url_list.h"
#include "core/export/csv_format.h"
#include "core/export/line_sink.h"
#include "core/input/input_fixtures.h"
#include "core/logimport/imported_log.h"
#include "core/settings/config_file.h"
#include "core/stats/page_builds.h"
#include "gui/seo/seo_window.h"
#include "gui/stats/stats_session.h"
#include "gui/stats/stats_window.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/qt_text.h"
#include "gui/toolkit/window_description.h"
#include "support/fake_ui_seam.h"
#include "support/page_test_support.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::ReadFile;
using testing::TempFile;

const std::string kFields = "date time c-ip cs-uri-stem cs-uri-query sc-status sc-win32-status "
                            "sc-bytes time-taken cs(User-Agent)";
// Two crawlers and a person; a URL whose status changes, directories two
// deep, a query, a Chinese path.
const std::vector<std::string> kLines = {
    "2013-05-01 00:00:01 1.1.1.1 /news/2013/a.htm - 200 0 1200 15 Baiduspider",
    "2013-05-01 00:00:02 1.1.1.2 /news/2013/a.htm - 404 2 300 120 Baiduspider",
    "2013-05-02 00:00:03 1.1.1.3 /news/b.htm x=1 200 0 800 40 Googlebot",
    "2013-05-02 00:00:04 1.1.1.1 /video/c.htm - 301 0 100 5 Baiduspider",
    "2013-05-03 00:00:05 1.1.1.4 /news/2013/a.htm - 200 0 1200 30 Baiduspider",
    "2013-05-03 00:00:06 1.1.1.5 /文章/中.htm - 500 0 10 900 Googlebot",
    "2013-05-03 00:00:07 1.1.1.6 /news/b.htm x=1 503 0 10 70 Googlebot",
    "2013-05-03 00:00:08 1.1.1.7 /index.htm - 200 0 10 3 Mozilla",
};

const char* const kSitemap = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n"
                             "<url><loc>https://www.example.com/news/2013/a.htm</loc></url>\n"
                             "<url><loc>https://www.example.com/news/b.htm?x=1</loc></url>\n"
                             "<url><loc>https://www.example.com/never.htm</loc></url>\n"
                             "</urlset>\n";

ImportedLog LogOf(const std::string& fields, const std::vector<std::string>& lines) {
    const LogImport imported = testing::Import(fields, lines);
    return {imported.table, imported.header, imported.tally};
}

// The tab showing `page`.
int Tab(StatsPage page) {
    return SeoTabOf(page);
}

class SeoWindowTest : public ::testing::Test {
protected:
    TempFile dir_{""};
    FakeUiSeam ui_;
    ImportedLog log_ = LogOf(kFields, kLines);
    QPointer<SeoWindow> window_;
    TabStrip* tabs_ = nullptr;
    TabStrip* filters_ = nullptr;
    ReportList* list_ = nullptr;

    void TearDown() override {
        if (window_) {
            window_->close();
        }
    }

    void open(std::string siteHost = {}) {
        window_ = new SeoWindow(log_, std::move(siteHost), nullptr);
        tabs_ = window_->findChild<TabStrip*>(QStringLiteral("选择夹"));
        filters_ = window_->findChild<TabStrip*>(QStringLiteral("选择夹蜘蛛"));
        list_ = window_->findChild<ReportList*>(QStringLiteral("列表框"));
        QSignalSpy shown(window_.data(), &SeoWindow::pageShown);
        window_->show();
        ASSERT_TRUE(shown.count() > 0 || shown.wait(10000));
    }
    // Runs `change` and waits for the page it asks for.
    template <typename Change> void waitForPage(Change change) {
        QSignalSpy shown(window_.data(), &SeoWindow::pageShown);
        change();
        ASSERT_TRUE(shown.count() > 0 || shown.wait(10000));
    }
    void showTab(StatsPage page) {
        if (tabs_->currentIndex() != Tab(page)) {
            waitForPage([&] { tabs_->setCurrentIndex(Tab(page)); });
        }
    }
    void chooseFilter(int tab) {
        if (filters_->currentIndex() != tab) {
            waitForPage([&] { filters_->setCurrentIndex(tab); });
        }
    }
    // Picks `files` in the URL list dialog; true when the list was read.
    bool chooseUrlList(const QStringList& files) {
        ui_.fileLists.push_back(files);
        QSignalSpy read(window_.data(), &SeoWindow::urlListRead);
        QSignalSpy shown(window_.data(), &SeoWindow::pageShown);
        window_->chooseUrlList();
        if (!read.wait(10000) || !read.at(0).at(0).toBool()) {
            return false;
        }
        return tabs_->currentIndex() != Tab(StatsPage::Coverage) || shown.count() > 0 ||
               shown.wait(10000);
    }
    QString write(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = dir_.dir() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return QString::fromStdString(path.string());
    }
    // The page the core gives for these records and this request.
    StatsTable corePage(StatsPage page, const PageRequest& request) const {
        return BuildStatsPage(page, log_.table, log_.header.fieldMap, log_.tally, request);
    }
    // What the list shows, cell by cell.
    std::vector<std::vector<QString>> shownCells() const {
        std::vector<std::vector<QString>> cells;
        for (int r = 0; r < list_->rowCount(); ++r) {
            cells.emplace_back();
            for (int c = 0; c < list_->columnCount(); ++c) {
                cells.back().push_back(list_->cellText(r, c));
            }
        }
        return cells;
    }
    static std::vector<std::vector<QString>> Cells(const StatsTable& page) {
        std::vector<std::vector<QString>> cells;
        for (const std::vector<std::string>& row : page.rows) {
            cells.emplace_back();
            for (const std::string& cell : row) {
                cells.back().push_back(FromGbk(cell));
            }
        }
        return cells;
    }
    // The window shows the core's page for the request: the same table,
    // and the same texts in the list.
    void expectShows(StatsPage page, const PageRequest& request) {
        const StatsTable expected = corePage(page, request);
        EXPECT_EQ(window_->shownPage(), page);
        EXPECT_TRUE(testing::SamePage(window_->page(), expected));
        EXPECT_EQ(shownCells(), Cells(expected));
        ASSERT_EQ(list_->columnCount(), static_cast<int>(expected.headers.size()));
        for (int c = 0; c < list_->columnCount(); ++c) {
            EXPECT_EQ(list_->columnTitle(c),
                      FromGbk(expected.headers[static_cast<std::size_t>(c)]));
        }
    }
    QString noticeText() const {
        const auto* notice = window_->findChild<Label*>(QStringLiteral("标签提示"));
        return notice->isVisibleTo(window_) ? notice->text() : QString();
    }
    QString statusText() const {
        return window_->findChild<Label*>(QStringLiteral("标签状态"))->text();
    }
    Button* button(const char* name) const {
        return window_->findChild<Button*>(QString::fromUtf8(name));
    }
};

TEST_F(SeoWindowTest, EveryPageForEveryCrawlerIsTheCoresPage) {
    ASSERT_NO_FATAL_FAILURE(open());
    QAbstractItemModelTester tester(list_->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("抓取分析"));
    ASSERT_EQ(tabs_->count(), 4);
    EXPECT_EQ(tabs_->tabText(0), QStringLiteral("覆盖率"));
    EXPECT_EQ(tabs_->tabText(1), QStringLiteral("响应时间"));
    EXPECT_EQ(tabs_->tabText(2), QStringLiteral("目录"));
    EXPECT_EQ(tabs_->tabText(3), QStringLiteral("状态不一致"));
    ASSERT_EQ(filters_->count(), 1 + log_.tally.length());
    EXPECT_EQ(filters_->tabText(0), QStringLiteral("所有流量"));
    EXPECT_EQ(filters_->tabText(1), QStringLiteral("百度"));

    ASSERT_TRUE(chooseUrlList({write("sitemap.xml", kSitemap)}));
    PageRequest request;
    const Result<SiteUrlList> urls = ReadSiteUrls({(dir_.dir() / "sitemap.xml").string()}, {});
    ASSERT_TRUE(urls);
    request.siteUrls = &*urls;
    auto* depth = window_->findChild<DropDown*>(QStringLiteral("组合框目录层级"));
    for (const StatsPage page : SeoPages()) {
        SCOPED_TRACE(StatsPageEntryOf(page).cliName.data());
        showTab(page);
        for (int filter = 0; filter <= log_.tally.length(); ++filter) {
            SCOPED_TRACE(filter);
            chooseFilter(filter);
            request.filter = SpiderFilterOfTab(log_.tally, filter);
            request.depth = 1;
            expectShows(page, request);
            if (page == StatsPage::Sections) {
                waitForPage([&] { depth->setCurrentIndex(1); });
                request.depth = 2;
                expectShows(page, request);
                waitForPage([&] { depth->setCurrentIndex(0); });
            }
        }
    }
    // The pages are not empty ones: each crawler's figures are there.
    showTab(StatsPage::Flapping);
    chooseFilter(0);
    EXPECT_EQ(list_->rowCount(), 2); // /news/2013/a.htm and /news/b.htm
    EXPECT_EQ(list_->cellText(0, 3), QStringLiteral("200,404"));
}

TEST_F(SeoWindowTest, TheChosenCrawlerStaysFromPageToPage) {
    ASSERT_NO_FATAL_FAILURE(open());
    showTab(StatsPage::Timing);
    chooseFilter(2); // 谷歌
    showTab(StatsPage::Flapping);
    EXPECT_EQ(filters_->currentIndex(), 2);
    PageRequest google(SpiderFilterOfTab(log_.tally, 2));
    expectShows(StatsPage::Flapping, google);

    // A new import without that crawler: the strip is refilled and counts
    // every crawler again, from the new records.
    log_ = LogOf(kFields, {kLines[0], kLines[1], kLines[3]});
    showTab(StatsPage::Timing);
    ASSERT_EQ(filters_->count(), 2);
    EXPECT_EQ(filters_->currentIndex(), 0);
    expectShows(StatsPage::Timing, {});
    EXPECT_EQ(list_->rowCount(), 1);
}

TEST_F(SeoWindowTest, CoverageWaitsForAListAndReadsEveryKind) {
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(window_->shownPage(), StatsPage::Coverage);
    EXPECT_TRUE(noticeText().contains(QStringLiteral("选择URL清单")));
    EXPECT_FALSE(list_->isVisible());
    EXPECT_FALSE(button("按钮导出列表")->isEnabled());
    const auto* choose = button("按钮选择清单");
    EXPECT_TRUE(choose->isVisible());

    // An index with a .gz sitemap beside it, a plain list and a CSV export,
    // picked at once; one URL of another host in the CSV.
    write("posts.xml.gz", testing::GzipMember(kSitemap));
    const QStringList files{
        write("sitemap_index.xml",
              "<?xml version=\"1.0\"?>\n<sitemapindex "
              "xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n"
              "<sitemap><loc>https://www.example.com/maps/posts.xml.gz</loc></sitemap>\n"
              "</sitemapindex>\n"),
        write("urls.txt", "# pages\nhttps://www.example.com/video/c.htm\r\n"
                          "https://www.example.com/news/2013/a.htm\r\n"),
        write("crawl.csv", "Address,Status Code\nhttps://www.example.com/index.htm,200\n"
                           "https://www.example.com/gone.htm,404\n")};
    ui_.fileLists.push_back(files);
    QSignalSpy read(window_.data(), &SeoWindow::urlListRead);
    window_->chooseUrlList();
    ASSERT_TRUE(read.wait(10000));
    ASSERT_TRUE(read.at(0).at(0).toBool()) << ui_.messages.join(QLatin1Char('\n')).toStdString();
    ASSERT_FALSE(ui_.dialogs.empty());
    EXPECT_FALSE(ui_.dialogs.back().save);
    EXPECT_TRUE(ui_.dialogs.back().multiple);
    EXPECT_TRUE(ui_.dialogs.back().filter.contains(QStringLiteral("*.gz")));
    QSignalSpy shown(window_.data(), &SeoWindow::pageShown);
    ASSERT_TRUE(shown.count() > 0 || shown.wait(10000));

    std::vector<std::string> paths;
    for (const QString& file : files) {
        paths.push_back(file.toStdString());
    }
    const Result<SiteUrlList> urls = ReadSiteUrls(paths, {});
    ASSERT_TRUE(urls);
    ASSERT_NE(window_->siteUrls(), nullptr);
    EXPECT_EQ(window_->siteUrls()->urls.size(), 6u); // a.htm is listed twice
    EXPECT_EQ(window_->siteUrls()->duplicateUrls, 1u);
    PageRequest request;
    request.siteUrls = &*urls;
    EXPECT_TRUE(noticeText().isEmpty());
    EXPECT_TRUE(list_->isVisible());
    expectShows(StatsPage::Coverage, request);
    EXPECT_TRUE(statusText().contains(QStringLiteral("www.example.com 的 6 个URL")))
        << statusText().toStdString();
    EXPECT_TRUE(statusText().contains(QStringLiteral("sitemap_index.xml 等 4 个文件")))
        << statusText().toStdString();

    // One crawler: the listed URLs it fetched, those it never did, and what
    // it fetched outside the list.
    chooseFilter(1);
    request.filter = SpiderFilterOfTab(log_.tally, 1);
    expectShows(StatsPage::Coverage, request);
    QStringList kinds;
    for (int r = 0; r < list_->rowCount(); ++r) {
        kinds << list_->cellText(r, 1);
    }
    EXPECT_TRUE(kinds.contains(QStringLiteral("已抓取")));
    EXPECT_TRUE(kinds.contains(QStringLiteral("未抓取")));
}

TEST_F(SeoWindowTest, AListOfSeveralHostsIsRefusedByNameAndTheOldListStays) {
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(chooseUrlList({write("sitemap.xml", kSitemap)}));
    const StatsTable before = window_->page();
    const QString mixed = write("mixed.txt", "https://www.example.com/news/b.htm?x=1\n"
                                             "https://shop.example.com/cart\n");
    EXPECT_FALSE(chooseUrlList({mixed}));
    ASSERT_EQ(ui_.messages.size(), 1);
    const QString message = ui_.messages[0];
    EXPECT_TRUE(message.startsWith(QStringLiteral("无法读取URL清单：") + mixed))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("www.example.com, shop.example.com")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("站点主机="))) << message.toStdString();
    // The list read before is still the one counted against.
    ASSERT_NE(window_->siteUrls(), nullptr);
    EXPECT_EQ(window_->siteUrls()->urls.size(), 3u);
    EXPECT_TRUE(testing::SamePage(window_->page(), before));
    EXPECT_TRUE(list_->isEnabled());
    EXPECT_EQ(button("按钮停止统计")->caption(), QStringLiteral("重新统计"));

    // A damaged file is named with its line, without the hosts' advice.
    const QString broken = write("broken.xml", "<urlset><url><loc>https://www.example.com/");
    EXPECT_FALSE(chooseUrlList({broken}));
    ASSERT_EQ(ui_.messages.size(), 2);
    EXPECT_TRUE(ui_.messages[1].startsWith(QStringLiteral("无法读取URL清单：") + broken));
    EXPECT_FALSE(ui_.messages[1].contains(QStringLiteral("站点主机=")));
}

TEST_F(SeoWindowTest, ALogWithoutTimeTakenSaysSoInsteadOfAnEmptyList) {
    log_ = LogOf("date time c-ip cs-uri-stem sc-status cs(User-Agent)",
                 {"2013-05-01 00:00:01 1.1.1.1 /a.htm 200 Baiduspider"});
    ASSERT_NO_FATAL_FAILURE(open());
    showTab(StatsPage::Timing);
    const StatsTable core = corePage(StatsPage::Timing, {});
    ASSERT_FALSE(core.notice.empty());
    EXPECT_EQ(noticeText(), FromGbk(core.notice));
    EXPECT_FALSE(list_->isVisible());
    EXPECT_FALSE(button("按钮导出列表")->isEnabled());
    // Another page of the same log shows its list again.
    showTab(StatsPage::Sections);
    EXPECT_TRUE(noticeText().isEmpty());
    EXPECT_TRUE(list_->isVisible());
    EXPECT_EQ(list_->rowCount(), 1);
    EXPECT_TRUE(button("按钮导出列表")->isEnabled());
}

// A log big enough for a build to take many turns of the event loop.
ImportedLog LargeLog() {
    std::vector<std::string> lines;
    for (int i = 0; i < 150000; ++i) {
        lines.push_back("2013-05-01 00:00:01 1.1.1." + std::to_string(i % 250) + " /d" +
                        std::to_string(i % 97) + "/s" + std::to_string(i % 13) + "/p" +
                        std::to_string(i % 5000) + ".htm - " + (i % 11 == 0 ? "404" : "200") +
                        " 0 100 " + std::to_string(i % 300) + " " +
                        (i % 3 == 0 ? "Googlebot" : "Baiduspider"));
    }
    return LogOf(kFields, lines);
}

TEST_F(SeoWindowTest, ALargeBuildRunsBesideTheEventLoopWithItsProgress) {
    log_ = LargeLog();
    ASSERT_NO_FATAL_FAILURE(open());
    auto* bar = window_->findChild<QProgressBar*>(QStringLiteral("进度条统计"));
    EXPECT_FALSE(bar->isVisible());
    QSignalSpy progress(bar, &QProgressBar::valueChanged);
    int ticksWhileBuilding = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] { ticksWhileBuilding += window_->building(); });
    tick.start();
    QSignalSpy shown(window_.data(), &SeoWindow::pageShown);
    tabs_->setCurrentIndex(Tab(StatsPage::Sections));
    EXPECT_TRUE(window_->building());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(button("按钮停止统计")->caption(), QStringLiteral("停止统计"));
    EXPECT_FALSE(list_->isEnabled());
    EXPECT_FALSE(button("按钮导出列表")->isEnabled());
    ASSERT_TRUE(shown.wait(60000));
    tick.stop();
    EXPECT_GT(ticksWhileBuilding, 0);
    ASSERT_GE(progress.count(), 1);
    EXPECT_EQ(progress.last().at(0).toInt(), 1000);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(list_->isEnabled());
    EXPECT_EQ(button("按钮停止统计")->caption(), QStringLiteral("重新统计"));
    expectShows(StatsPage::Sections, {});
}

TEST_F(SeoWindowTest, AStoppedBuildLeavesNoHalfList) {
    log_ = LargeLog();
    ASSERT_NO_FATAL_FAILURE(open());
    showTab(StatsPage::Timing);
    ASSERT_GT(list_->rowCount(), 0);
    QSignalSpy shown(window_.data(), &SeoWindow::pageShown);
    QSignalSpy stopped(window_.data(), &SeoWindow::buildStopped);
    // Asked for and stopped before the event loop turns: whatever the
    // worker got to, nothing of it may show.
    tabs_->setCurrentIndex(Tab(StatsPage::Flapping));
    ASSERT_TRUE(window_->building());
    QTest::mouseClick(button("按钮停止统计"), Qt::LeftButton);
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_FALSE(window_->building());
    QTest::qWait(300);
    EXPECT_EQ(shown.count(), 0);
    EXPECT_TRUE(window_->page().headers.empty());
    EXPECT_TRUE(window_->page().rows.empty());
    EXPECT_EQ(list_->rowCount(), 0);
    EXPECT_EQ(list_->columnCount(), 0);
    EXPECT_TRUE(statusText().contains(QStringLiteral("统计已停止")));
    EXPECT_EQ(button("按钮停止统计")->caption(), QStringLiteral("重新统计"));
    EXPECT_FALSE(button("按钮导出列表")->isEnabled());
    EXPECT_FALSE(window_->findChild<QProgressBar*>(QStringLiteral("进度条统计"))->isVisible());
    // Nothing to export of a stopped build.
    window_->exportList();
    EXPECT_TRUE(ui_.dialogs.empty());

    // 重新统计 builds the page of the controls again.
    waitForPage([&] { QTest::mouseClick(button("按钮停止统计"), Qt::LeftButton); });
    expectShows(StatsPage::Flapping, {});
}

TEST_F(SeoWindowTest, ASecondRequestWhileOneRunsReplacesIt) {
    log_ = LargeLog();
    ASSERT_NO_FATAL_FAILURE(open());
    QSignalSpy shown(window_.data(), &SeoWindow::pageShown);
    // Page, crawler and depth changed before the first build could end:
    // the last request is the one shown, once.
    tabs_->setCurrentIndex(Tab(StatsPage::Sections));
    filters_->setCurrentIndex(1);
    window_->findChild<DropDown*>(QStringLiteral("组合框目录层级"))->setCurrentIndex(1);
    ASSERT_TRUE(shown.wait(60000));
    QTest::qWait(200);
    EXPECT_EQ(shown.count(), 1);
    PageRequest request(SpiderFilterOfTab(log_.tally, 1));
    request.depth = 2;
    expectShows(StatsPage::Sections, request);

    // So does the coverage page before a URL list, which needs no build.
    tabs_->setCurrentIndex(Tab(StatsPage::Timing));
    ASSERT_TRUE(window_->building());
    tabs_->setCurrentIndex(Tab(StatsPage::Coverage));
    EXPECT_FALSE(window_->building());
    EXPECT_TRUE(noticeText().contains(QStringLiteral("选择URL清单")));
    EXPECT_EQ(button("按钮停止统计")->caption(), QStringLiteral("重新统计"));
    EXPECT_FALSE(window_->findChild<QProgressBar*>(QStringLiteral("进度条统计"))->isVisible());
    QTest::qWait(200);
    EXPECT_EQ(window_->shownPage(), StatsPage::Coverage);
    EXPECT_TRUE(window_->page().rows.empty());
}

TEST_F(SeoWindowTest, ExportAndRowCopyAreTheStatisticsLists) {
    ASSERT_NO_FATAL_FAILURE(open());
    showTab(StatsPage::Sections);
    const StatsTable core = corePage(StatsPage::Sections, {});
    // What the statistics window's export writes for a page: its list
    // format, GBK.
    const auto listBytes = [&](bool csv) {
        StringSink sink;
        EXPECT_TRUE(WriteTextTable(core.headers, core.rows, csv, sink));
        return sink.text();
    };
    QSignalSpy exported(window_.data(), &SeoWindow::exportEnded);
    const std::string csv = (dir_.dir() / "sections.CSV").string();
    ui_.answers.push_back(QString::fromStdString(csv));
    QTest::mouseClick(button("按钮导出列表"), Qt::LeftButton);
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_TRUE(exported.last().at(0).toBool());
    EXPECT_EQ(ui_.dialogs.back().title, QStringLiteral("导出列表数据"));
    EXPECT_EQ(ui_.dialogs.back().initialFilter, 0);
    EXPECT_EQ(ui_.dialogs.back().defaultSuffix, QStringLiteral("csv"));
    EXPECT_EQ(ReadFile(csv), listBytes(true));
    EXPECT_NE(ReadFile(csv).find(Gbk("\"/文章/\"")), std::string::npos);
    EXPECT_EQ(ui_.messages.back(), QStringLiteral("保存完毕！") + QString::fromStdString(csv));

    // A right click on the tabs exports too; a text file has no header.
    const std::string txt = (dir_.dir() / "sections.txt").string();
    ui_.answers.push_back(QString::fromStdString(txt));
    emit tabs_->rightClicked();
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_EQ(ReadFile(txt), listBytes(false));

    // Never over the imported log.
    const std::string logPath = (dir_.dir() / "ex130501.log").string();
    std::ofstream(logPath, std::ios::binary) << "log";
    log_.path = logPath;
    ui_.answers.push_back(QString::fromStdString(logPath));
    emit list_->headerRightClicked();
    ASSERT_EQ(exported.count(), 3);
    EXPECT_FALSE(exported.last().at(0).toBool());
    EXPECT_TRUE(ui_.messages.back().contains(QStringLiteral("已导入的日志文件")));
    EXPECT_EQ(ReadFile(logPath), "log");

    list_->setSelectedRow(-1);
    emit list_->rowRightClicked();
    EXPECT_EQ(ui_.clipboardText, QString());
    EXPECT_EQ(ui_.beeps, 1);
    list_->setSelectedRow(1);
    emit list_->rowRightClicked();
    QStringList row;
    for (const std::string& cell : core.rows[1]) {
        row << FromGbk(cell);
    }
    EXPECT_EQ(ui_.clipboardText, row.join(QLatin1Char(',')));
    EXPECT_EQ(ui_.beeps, 2);
}

// Every visible control and every tab of both strips, in window
// coordinates, on every page and in a larger window: a click lands on one
// thing only, and every caption shows whole in the fonts the system has.
TEST_F(SeoWindowTest, ControlsNeitherOverlapNorCutTheirCaptions) {
    ASSERT_NO_FATAL_FAILURE(open());
    for (const QSize size : {window_->size(), QSize(1200, 700)}) {
        window_->resize(size);
        for (const StatsPage page : SeoPages()) {
            SCOPED_TRACE(StatsPageEntryOf(page).cliName.data());
            showTab(page);
            struct Box {
                QString name;
                QRect rect;
                const QWidget* widget = nullptr;
            };
            std::vector<Box> boxes;
            for (const TabStrip* strip : {tabs_, filters_}) {
                for (int t = 0; t < strip->count(); ++t) {
                    const QRect tab = strip->tabRect(t);
                    boxes.push_back({strip->objectName() + QStringLiteral(" tab %1").arg(t),
                                     QRect(strip->mapTo(window_, tab.topLeft()), tab.size())});
                    EXPECT_LE(strip->fontMetrics().horizontalAdvance(strip->tabText(t)),
                              tab.width());
                }
            }
            for (const ControlDescription& c : SeoWindowDescription().controls) {
                const auto* w = window_->findChild<QWidget*>(QString::fromUtf8(c.name));
                ASSERT_NE(w, nullptr) << c.name;
                if (!w->isVisible() || w == tabs_ || w == filters_) {
                    continue;
                }
                boxes.push_back(
                    {w->objectName(), QRect(w->mapTo(window_, QPoint()), w->size()), w});
                EXPECT_TRUE(window_->rect().contains(boxes.back().rect)) << c.name;
                if (const auto* b = qobject_cast<const Button*>(w)) {
                    // The caption and the button's frame and margins.
                    EXPECT_LE(b->fontMetrics().horizontalAdvance(b->caption()) + 10, b->width())
                        << c.name;
                } else if (const auto* box = qobject_cast<const DropDown*>(w)) {
                    EXPECT_LE(box->sizeHint().width(), box->width()) << c.name;
                }
            }
            for (std::size_t a = 0; a < boxes.size(); ++a) {
                for (std::size_t b = a + 1; b < boxes.size(); ++b) {
                    const QWidget* wa = boxes[a].widget;
                    const QWidget* wb = boxes[b].widget;
                    if (wa != nullptr && wb != nullptr &&
                        (wa->isAncestorOf(wb) || wb->isAncestorOf(wa))) {
                        continue; // a container holds its controls
                    }
                    EXPECT_FALSE(boxes[a].rect.intersects(boxes[b].rect))
                        << boxes[a].name.toStdString() << " / " << boxes[b].name.toStdString();
                }
            }
        }
    }
}

// Opened from the statistics window's URL page, as 蜘蛛真伪 is from its IP
// page: one window at a time, the statistics window's child.
TEST(SeoWindowOpeningTest, TheUrlPageOpensItAndItGoesWithTheStatisticsWindow) {
    FakeUiSeam ui;
    TempFile dir("");
    const std::string ini = (dir.dir() / "logdesk.ini").string();
    std::ofstream(ini, std::ios::binary) << Gbk("[更多精细统计]\r\n站点主机=shop.example.com\r\n");
    ConfigFile config(ini);
    StatsSession session;
    ImportedLog log = LogOf(kFields, kLines);
    QPointer<StatsWindow> stats = new StatsWindow(log, config, session, nullptr);
    auto* tabs = stats->findChild<TabStrip*>(QStringLiteral("选择夹"));
    QSignalSpy shown(stats.data(), &StatsWindow::pageShown);
    stats->show();
    ASSERT_TRUE(shown.wait(10000));
    auto* open = stats->findChild<Button*>(QStringLiteral("按钮抓取分析"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->caption(), QStringLiteral("抓取分析"));
    EXPECT_LE(open->fontMetrics().horizontalAdvance(open->caption()) + 10, open->width());
    EXPECT_FALSE(open->isVisible());
    tabs->setCurrentIndex(StatsPageEntryOf(StatsPage::Url).tab);
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_TRUE(open->isVisible());
    EXPECT_TRUE(open->isEnabled());

    QTest::mouseClick(open, Qt::LeftButton);
    QPointer<SeoWindow> seo = qobject_cast<SeoWindow*>(stats->seoWindow());
    ASSERT_NE(seo, nullptr);
    EXPECT_EQ(seo->parentWidget(), stats.data());
    EXPECT_TRUE(seo->isWindow());
    EXPECT_TRUE(seo->isVisible());
    EXPECT_EQ(seo->windowTitle(), QStringLiteral("抓取分析"));
    QTest::mouseClick(open, Qt::LeftButton);
    EXPECT_EQ(stats->seoWindow(), seo.data()) << "a second click brings the same one forward";

    // It reads the statistics window's log and its site host setting.
    QSignalSpy seoShown(seo.data(), &SeoWindow::pageShown);
    seo->findChild<TabStrip*>(QStringLiteral("选择夹"))->setCurrentIndex(Tab(StatsPage::Timing));
    ASSERT_TRUE(seoShown.count() > 0 || seoShown.wait(10000));
    EXPECT_TRUE(testing::SamePage(seo->page(), BuildStatsPage(StatsPage::Timing, log.table,
                                                              log.header.fieldMap, log.tally, {})));
    const std::string mixed = (dir.dir() / "mixed.txt").string();
    std::ofstream(mixed, std::ios::binary) << "https://www.example.com/a\n"
                                              "https://shop.example.com/b\n";
    ui.fileLists.push_back(QStringList{QString::fromStdString(mixed)});
    seo->findChild<TabStrip*>(QStringLiteral("选择夹"))->setCurrentIndex(Tab(StatsPage::Coverage));
    QSignalSpy read(seo.data(), &SeoWindow::urlListRead);
    seoShown.clear();
    seo->chooseUrlList();
    ASSERT_TRUE(read.wait(10000));
    EXPECT_TRUE(read.at(0).at(0).toBool()) << ui.messages.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(seoShown.count() > 0 || seoShown.wait(10000));
    ASSERT_NE(seo->siteUrls(), nullptr);
    EXPECT_EQ(seo->siteUrls()->host, "shop.example.com");
    EXPECT_EQ(seo->siteUrls()->urls.size(), 1u);
    // The line above the list says what was left out.
    EXPECT_TRUE(seo->findChild<Label*>(QStringLiteral("标签状态"))
                    ->text()
                    .contains(QStringLiteral("另有 1 个其他主机的URL未计入")));

    // It goes when the statistics window goes, before the log it reads.
    stats->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(stats.isNull());
    EXPECT_TRUE(seo.isNull());
}

} // namespace
} // namespace logdesk
