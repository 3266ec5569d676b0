#include "core/logimport/imported_log.h"
#include "core/net/http_fetch.h"
#include "core/settings/config_file.h"
#include "gui/stats/stats_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "gui/stats/stats_session.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/window_description.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::ReadFile;
using testing::TempFile;

const char* const kLog = "#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status "
                         "cs(User-Agent)\r\n"
                         "2013-05-01 00:15:30 1.1.1.1 /a.htm 200 0 Baiduspider\r\n"
                         "2013-05-01 01:00:00 1.1.1.2 /b.htm 404 2 Googlebot\r\n"
                         "2013-05-01 01:10:00 1.1.1.1 /a.htm 200 0 Baiduspider\r\n"
                         "2013-05-01 23:59:59 1.1.1.3 /a.htm 404 2 Mozilla\r\n"
                         "2013-05-01 23:00:00 1.1.1.3 /c.htm 200 0 Mozilla\r\n";

class StatsWindowTest : public ::testing::Test {
protected:
    TempFile dir_{""};
    ConfigFile config_{(dir_.dir() / "logdesk.ini").string()};
    FakeUiSeam ui_;
    ImportedLog log_;
    StatsSession app_;
    StatsWindow* window_ = nullptr;
    ReportList* list_ = nullptr;
    TabStrip* tabs_ = nullptr;
    TabStrip* filters_ = nullptr;

    void SetUp() override {
        LogImport r = testing::Imported(ImportLogBytes(kLog));
        log_ = {r.table, r.header, r.tally};
        window_ = new StatsWindow(log_, config_, app_, nullptr);
        list_ = window_->findChild<ReportList*>(QStringLiteral("列表框"));
        tabs_ = window_->findChild<TabStrip*>(QStringLiteral("选择夹"));
        filters_ = window_->findChild<TabStrip*>(QStringLiteral("选择夹蜘蛛"));
        QSignalSpy shown(window_, &StatsWindow::pageShown);
        window_->show();
        ASSERT_TRUE(shown.wait(10000));
    }
    void TearDown() override { window_->close(); }

    void showPage(int page) {
        QSignalSpy shown(window_, &StatsWindow::pageShown);
        tabs_->setCurrentIndex(page);
        ASSERT_TRUE(shown.wait(10000));
    }
    bool red(int row, int column) const {
        return list_->model()->data(list_->model()->index(row, column), Qt::ForegroundRole) ==
               QColor(255, 0, 0);
    }
    // Clicks a column header; `wait` waits for the sort's result.
    void clickHeader(int column, bool wait = true) {
        QSignalSpy sorted(window_, &StatsWindow::sortEnded);
        QTest::mouseClick(list_->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(list_->horizontalHeader()->sectionViewportPosition(column) +
                                     list_->horizontalHeader()->sectionSize(column) / 2,
                                 3));
        if (wait) {
            ASSERT_TRUE(sorted.wait(60000));
        }
    }
};

