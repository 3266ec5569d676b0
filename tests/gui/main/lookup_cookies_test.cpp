// The IP lookups of every statistics window the main window opens share one
// cookie jar, which lives as long as the main window.
#include "gui/main/main_window.h"
#include "gui/stats/stats_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "support/local_http_server.h"
#include "core/text/gbk_codec.h"
#include "gui/toolkit/controls.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::TempFile;

// The first answer sets a cookie; every answer names the place.
std::string Answer(const std::string& request) {
    static const std::string body =
        Gbk("<html><body>来&nbsp;&nbsp;&nbsp;自:&nbsp;<strong>somewhere</strong></body></html>");
    const bool first = request.find("Cookie:") == std::string::npos;
    return Reply("200 OK", first ? "Set-Cookie: SID=s1; path=/\r\n" : "", body);
}

std::string CookieLine(const std::string& request) {
    for (const std::string& line : HeadLines(request)) {
        if (line.starts_with("Cookie:")) {
            return line;
        }
    }
    return {};
}

// Opens the statistics window through its button, shows the IP page and
// locates its first IP `times` times.
void LookUpIn(MainWindow& window, int times) {
    QTest::mouseClick(window.findChild<Button*>(QStringLiteral("按钮精细化统计分析")),
                      Qt::LeftButton);
    auto* stats = window.findChild<StatsWindow*>();
    ASSERT_NE(stats, nullptr);
    QSignalSpy shown(stats, &StatsWindow::pageShown);
    if (stats->page().headers.empty()) {
        ASSERT_TRUE(shown.wait(10000)); // page 0, built when the window shows
    }
    stats->findChild<TabStrip*>(QStringLiteral("选择夹"))->setCurrentIndex(2);
    ASSERT_TRUE(shown.wait(10000));
    ASSERT_EQ(stats->page().rows.size(), 1u);
    stats->findChild<ReportList*>(QStringLiteral("列表框"))->setSelectedRow(0);
    QSignalSpy located(stats, &StatsWindow::lookupEnded);
    for (int i = 0; i < times; ++i) {
        QTest::mouseClick(stats->findChild<Button*>(QStringLiteral("按钮查询选中ip")),
                          Qt::LeftButton);
        ASSERT_TRUE(located.wait(10000));
    }
    stats->close(); // deletes itself
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(window.findChild<StatsWindow*>(), nullptr);
}

TEST(LookupCookiesTest, KeptFromOneLookupToTheNextAcrossWindows) {
    FakeUiSeam ui;
    LocalHttpServer server(4, Answer);
    TempFile configDir("");
    ConfigFile config((configDir.dir() / "logdesk.ini").string());
    config.selectSection(Gbk("更多精细统计"));
    ASSERT_TRUE(config.writeText(Gbk("IP查询主机"), "127.0.0.1:" + std::to_string(server.port())));
    MainWindow window(config);
    TempFile log("#Fields: c-ip cs(User-Agent)\r\n1.2.3.4 Baiduspider\r\n");
    QSignalSpy imported(&window, &MainWindow::importEnded);
    window.importFile(QString::fromStdString(log.path()));
    ASSERT_TRUE(imported.wait(10000));

    LookUpIn(window, 2);
    LookUpIn(window, 1); // a window opened later
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(CookieLine(requests[0]), "");
    EXPECT_EQ(CookieLine(requests[1]), "Cookie: SID=s1");
    EXPECT_EQ(CookieLine(requests[2]), "Cookie: SID=s1");
    EXPECT_EQ(window.statsSession().lookupCookies.data("127.0.0.1", "SID"), "s1; path=/");
}

} // namespace
} // namespace logdesk
