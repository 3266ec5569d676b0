// The window 蜘蛛真伪 offscreen, against the DNS server of tests/support.
#include "core/logimport/imported_log.h"
#include "core/verify/crawler_ranges.h"
#include "core/verify/verification_report.h"
#include "core/settings/config_file.h"
#include "core/settings/settings_keys.h"
#include "gui/stats/stats_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "support/local_dns_server.h"
#include "support/local_http_server.h"
#include "support/verify_log_fixture.h"
#include "gui/stats/stats_session.h"
#include "gui/toolkit/controls.h"
#include "gui/verify/verify_window.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::FakeUiSeam;
using testing::ReadFile;
using testing::TempFile;

std::string Golden(const std::string& name) {
    return ReadFile(std::string(LOGDESK_TEST_DATA) + "/" + name);
}

class VerifyWindowTest : public ::testing::Test {
protected:
    FakeUiSeam ui_;
    LocalDnsServer server_;
    ImportedLog log_;
    QPointer<VerifyWindow> window_;
    ReportList* list_ = nullptr;

    void SetUp() override {
        testing::ServeVerifyAnswers(server_);
        LogImport r = testing::Imported(ImportLogBytes(testing::kVerifyLog));
        log_ = {r.table, r.header, r.tally};
    }
    void TearDown() override {
        if (window_) {
            window_->close();
        }
    }

    std::string rangesFolder_;

    // Opens the window and waits until its claims are listed.
    void open(int timeoutMs) {
        ResolverSettings settings;
        settings.timeoutMs = timeoutMs;
        settings.attempts = 1;
        settings.servers = server_.servers();
        window_ = new VerifyWindow(log_, settings, nullptr, rangesFolder_);
        list_ = window_->findChild<ReportList*>(QStringLiteral("列表框"));
        QSignalSpy shown(window_.data(), &VerifyWindow::claimsShown);
        window_->show();
        ASSERT_TRUE(shown.wait(10000));
    }
    void openAndFinish() {
        ASSERT_NO_FATAL_FAILURE(open(150));
        QSignalSpy ended(window_.data(), &VerifyWindow::verifyEnded);
        ASSERT_TRUE(ended.wait(10000));
        EXPECT_TRUE(ended.at(0).at(0).toBool());
    }
    bool red(int row) const {
        const QVariant colour =
            list_->model()->data(list_->model()->index(row, 0), Qt::ForegroundRole);
        return colour.isValid() && colour.value<QColor>() == QColor(255, 0, 0);
    }
    // Answers the next save dialog with `path` and waits for the export.
    bool exportTo(void (VerifyWindow::*exporter)(), const QString& path) {
        ui_.answers.push_back(path);
        QSignalSpy ended(window_.data(), &VerifyWindow::exportEnded);
        (window_->*exporter)();
        return ended.wait(10000) && ended.at(0).at(0).toBool();
    }
};