TEST_F(StatsWindowTest, OpensOnTheSpiderTrafficPage) {
    QAbstractItemModelTester tester(list_->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(list_->rowCount(), 25);
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全天"));
    EXPECT_EQ(list_->columnTitle(1), QStringLiteral("百度"));
    EXPECT_TRUE(red(0, 1));
    EXPECT_FALSE(filters_->isVisible());
    EXPECT_TRUE(window_->isEnabled());
}

TEST_F(StatsWindowTest, UrlPageSortsWithTheSummaryPinned) {
    showPage(1);
    EXPECT_TRUE(filters_->isVisible());
    ASSERT_EQ(filters_->count(), 1 + log_.tally.length());
    EXPECT_EQ(filters_->tabText(0), QStringLiteral("所有流量"));
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全部URL"));
    EXPECT_EQ(list_->cellText(1, 0), QStringLiteral("/a.htm"));
    EXPECT_TRUE(red(0, 1));
    EXPECT_TRUE(red(0, 2));

    clickHeader(1); // visits, ascending
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全部URL"));
    EXPECT_EQ(list_->cellText(3, 0), QStringLiteral("/a.htm"));
    clickHeader(1); // descending
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全部URL"));
    EXPECT_EQ(list_->cellText(1, 0), QStringLiteral("/a.htm"));
    EXPECT_TRUE(red(0, 2));

    // A crawler tab filters; a page change comes back to all traffic.
    QSignalSpy shown(window_, &StatsWindow::pageShown);
    filters_->setCurrentIndex(1); // 百度
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_EQ(list_->rowCount(), 2);
    showPage(2);
    EXPECT_EQ(filters_->currentIndex(), 0);
    EXPECT_EQ(list_->rowCount(), 3);
    // Page 2 drops the marks: nothing is red.
    EXPECT_EQ(app_.cellMarks.size(), 0u);
}

TEST_F(StatsWindowTest, DoubleClicks) {
    showPage(1);
    auto* prefix = window_->findChild<EditBox*>(QStringLiteral("编辑框http前缀"));
    prefix->clear();
    list_->setSelectedRow(1);
    emit list_->doubleClicked(list_->model()->index(1, 0));
    ASSERT_EQ(ui_.messages.size(), 1);
    EXPECT_EQ(ui_.messages[0], QStringLiteral("在双击打开URL之前请先输入HTTP前缀"));
    EXPECT_TRUE(ui_.urls.empty());
    prefix->setText(QStringLiteral("http://example.org"));
    emit list_->doubleClicked(list_->model()->index(1, 0));
    ASSERT_EQ(ui_.urls.size(), 1u);
    EXPECT_EQ(ui_.urls[0], QUrl(QStringLiteral("http://example.org/a.htm")));

    showPage(3);
    auto* urls = window_->findChild<ListBox*>(QStringLiteral("列表框URL"));
    EXPECT_TRUE(urls->isVisible());
    EXPECT_EQ(list_->width(), window_->width() - urls->width());
    EXPECT_FALSE(red(0, 1));
    int row = -1;
    for (int r = 0; r < list_->rowCount(); ++r) {
        if (list_->cellText(r, 0) == QStringLiteral("404|2")) {
            row = r;
        }
    }
    ASSERT_GE(row, 0);
    list_->setSelectedRow(row);
    emit list_->doubleClicked(list_->model()->index(row, 0));
    ASSERT_EQ(urls->entryCount(), 3);
    EXPECT_EQ(urls->entryText(0), QStringLiteral("状态码：404|2"));
    EXPECT_EQ(urls->entryText(1), QStringLiteral("/b.htm"));
    EXPECT_EQ(urls->entryText(2), QStringLiteral("/a.htm"));
}

// Three days, written out of order.
const char* const kDaysLog = "#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status "
                             "cs(User-Agent)\r\n"
                             "2013-05-03 00:15:30 1.1.1.1 /a.htm 200 0 Baiduspider\r\n"
                             "2013-05-01 01:00:00 1.1.1.2 /b.htm 404 2 Googlebot\r\n"
                             "2013-05-02 01:10:00 1.1.1.1 /a.htm 200 0 Baiduspider\r\n"
                             "2013-05-01 23:59:59 1.1.1.3 /a.htm 404 2 Mozilla\r\n";

TEST_F(StatsWindowTest, TrafficByHourOrByDate) {
    auto* span = window_->findChild<DropDown*>(QStringLiteral("组合框时间单位"));
    ASSERT_NE(span, nullptr);
    EXPECT_TRUE(span->isVisible());
    EXPECT_EQ(span->currentText(), QStringLiteral("按小时"));
    EXPECT_EQ(span->itemText(1), QStringLiteral("按日期"));

    LogImport r = testing::Imported(ImportLogBytes(kDaysLog));
    log_ = {r.table, r.header, r.tally};
    QSignalSpy shown(window_, &StatsWindow::pageShown);
    span->setCurrentIndex(1);
    ASSERT_TRUE(shown.wait(10000));
    ASSERT_EQ(list_->rowCount(), 4);
    EXPECT_EQ(list_->columnTitle(0), QStringLiteral("时间"));
    EXPECT_EQ(list_->columnTitle(1), QStringLiteral("百度"));
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全部日期"));
    EXPECT_EQ(list_->cellText(1, 0), QStringLiteral("2013-05-01"));
    EXPECT_EQ(list_->cellText(3, 0), QStringLiteral("2013-05-03"));
    EXPECT_EQ(list_->cellText(0, 1), QStringLiteral("2"));
    for (int c = 1; c < list_->model()->columnCount(); ++c) {
        EXPECT_TRUE(red(0, c)) << c;
        EXPECT_FALSE(red(1, c)) << c;
    }
    EXPECT_FALSE(filters_->isVisible());

    // The summary stays on top, red, through a sort.
    clickHeader(1);
    clickHeader(1);
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全部日期"));
    EXPECT_TRUE(red(0, 1));

    // The choice lasts through other pages; the drop-down is tab 0's own.
    showPage(1);
    EXPECT_FALSE(span->isVisible());
    showPage(0);
    EXPECT_TRUE(span->isVisible());
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全部日期"));
    span->setCurrentIndex(0);
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_EQ(list_->rowCount(), 25);
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全天"));
}

TEST_F(StatsWindowTest, StatusPageByCrawler) {
    showPage(3);
    auto* urls = window_->findChild<ListBox*>(QStringLiteral("列表框URL"));
    EXPECT_TRUE(filters_->isVisible());
    ASSERT_EQ(filters_->count(), 1 + log_.tally.length());
    EXPECT_EQ(filters_->currentIndex(), 0);
    EXPECT_EQ(filters_->tabText(1), QStringLiteral("百度"));
    // The strip lies below both lists.
    EXPECT_LE(list_->geometry().bottom(), filters_->geometry().top());
    EXPECT_LE(urls->geometry().bottom(), filters_->geometry().top());
    EXPECT_EQ(list_->width(), window_->width() - urls->width());

    const auto rowOf = [&](const QString& key) {
        for (int r = 0; r < list_->rowCount(); ++r) {
            if (list_->cellText(r, 0) == key) {
                return r;
            }
        }
        return -1;
    };
    const auto urlsOf = [&](const QString& key) {
        const int row = rowOf(key);
        list_->setSelectedRow(row);
        emit list_->doubleClicked(list_->model()->index(row, 0));
        QStringList lines;
        for (int i = 0; i < urls->entryCount(); ++i) {
            lines << urls->entryText(i);
        }
        return lines;
    };
    EXPECT_EQ(urlsOf(QStringLiteral("200|0")),
              (QStringList{QStringLiteral("状态码：200|0"), QStringLiteral("/a.htm"),
                           QStringLiteral("/a.htm"), QStringLiteral("/c.htm")}));

    QSignalSpy shown(window_, &StatsWindow::pageShown);
    filters_->setCurrentIndex(1); // 百度
    ASSERT_TRUE(shown.wait(10000));
    ASSERT_EQ(list_->rowCount(), 1);
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("200|0"));
    EXPECT_EQ(list_->cellText(0, 1), QStringLiteral("2"));
    EXPECT_FALSE(red(0, 1));
    EXPECT_EQ(urlsOf(QStringLiteral("200|0")),
              (QStringList{QStringLiteral("状态码：200|0"), QStringLiteral("/a.htm"),
                           QStringLiteral("/a.htm")}));

    filters_->setCurrentIndex(2); // 谷歌
    ASSERT_TRUE(shown.wait(10000));
    ASSERT_EQ(list_->rowCount(), 1);
    EXPECT_EQ(urlsOf(QStringLiteral("404|2")),
              (QStringList{QStringLiteral("状态码：404|2"), QStringLiteral("/b.htm")}));

    // A page change comes back to all traffic.
    showPage(1);
    showPage(3);
    EXPECT_EQ(filters_->currentIndex(), 0);
    EXPECT_EQ(list_->rowCount(), 2);
}

