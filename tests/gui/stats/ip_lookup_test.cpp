// The IP page's lookups against a search site on 127.0.0.1.
#include "core/logimport/imported_log.h"
#include "core/net/http_fetch.h"
#include "core/settings/config_file.h"
#include "gui/stats/stats_table_model.h"
#include "gui/stats/stats_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "support/local_http_server.h"
#include "support/mmdb_writer.h"
#include "core/text/gbk_codec.h"
#include "gui/stats/stats_session.h"
#include "gui/toolkit/controls.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::TempFile;

std::string Answer(const std::string& request) {
    // "GET /baidu?word=1.1.1.2 HTTP/1.1" names the IP; the page says where.
    const std::size_t word = request.find("word=") + 5;
    const std::string ip = request.substr(word, request.find(' ', word) - word);
    const std::string body = "<html><head><meta charset=\"gbk\"></head><body>" +
                             Gbk("来&nbsp;&nbsp;&nbsp;自:&nbsp;<strong>place-of-") + ip +
                             "</strong></body></html>";
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

class IpLookupTest : public ::testing::Test {
protected:
    TempFile dir_{""};
    ConfigFile config_{(dir_.dir() / "logdesk.ini").string()};
    FakeUiSeam ui_;
    ImportedLog log_;
    StatsSession app_;
    StatsWindow* window_ = nullptr;
    ReportList* list_ = nullptr;

    // `database`: the local IP database the settings name, if any.
    void open(int port, const std::string& database = {}) {
        config_.selectSection(Gbk("更多精细统计"));
        ASSERT_TRUE(config_.writeText(Gbk("IP查询主机"), "127.0.0.1:" + std::to_string(port)));
        if (!database.empty()) {
            ASSERT_TRUE(config_.writeText(Gbk("IP数据库"), Utf8ToGbk(database)));
        }
        LogImport r = testing::Imported(
            ImportLogBytes("#Fields: c-ip cs(User-Agent)\r\n1.1.1.1 Baiduspider\r\n"
                           "1.1.1.2 Googlebot\r\n1.1.1.3 Baiduspider\r\n"));
        log_ = {r.table, r.header, r.tally};
        window_ = new StatsWindow(log_, config_, app_, nullptr);
        list_ = window_->findChild<ReportList*>(QStringLiteral("列表框"));
        QSignalSpy shown(window_, &StatsWindow::pageShown);
        window_->show();
        ASSERT_TRUE(shown.wait(10000));
        window_->findChild<TabStrip*>(QStringLiteral("选择夹"))->setCurrentIndex(2);
        ASSERT_TRUE(shown.wait(10000));
    }
    void TearDown() override {
        if (window_ != nullptr) {
            window_->close();
        }
    }
    Button* button(const char* name) {
        return window_->findChild<Button*>(QString::fromUtf8(name));
    }
    // Clicks a lookup button and waits for the lookup, or the run, to end.
    void clickAndWait(const char* name) {
        const bool run = std::string_view(name) == "按钮查询全部ip";
        QSignalSpy ended(window_, run ? &StatsWindow::lookupRunEnded : &StatsWindow::lookupEnded);
        QTest::mouseClick(button(name), Qt::LeftButton);
        ASSERT_TRUE(ended.wait(20000)) << name;
    }
};

TEST_F(IpLookupTest, LocatesTheSelectedIp) {
    LocalHttpServer server(4, Answer);
    open(server.port());
    QTest::mouseClick(button("按钮查询选中ip"), Qt::LeftButton);
    ASSERT_EQ(ui_.messages.size(), 1);
    EXPECT_EQ(ui_.messages[0], QStringLiteral("当前还没有选中IP！"));
    EXPECT_TRUE(server.requests().empty());

    list_->setSelectedRow(1);
    clickAndWait("按钮查询选中ip");
    EXPECT_EQ(list_->cellText(1, 3), QStringLiteral("place-of-1.1.1.2"));
    // The column widened for the location: it shows whole.
    EXPECT_GE(list_->columnWidth(3),
              list_->fontMetrics().horizontalAdvance(QStringLiteral("place-of-1.1.1.2")));
    EXPECT_EQ(list_->cellText(0, 3), QString());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].substr(0, 31), "GET /baidu?word=1.1.1.2 HTTP/1.");

    QTest::mouseClick(button("按钮百度该IP"), Qt::LeftButton);
    ASSERT_EQ(ui_.urls.size(), 1u);
    EXPECT_EQ(ui_.urls[0].toString(),
              QStringLiteral("http://127.0.0.1:%1/baidu?word=1.1.1.2").arg(server.port()));
}