TEST_F(VerifyWindowTest, ListsEveryClaimWithItsVerdictAndFakeRowsInRed) {
    ASSERT_NO_FATAL_FAILURE(openAndFinish());
    QAbstractItemModelTester tester(list_->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("蜘蛛真伪"));
    ASSERT_EQ(list_->rowCount(), 7);
    ASSERT_EQ(list_->columnCount(), 6);
    EXPECT_EQ(list_->columnTitle(1), QStringLiteral("声称蜘蛛"));
    EXPECT_EQ(list_->cellText(0, 0), QStringLiteral("1.1.1.1"));
    EXPECT_EQ(list_->cellText(0, 2), QStringLiteral("4"));
    EXPECT_EQ(list_->cellText(0, 3), QStringLiteral("crawl.baidu.com.evil.example"));
    EXPECT_EQ(list_->cellText(1, 4), QStringLiteral("真"));
    EXPECT_EQ(list_->cellText(3, 4), QStringLiteral("无法验证（DNS查询超时）"));
    // Red exactly where the conclusion is 假.
    for (int r = 0; r < list_->rowCount(); ++r) {
        EXPECT_EQ(red(r), list_->cellText(r, 4).startsWith(QStringLiteral("假")))
            << r << " " << list_->cellText(r, 4).toStdString();
    }
    EXPECT_TRUE(red(0));
    EXPECT_FALSE(red(1));

    auto* shares = window_->findChild<ReportList*>(QStringLiteral("列表框占比"));
    ASSERT_EQ(shares->rowCount(), 3);
    // 百度 claimed 9 of 13 visits and has 3 of the 4 genuine ones.
    EXPECT_EQ(shares->cellText(0, 0), QStringLiteral("百度(Baiduspider)"));
    EXPECT_EQ(shares->cellText(0, 2), QStringLiteral("69.23%"));
    EXPECT_EQ(shares->cellText(0, 4), QStringLiteral("75.00%"));
    EXPECT_EQ(shares->cellText(1, 4), QStringLiteral("25.00%"));
    EXPECT_EQ(shares->cellText(2, 3), QStringLiteral("无法验证"));

    EXPECT_FALSE(window_->findChild<QProgressBar*>(QStringLiteral("进度条验证"))->isVisible());
    EXPECT_FALSE(window_->findChild<Button*>(QStringLiteral("按钮停止验证"))->isEnabled());
    EXPECT_TRUE(window_->findChild<Button*>(QStringLiteral("按钮导出IIS规则"))->isEnabled());
}

TEST_F(VerifyWindowTest, ExportsTheListAndTheBlockRulesAsTheReportDoes) {
    ASSERT_NO_FATAL_FAILURE(openAndFinish());
    TempFile dir("");
    const QString csv = QString::fromStdString((dir.dir() / "verify.csv").string());
    ASSERT_TRUE(exportTo(&VerifyWindow::exportList, csv));
    EXPECT_EQ(GbkToUtf8(ReadFile(csv.toStdString())), Golden("report_verify.csv"));
    EXPECT_EQ(ui_.messages.back(), QStringLiteral("保存完毕！") + csv);

    const QString iis = QString::fromStdString((dir.dir() / "web.config").string());
    ASSERT_TRUE(exportTo(&VerifyWindow::exportIisRules, iis));
    EXPECT_EQ(ReadFile(iis.toStdString()), Golden("verify_block_rules.config"));
    const QString list = QString::fromStdString((dir.dir() / "fake.txt").string());
    ASSERT_TRUE(exportTo(&VerifyWindow::exportAddressList, list));
    EXPECT_EQ(ReadFile(list.toStdString()), Golden("verify_block_list.txt"));

    ASSERT_EQ(ui_.dialogs.size(), 3u);
    EXPECT_EQ(ui_.dialogs[0].defaultSuffix, QStringLiteral("csv"));
    EXPECT_EQ(ui_.dialogs[1].defaultSuffix, QStringLiteral("config"));
    EXPECT_EQ(ui_.dialogs[2].defaultSuffix, QStringLiteral("txt"));
    EXPECT_TRUE(ui_.dialogs[1].save);

    // The same button writes the PowerShell and appcmd exports by the
    // file type chosen.
    const QString ps1 = QString::fromStdString((dir.dir() / "block.ps1").string());
    ASSERT_TRUE(exportTo(&VerifyWindow::exportIisRules, ps1));
    EXPECT_EQ(ReadFile(ps1.toStdString()),
              BlockRules(BlockFormat::PowerShell,
                         AddressesToBlock(window_->claims(), window_->verdicts())));
    const QString cmd = QString::fromStdString((dir.dir() / "block.cmd").string());
    ASSERT_TRUE(exportTo(&VerifyWindow::exportIisRules, cmd));
    EXPECT_NE(ReadFile(cmd.toStdString()).find("/+\"[ipAddress='1.1.1.1',allowed='false']\""),
              std::string::npos);
    ui_.dialogs.resize(3);

    // A cancelled dialog writes nothing and says nothing.
    const auto messages = ui_.messages.size();
    ui_.answers.push_back(std::nullopt);
    window_->exportIisRules();
    EXPECT_FALSE(window_->exporting());
    EXPECT_EQ(ui_.messages.size(), messages);
}