TEST_F(StatsWindowTest, ExportsAndRowCopy) {
    showPage(1);
    QSignalSpy exported(window_, &StatsWindow::exportEnded);
    ui_.answers.push_back(QString::fromStdString((dir_.dir() / "urls.CSV").string()));
    emit tabs_->rightClicked();
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_EQ(ui_.dialogs.back().initialFilter, 0);
    EXPECT_EQ(GbkToUtf8(ReadFile((dir_.dir() / "urls.CSV").string())),
              "\"URL\",\"访问次数\",\"独立IP数\"\r\n\"全部URL\",\"5\",\"3\"\r\n"
              "\"/a.htm\",\"3\",\"2\"\r\n\"/b.htm\",\"1\",\"1\"\r\n\"/c.htm\",\"1\",\"1\"\r\n");
    EXPECT_TRUE(ui_.messages.back().startsWith(QStringLiteral("保存完毕！")));

    const std::string txt = (dir_.dir() / "urls.txt").string();
    ui_.answers.push_back(QString::fromStdString(txt));
    emit tabs_->rightClicked();
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_EQ(ui_.dialogs.back().fileName,
              QString::fromStdString((dir_.dir() / "urls.CSV").string()));
    EXPECT_EQ(GbkToUtf8(ReadFile(txt)),
              "全部URL,5,3\r\n/a.htm,3,2\r\n/b.htm,1,1\r\n/c.htm,1,1\r\n");

    // A right click on the column titles exports too.
    const std::string again = (dir_.dir() / "again.csv").string();
    ui_.answers.push_back(QString::fromStdString(again));
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            list_->horizontalHeader()->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(list_->horizontalHeader()->viewport(), &click);
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_EQ(ReadFile(again), ReadFile((dir_.dir() / "urls.CSV").string()));

    list_->setSelectedRow(-1);
    emit list_->rowRightClicked();
    EXPECT_EQ(ui_.clipboardText, QString());
    EXPECT_EQ(ui_.beeps, 1);
    list_->setSelectedRow(2);
    emit list_->rowRightClicked();
    EXPECT_EQ(ui_.clipboardText, QStringLiteral("/b.htm,1,1"));

    showPage(3);
    auto* urls = window_->findChild<ListBox*>(QStringLiteral("列表框URL"));
    const std::string lines = (dir_.dir() / "lines.txt").string();
    ui_.answers.push_back(QString::fromStdString(lines));
    emit urls->rightPressed();
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_EQ(ui_.dialogs.back().initialFilter, 1);
    EXPECT_EQ(ui_.messages.back(), QStringLiteral("已导出URL列表"));
    EXPECT_EQ(GbkToUtf8(ReadFile(lines)),
              "双击行可查询该状态的URL\r\n然后单击URL列表浏览器打开\r\n右击URL列表可导出\r\n");

    const QString bad = QString::fromStdString((dir_.dir() / "none" / "x.csv").string());
    ui_.answers.push_back(bad);
    emit tabs_->rightClicked();
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_FALSE(exported.last().at(0).toBool());
    EXPECT_EQ(ui_.messages.back(),
              QStringLiteral("无法保存文件：") + bad +
                  QStringLiteral("\r\ncannot create: No such file or directory"));
}