TEST_F(IpLookupTest, RunOverAllIpsSkipsFilledRowsAndStops) {
    LocalHttpServer server(4, Answer);
    open(server.port());
    auto* model = static_cast<StatsTableModel*>(list_->model());
    model->setCell(0, 3, "known");
    // Ask for the stop during the first lookup's pause.
    int lookups = 0;
    QObject::connect(window_, &StatsWindow::lookupEnded, [&] {
        if (++lookups == 1) {
            QTimer::singleShot(0, [&] {
                QTest::mouseClick(button("按钮查询全部ip"), Qt::LeftButton);
                EXPECT_EQ(button("按钮查询全部ip")->caption(), QStringLiteral("停止查询中.."));
            });
        }
    });
    QElapsedTimer clock;
    clock.start();
    clickAndWait("按钮查询全部ip");
    EXPECT_LT(clock.elapsed(), 1400); // the pause was cut short
    EXPECT_EQ(button("按钮查询全部ip")->caption(), QStringLiteral("查询全部IP"));
    EXPECT_EQ(list_->cellText(0, 3), QStringLiteral("known"));
    EXPECT_EQ(list_->cellText(1, 3), QStringLiteral("place-of-1.1.1.2"));
    EXPECT_EQ(list_->cellText(2, 3), QString());
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(IpLookupTest, ARebuiltPageGetsNoStaleLocation) {
    std::atomic<bool> release{false};
    LocalHttpServer server(4, [&](const std::string& request) {
        while (!release) {
            std::this_thread::yield();
        }
        return Answer(request);
    });
    open(server.port());
    list_->setSelectedRow(0);
    // While the fetch waits, the user picks another crawler tab: the page is
    // rebuilt, and only then does the answer come.
    QObject::connect(window_, &StatsWindow::pageShown, [&] { release = true; });
    QTimer::singleShot(0, [&] {
        window_->findChild<TabStrip*>(QStringLiteral("选择夹蜘蛛"))->setCurrentIndex(1);
    });
    clickAndWait("按钮查询选中ip");
    EXPECT_TRUE(release);
    EXPECT_EQ(list_->rowCount(), 2); // 百度's IPs
    EXPECT_EQ(list_->cellText(0, 3), QString());
}

// The run over all IPs ends with the page it began on: whatever replaces the
// page or moves its rows during the first pause, no further row is read,
// fetched or written.
TEST_F(IpLookupTest, RunEndsWhenItsPageIsGone) {
    const LogImport other = testing::Imported(
        ImportLogBytes("#Fields: c-ip cs(User-Agent)\r\n1.1.1.1 Baiduspider\r\n"));
    struct Case {
        const char* name;
        std::function<void()> change;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"another page",
         [this] { window_->findChild<TabStrip*>(QStringLiteral("选择夹"))->setCurrentIndex(1); },
         [this] {
             EXPECT_EQ(list_->columnCount(), 3);
             EXPECT_EQ(list_->rowCount(), 0); // the log has no URLs
         }},
        {"another filter",
         [this] {
             window_->findChild<TabStrip*>(QStringLiteral("选择夹蜘蛛"))->setCurrentIndex(1);
         },
         [this] {
             ASSERT_EQ(list_->rowCount(), 2); // 百度's IPs
             EXPECT_EQ(list_->cellText(0, 3), QString());
             EXPECT_EQ(list_->cellText(1, 3), QString());
         }},
        {"a sort", [this] { emit list_->headerClicked(2); }, // 百度, 谷歌, 百度
         [this] {
             for (int r = 0; r < 3; ++r) {
                 const bool first = list_->cellText(r, 0) == QStringLiteral("1.1.1.1");
                 EXPECT_EQ(list_->cellText(r, 3),
                           first ? QStringLiteral("place-of-1.1.1.1") : QString());
             }
         }},
        {"an import",
         [this, &other] {
             log_ = {other.table, other.header, other.tally};
         },
         [this] { EXPECT_EQ(list_->cellText(1, 3), QString()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocalHttpServer server(4, Answer);
        open(server.port());
        bool changed = false;
        const QMetaObject::Connection once =
            QObject::connect(window_, &StatsWindow::lookupEnded, [&] {
                if (!changed) {
                    changed = true;
                    QTimer::singleShot(0, [&] { c.change(); });
                }
            });
        clickAndWait("按钮查询全部ip");
        QObject::disconnect(once);
        EXPECT_TRUE(changed);
        EXPECT_EQ(button("按钮查询全部ip")->caption(), QStringLiteral("查询全部IP"));
        EXPECT_EQ(server.requests().size(), 1u);
        c.check();
        window_->close();
        window_ = nullptr;
    }
}

// A sort while a lookup waits for its answer moves the status text with the
// IP's row, and the answer lands in the row that holds the IP by then.
TEST_F(IpLookupTest, LookupFollowsItsIpThroughASort) {
    std::atomic<bool> release{false};
    LocalHttpServer server(4, [&](const std::string& request) {
        while (!release) {
            std::this_thread::yield();
        }
        return Answer(request);
    });
    open(server.port());
    list_->setSelectedRow(1); // 1.1.1.2, 谷歌: any sort by crawler moves it
    const QString busy = QStringLiteral("正在查询中..");
    int movedTo = -1;
    QObject::connect(window_, &StatsWindow::sortEnded, [&] {
        for (int r = 0; r < list_->rowCount(); ++r) {
            if (list_->cellText(r, 0) == QStringLiteral("1.1.1.2")) {
                movedTo = r;
                EXPECT_EQ(list_->cellText(r, 3), busy);
            } else {
                EXPECT_EQ(list_->cellText(r, 3), QString());
            }
        }
        release = true;
    });
    QTimer::singleShot(0, [&] { emit list_->headerClicked(2); });
    clickAndWait("按钮查询选中ip");
    ASSERT_TRUE(release);
    ASSERT_NE(movedTo, 1);
    ASSERT_GE(movedTo, 0);
    EXPECT_EQ(list_->cellText(movedTo, 0), QStringLiteral("1.1.1.2"));
    EXPECT_EQ(list_->cellText(movedTo, 3), QStringLiteral("place-of-1.1.1.2"));
    for (int r = 0; r < list_->rowCount(); ++r) {
        if (r != movedTo) {
            EXPECT_EQ(list_->cellText(r, 3), QString()) << r;
        }
    }
}

// A database for the log's IPs: 1.1.1.1 in a city, 1.1.1.2 in a country
// only, 1.1.1.3 in no network.
std::string LocalDatabase() {
    using namespace testing;
    MmdbWriter writer(6, "GeoLite2-City");
    writer.add("1.1.1.1/32",
               MmdbMap({{"country", MmdbMap({{"names", MmdbNames("China", "中国")}})},
                        {"subdivisions",
                         MmdbArray({MmdbMap({{"names", MmdbNames("Guangdong", "广东")}})})},
                        {"city", MmdbMap({{"names", MmdbNames("Shenzhen", "深圳")}})}}));
    writer.add("1.1.1.2/32",
               MmdbMap({{"country", MmdbMap({{"names", MmdbNames("United States", "美国")}})}}));
    return writer.bytes();
}

// With a local database every lookup reads it: no page is fetched (the
// search site on 127.0.0.1 would answer, so a fetch would show), the run
// needs no pauses, and a double click reads it too.
TEST_F(IpLookupTest, LocalDatabaseAnswersWithoutTheWeb) {
    LocalHttpServer server(4, Answer);
    const TempFile database(LocalDatabase(), "城市.mmdb");
    open(server.port(), database.path());
    auto* model = static_cast<StatsTableModel*>(list_->model());
    model->setCell(0, 3, "known");

    QElapsedTimer clock;
    clock.start();
    clickAndWait("按钮查询全部ip");
    EXPECT_LT(clock.elapsed(), 1400); // no paced walk
    EXPECT_EQ(button("按钮查询全部ip")->caption(), QStringLiteral("查询全部IP"));
    EXPECT_EQ(list_->cellText(0, 3), QStringLiteral("known"));
    EXPECT_EQ(list_->cellText(1, 3), QStringLiteral("美国"));
    EXPECT_EQ(list_->cellText(2, 3), QString());

    list_->setSelectedRow(0);
    QSignalSpy ended(window_, &StatsWindow::lookupEnded);
    emit list_->doubleClicked(model->index(0, 0));
    ASSERT_TRUE(ended.wait(10000));
    EXPECT_EQ(list_->cellText(0, 3), QStringLiteral("中国 广东 深圳"));
    EXPECT_GE(list_->columnWidth(3),
              list_->fontMetrics().horizontalAdvance(QStringLiteral("中国 广东 深圳")));
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(ui_.messages.empty());
}

// A database that cannot be read: one message naming it for each click,
// no location and no fetch in its place.
TEST_F(IpLookupTest, UnreadableDatabaseIsToldOnce) {
    LocalHttpServer server(4, Answer);
    const TempFile dir("");
    const std::string missing = (dir.dir() / "none.mmdb").string();
    open(server.port(), missing);

    clickAndWait("按钮查询全部ip");
    ASSERT_EQ(ui_.messages.size(), 1);
    EXPECT_TRUE(ui_.messages[0].startsWith(QStringLiteral("无法读取IP数据库：")));
    EXPECT_TRUE(ui_.messages[0].contains(QString::fromStdString(missing)));
    EXPECT_EQ(button("按钮查询全部ip")->caption(), QStringLiteral("查询全部IP"));

    // Two lookups asked for before the first fails: still one message.
    QSignalSpy ended(window_, &StatsWindow::lookupEnded);
    list_->setSelectedRow(1);
    window_->locateSelectedIp();
    list_->setSelectedRow(2);
    window_->locateSelectedIp();
    while (ended.count() < 2) {
        ASSERT_TRUE(ended.wait(10000));
    }
    EXPECT_EQ(ui_.messages.size(), 2);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(list_->cellText(r, 3), QString()) << r;
    }
    EXPECT_TRUE(server.requests().empty());
}

} // namespace
} // namespace logdesk