TEST_F(VerifyWindowTest, AServerWithoutReverseNamesIsSaidPlainlyAndNothingIsRed) {
    server_.setNxdomainForEverything(true);
    ASSERT_NO_FATAL_FAILURE(openAndFinish());
    ASSERT_EQ(list_->rowCount(), 7);
    for (int r = 0; r < list_->rowCount(); ++r) {
        EXPECT_FALSE(red(r)) << r;
        EXPECT_FALSE(list_->cellText(r, 4).startsWith(QStringLiteral("假")));
    }
    EXPECT_EQ(list_->cellText(0, 4), QStringLiteral("无法验证（DNS服务器不回答反查）"));
    ASSERT_EQ(ui_.messages.size(), 1);
    EXPECT_TRUE(ui_.messages[0].startsWith(QStringLiteral("DNS服务器不回答反查")))
        << ui_.messages[0].toStdString();
    EXPECT_TRUE(window_->findChild<QLabel*>(QStringLiteral("标签状态"))
                    ->text()
                    .startsWith(QStringLiteral("DNS服务器不回答反查")));
    EXPECT_TRUE(AddressesToBlock(window_->claims(), window_->verdicts()).empty());
}

TEST_F(VerifyWindowTest, TheRangesButtonStoresTheListsAndTheNextRunTrustsThem) {
    const std::string json =
        R"({"creationTime":"2026-12-01","prefixes":[{"ipv4Prefix":"1.1.1.0/30"}]})";
    LocalHttpServer http(40, [&json](const std::string& request) {
        if (request.starts_with("GET /googlebot ")) {
            return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(json.size()) +
                   "\r\nConnection: close\r\n\r\n" + json;
        }
        return std::string("HTTP/1.1 500 Oops\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    TempFile dir("");
    rangesFolder_ = dir.dir().string();
    ASSERT_NO_FATAL_FAILURE(openAndFinish());
    auto* label = window_->findChild<QLabel*>(QStringLiteral("标签IP段"));
    EXPECT_EQ(label->text(), QStringLiteral("公布的IP段：未下载"));
    window_->setRangeUrls(
        [&http](const RangeSource& source) { return http.url("/" + std::string(source.id)); });
    QSignalSpy updated(window_.data(), &VerifyWindow::rangesUpdated);
    QTest::mouseClick(window_->findChild<Button*>(QStringLiteral("按钮更新IP段")), Qt::LeftButton);
    ASSERT_TRUE(updated.wait(20000));
    EXPECT_FALSE(updated.at(0).at(0).toBool()); // the other lists kept nothing
    EXPECT_EQ(label->text(), QStringLiteral("公布的IP段：googlebot 0天前"));
    ASSERT_FALSE(ui_.messages.isEmpty());
    EXPECT_TRUE(ui_.messages.back().contains(QStringLiteral("googlebot：1 段")))
        << ui_.messages.back().toStdString();
    EXPECT_TRUE(ui_.messages.back().contains(QStringLiteral("未能更新，保留原来的")));
    EXPECT_EQ(http.requests().size(), RangeSources().size());

    // A new window trusts the stored range for the engine claimed only:
    // 1.1.1.1 claimed Baiduspider, 1.1.1.2 Googlebot from inside the range.
    window_->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_NO_FATAL_FAILURE(openAndFinish());
    EXPECT_EQ(list_->cellText(0, 4), QStringLiteral("假（反查主机名不属于该蜘蛛的域名）"));
    EXPECT_EQ(list_->cellText(2, 0), QStringLiteral("1.1.1.2"));
    EXPECT_EQ(list_->cellText(2, 4), QStringLiteral("真（在该蜘蛛公布的IP段内）"));
}

TEST_F(VerifyWindowTest, StopEndsTheRunPromptlyWithWhatItSettled) {
    server_.setSilent(true);
    ASSERT_NO_FATAL_FAILURE(open(20000));
    EXPECT_TRUE(window_->verifying());
    EXPECT_TRUE(window_->findChild<QProgressBar*>(QStringLiteral("进度条验证"))->isVisible());
    // Listed at once, before any verdict.
    ASSERT_EQ(list_->rowCount(), 7);
    EXPECT_EQ(list_->cellText(0, 4), QString());
    QTest::qWait(100);

    QSignalSpy ended(window_.data(), &VerifyWindow::verifyEnded);
    const auto stopped = steady_clock::now();
    QTest::mouseClick(window_->findChild<Button*>(QStringLiteral("按钮停止验证")), Qt::LeftButton);
    ASSERT_TRUE(ended.wait(5000));
    EXPECT_LT(steady_clock::now() - stopped, milliseconds(1000));
    EXPECT_FALSE(ended.at(0).at(0).toBool());
    EXPECT_FALSE(window_->verifying());
    EXPECT_EQ(list_->cellText(0, 4), QStringLiteral("无法验证（验证已取消）"));
    // No rule, no lookup: that one was settled before the stop.
    EXPECT_EQ(list_->cellText(4, 4), QStringLiteral("无法验证（该蜘蛛没有公开的验证方法）"));
    EXPECT_FALSE(red(0));
}

TEST_F(VerifyWindowTest, ClosingMidRunReturnsPromptlyAndDeliversNothing) {
    server_.setSilent(true);
    ASSERT_NO_FATAL_FAILURE(open(20000));
    QSignalSpy ended(window_.data(), &VerifyWindow::verifyEnded);
    const auto closing = steady_clock::now();
    window_->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window_.isNull());
    EXPECT_LT(steady_clock::now() - closing, milliseconds(1000));
    QTest::qWait(50);
    EXPECT_EQ(ended.count(), 0);
}

// Shows a statistics window and waits for its IP page.
void ShowIpPage(StatsWindow& stats) {
    QSignalSpy shown(&stats, &StatsWindow::pageShown);
    stats.show();
    ASSERT_TRUE(shown.wait(10000));
    stats.findChild<TabStrip*>(QStringLiteral("选择夹"))->setCurrentIndex(2);
    ASSERT_TRUE(shown.wait(10000)); // the window takes no click while it builds
}

TEST(VerifyFromStatsWindowTest, TheIpPageButtonOpensOneWindowWithTheStoredResolver) {
    FakeUiSeam ui;
    LocalDnsServer server;
    server.addCrawler("220.181.108.89", "baiduspider-220-181-108-89.crawl.baidu.com");
    TempFile dir("");
    ConfigFile config((dir.dir() / "logdesk.ini").string());
    ASSERT_TRUE(config.write(settings::kVerifyDnsServers, server.servers()));
    ASSERT_TRUE(config.write(settings::kVerifyDnsTimeout, "300"));
    LogImport r = testing::Imported(
        ImportLogBytes("#Fields: c-ip cs(User-Agent)\r\n220.181.108.89 Baiduspider\r\n"));
    const ImportedLog log{r.table, r.header, r.tally};
    StatsSession app;
    QPointer<StatsWindow> stats = new StatsWindow(log, config, app, nullptr);
    ASSERT_NO_FATAL_FAILURE(ShowIpPage(*stats));
    auto* button = stats->findChild<Button*>(QStringLiteral("按钮验证蜘蛛"));
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    QPointer<VerifyWindow> verify = qobject_cast<VerifyWindow*>(stats->verifyWindow());
    ASSERT_FALSE(verify.isNull());
    QSignalSpy ended(verify.data(), &VerifyWindow::verifyEnded);
    ASSERT_TRUE(ended.wait(10000));
    auto* list = verify->findChild<ReportList*>(QStringLiteral("列表框"));
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->cellText(0, 4), QStringLiteral("真"));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(stats->verifyWindow(), verify.data());
    // Closing the statistics window takes the verification window with it.
    stats->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(stats.isNull());
    EXPECT_TRUE(verify.isNull());
}

TEST(VerifyFromStatsWindowTest, TheClientIpSettingNamesTheVisitorBehindAProxy) {
    FakeUiSeam ui;
    LocalDnsServer server;
    server.addCrawler("220.181.108.89", "baiduspider-220-181-108-89.crawl.baidu.com");
    TempFile dir("");
    ConfigFile config((dir.dir() / "logdesk.ini").string());
    ASSERT_TRUE(config.write(settings::kVerifyDnsServers, server.servers()));
    ASSERT_TRUE(config.write(settings::kVerifyClientIpField, "X-Forwarded-For"));
    LogImport r =
        testing::Imported(ImportLogBytes("#Fields: c-ip X-Forwarded-For cs(User-Agent)\r\n"
                                         "10.0.0.1 220.181.108.89,+10.0.0.3 Baiduspider\r\n"));
    const ImportedLog log{r.table, r.header, r.tally};
    StatsSession app;
    QPointer<StatsWindow> stats = new StatsWindow(log, config, app, nullptr);
    ASSERT_NO_FATAL_FAILURE(ShowIpPage(*stats));
    // The IP page counts the client, not the proxy.
    EXPECT_EQ(stats->page().rows.at(0).at(0), "220.181.108.89");
    QTest::mouseClick(stats->findChild<Button*>(QStringLiteral("按钮验证蜘蛛")), Qt::LeftButton);
    QPointer<VerifyWindow> verify = qobject_cast<VerifyWindow*>(stats->verifyWindow());
    ASSERT_FALSE(verify.isNull());
    QSignalSpy ended(verify.data(), &VerifyWindow::verifyEnded);
    ASSERT_TRUE(ended.wait(10000));
    auto* list = verify->findChild<ReportList*>(QStringLiteral("列表框"));
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->cellText(0, 0), QStringLiteral("220.181.108.89"));
    EXPECT_EQ(list->cellText(0, 4), QStringLiteral("真"));
    stats->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(VerifyWindowTest, SharedAddressesStayOutOfTheRulesUnlessTheSettingSaysSo) {
    std::string text = "#Fields: c-ip cs(User-Agent)\r\n1.1.1.1 Baiduspider/2.0\r\n"
                       "1.1.1.2 Googlebot/2.1\r\n";
    for (int i = 0; i < 20; ++i) {
        text += "1.1.1.1 Mozilla/5.0\r\n";
    }
    LogImport r = testing::Imported(ImportLogBytes(text));
    log_ = {r.table, r.header, r.tally};
    ASSERT_NO_FATAL_FAILURE(openAndFinish());
    EXPECT_EQ(list_->cellText(0, 5), QStringLiteral("20"));
    EXPECT_TRUE(window_->findChild<QLabel*>(QStringLiteral("标签状态"))
                    ->text()
                    .contains(QStringLiteral("1 个判为假的IP另有非蜘蛛的访问")));
    TempFile dir("");
    const QString path = QString::fromStdString((dir.dir() / "fake.txt").string());
    ASSERT_TRUE(exportTo(&VerifyWindow::exportAddressList, path));
    EXPECT_EQ(ReadFile(path.toStdString()), "1.1.1.2\r\n");
    window_->setBlockShared(true);
    ASSERT_TRUE(exportTo(&VerifyWindow::exportAddressList, path));
    EXPECT_EQ(ReadFile(path.toStdString()), "1.1.1.1\r\n1.1.1.2\r\n");
}

} // namespace
} // namespace logdesk