TEST_F(StatsWindowTest, ExportsNeverWriteOverTheImportedLog) {
    const std::string logPath = (dir_.dir() / "ex130501.log").string();
    std::ofstream(logPath, std::ios::binary) << kLog;
    log_.path = logPath;
    const std::string hardLink = (dir_.dir() / "urls.txt").string();
    std::filesystem::create_hard_link(logPath, hardLink);
    QSignalSpy ended(window_, &StatsWindow::exportEnded);

    ui_.answers.push_back(QString::fromStdString(logPath));
    emit tabs_->rightClicked();
    showPage(3);
    ui_.answers.push_back(QString::fromStdString(hardLink));
    emit window_->findChild<ListBox*>(QStringLiteral("列表框URL"))->rightPressed();

    ASSERT_EQ(ended.size(), 2);
    EXPECT_FALSE(ended.at(0).at(0).toBool());
    EXPECT_FALSE(ended.at(1).at(0).toBool());
    ASSERT_EQ(ui_.messages.size(), 2);
    EXPECT_TRUE(ui_.messages[0].startsWith(QStringLiteral("无法保存文件：") +
                                           QString::fromStdString(logPath)));
    EXPECT_TRUE(ui_.messages[1].contains(QString::fromStdString(hardLink)));
    EXPECT_TRUE(ui_.messages[1].contains(QStringLiteral("已导入的日志文件")));
    EXPECT_EQ(ReadFile(logPath), kLog);
}

TEST_F(StatsWindowTest, PrefixesPersist) {
    window_->findChild<EditBox*>(QStringLiteral("编辑框http前缀1"))
        ->setText(QStringLiteral("http://site.example/"));
    window_->close();
    // Under the names settings files have always used.
    EXPECT_EQ(ReadFile((dir_.dir() / "logdesk.ini").string()),
              Gbk("[更多精细统计]\r\nHTTP前缀=http://www.baidu.com/\r\n"
                  "HTTP前缀1=http://site.example/\r\n"));
    window_ = new StatsWindow(log_, config_, app_, nullptr);
    EXPECT_EQ(window_->findChild<EditBox*>(QStringLiteral("编辑框http前缀1"))->text(),
              QStringLiteral("http://site.example/"));
    QSignalSpy shown(window_, &StatsWindow::pageShown);
    window_->show();
    ASSERT_TRUE(shown.wait(10000));
}

TEST_F(StatsWindowTest, PrefixesThatCannotBeSavedAreReportedOnce) {
    const std::string path = (dir_.dir() / "none" / "logdesk.ini").string();
    ConfigFile unwritable(path);
    auto* window = new StatsWindow(log_, unwritable, app_, nullptr);
    QSignalSpy shown(window, &StatsWindow::pageShown);
    window->show();
    ASSERT_TRUE(shown.wait(10000));
    ui_.messages.clear();
    window->close();
    EXPECT_EQ(ui_.messages,
              QStringList{QStringLiteral("无法保存设置：") + QString::fromStdString(path) +
                          QStringLiteral("\r\ncannot create: No such file or directory")});
}

// IP i of the large log visits 1 + i % 7 times.
std::string LargeIpLog(int ips) {
    std::string log = "#Fields: c-ip cs(User-Agent)\r\n";
    for (int i = 0; i < ips; ++i) {
        const std::string line = "10." + std::to_string(i / 65536) + "." +
                                 std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) +
                                 " Baiduspider\r\n";
        for (int v = 0; v <= i % 7; ++v) {
            log += line;
        }
    }
    return log;
}

TEST_F(StatsWindowTest, ALargeSortRunsBesideTheEventLoop) {
    constexpr int kIps = 60000;
    LogImport r = testing::Imported(ImportLogBytes(LargeIpLog(kIps)));
    log_ = {r.table, r.header, r.tally};
    showPage(2);
    ASSERT_EQ(list_->rowCount(), kIps);
    list_->setSelectedRow(5); // 10.0.0.5, 6 visits

    int ticksWhileSorting = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] { ticksWhileSorting += window_->sorting(); });
    tick.start();
    QSignalSpy sorted(window_, &StatsWindow::sortEnded);
    clickHeader(1, false);
    EXPECT_TRUE(window_->sorting());
    EXPECT_FALSE(window_->isEnabled());
    emit list_->headerClicked(1); // ignored while the first one sorts
    ASSERT_TRUE(sorted.wait(60000));
    tick.stop();
    EXPECT_GT(ticksWhileSorting, 0);
    EXPECT_TRUE(window_->isEnabled());
    EXPECT_FALSE(window_->sorting());
    EXPECT_EQ(sorted.size(), 1);

    // Whole rows in order of their visits, one way or the other (the
    // direction is the program's); the selection went with its row.
    const StatsTable& page = window_->page();
    ASSERT_EQ(page.rows.size(), static_cast<std::size_t>(kIps));
    const int first = std::stoi(page.rows.front()[1]);
    const int last = std::stoi(page.rows.back()[1]);
    EXPECT_EQ(std::abs(last - first), 6);
    for (std::size_t row = 0; row < page.rows.size(); ++row) {
        const std::string& ip = page.rows[row][0];
        int a = 0, b = 0, c = 0;
        ASSERT_EQ(std::sscanf(ip.c_str(), "10.%d.%d.%d", &a, &b, &c), 3) << ip;
        const int i = a * 65536 + b * 256 + c;
        ASSERT_EQ(std::stoi(page.rows[row][1]), 1 + i % 7) << ip;
        if (row > 0) {
            const int step = std::stoi(page.rows[row][1]) - std::stoi(page.rows[row - 1][1]);
            ASSERT_TRUE(first < last ? step >= 0 : step <= 0) << row;
        }
    }
    ASSERT_GE(list_->selectedRow(), 0);
    EXPECT_EQ(list_->cellText(list_->selectedRow(), 0), QStringLiteral("10.0.0.5"));
}

// A page shown while a sort of the one before runs: the sort's order, made
// for the old rows, must leave the new page as it was built.
TEST_F(StatsWindowTest, ASortOfAPageNoLongerShownLeavesTheNewOneAlone) {
    showPage(2); // IPs: 1.1.1.1, 1.1.1.2, 1.1.1.3
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    window_->setSortOrder([released](const StatsTable& page, int, bool, const CancelToken&) {
        released.wait();
        std::vector<std::uint32_t> reversed(page.rows.size());
        for (std::size_t i = 0; i < reversed.size(); ++i) {
            reversed[i] = static_cast<std::uint32_t>(reversed.size() - 1 - i);
        }
        return reversed;
    });
    QSignalSpy sorted(window_, &StatsWindow::sortEnded);
    clickHeader(1, false);
    ASSERT_TRUE(window_->sorting());
    showPage(1); // URLs: the summary, /a.htm, /b.htm, /c.htm
    release.set_value();
    ASSERT_TRUE(sorted.wait(10000));
    EXPECT_TRUE(window_->isEnabled());
    ASSERT_EQ(list_->rowCount(), 4);
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("全部URL"));
    EXPECT_EQ(list_->cellText(1, 0), QStringLiteral("/a.htm"));
    EXPECT_EQ(list_->cellText(3, 0), QStringLiteral("/c.htm"));
}

// Every visible control and every tab of both strips, in window coordinates,
// against each other: a click lands on one thing only.
TEST_F(StatsWindowTest, NoControlOverlapsAnother) {
    for (int page = 0; page < 4; ++page) {
        if (page > 0) {
            showPage(page);
        }
        struct Box {
            QString name;
            QRect rect;
            const QWidget* widget = nullptr;
        };
        std::vector<Box> boxes;
        for (const TabStrip* strip : {tabs_, filters_}) {
            for (int t = 0; strip->isVisible() && t < strip->count(); ++t) {
                const QRect tab = strip->tabRect(t);
                boxes.push_back({strip->objectName() + QStringLiteral(" tab %1").arg(t),
                                 QRect(strip->mapTo(window_, tab.topLeft()), tab.size())});
            }
        }
        for (const ControlDescription& c : StatsWindowDescription().controls) {
            const auto* w = window_->findChild<QWidget*>(QString::fromUtf8(c.name));
            if (w->isVisible() && w != tabs_ && w != filters_) {
                boxes.push_back(
                    {w->objectName(), QRect(w->mapTo(window_, QPoint()), w->size()), w});
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
                    << "page " << page << ": " << boxes[a].name.toStdString() << " "
                    << boxes[b].name.toStdString();
            }
        }
    }
}

} // namespace
} // namespace logdesk
