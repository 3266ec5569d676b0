// What the main window owns and lends: its child windows go before the log
// they hold a reference to, and each main window's state is its own.
#include "gui/main/main_window.h"
#include "gui/stats/stats_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "gui/toolkit/controls.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::TempFile;

// A child window that reads the lent log when it is destroyed.
class LogReader final : public QWidget {
public:
    LogReader(const ImportedLog& log, QWidget* parent, std::string& seen)
        : QWidget(parent, Qt::Window), log_(log), seen_(seen) {}
    ~LogReader() override {
        seen_ = log_.path + "|" + std::string(log_.table.cell(RowIndex{0}, ColumnIndex{1}));
    }

private:
    const ImportedLog& log_;
    std::string& seen_;
};

void Import(MainWindow& window, const std::string& path) {
    QSignalSpy ended(&window, &MainWindow::importEnded);
    window.importFile(QString::fromStdString(path));
    ASSERT_TRUE(ended.wait(10000));
}

TEST(WindowOwnershipTest, ChildWindowsGoBeforeTheLog) {
    FakeUiSeam ui;
    TempFile settings("");
    ConfigFile config((settings.dir() / "logdesk.ini").string());
    TempFile log("#Fields: date cs(User-Agent)\r\n2013-05-01 Baiduspider\r\n",
                 "ex130501-with-a-long-name.log");
    std::string seen;
    {
        MainWindow window(config);
        Import(window, log.path());
        new LogReader(window.imported(), &window, seen);
        // A statistics window with its first build in flight goes too.
        QTest::mouseClick(window.findChild<Button*>(QStringLiteral("按钮精细化统计分析")),
                          Qt::LeftButton);
        ASSERT_NE(window.findChild<StatsWindow*>(), nullptr);
    }
    EXPECT_EQ(seen, log.path() + "|2013-05-01");
}

// The statistics sort direction flips with every header click of the run,
// but each main window's run is its own.
TEST(WindowOwnershipTest, MainWindowsDoNotShareASortDirection) {
    FakeUiSeam ui;
    TempFile settings("");
    ConfigFile config((settings.dir() / "logdesk.ini").string());
    // Visits per IP: 1.1.1.1 three, 1.1.1.2 one, 1.1.1.3 two.
    TempFile log("#Fields: c-ip cs(User-Agent)\r\n1.1.1.1 Baiduspider\r\n1.1.1.2 Googlebot\r\n"
                 "1.1.1.1 Baiduspider\r\n1.1.1.3 Baiduspider\r\n1.1.1.1 Baiduspider\r\n"
                 "1.1.1.3 Baiduspider\r\n");
    MainWindow first(config);
    MainWindow second(config);
    // The visits column, top to bottom, after a header click on it.
    auto clickVisits = [](MainWindow& window) {
        auto* stats = window.findChild<StatsWindow*>();
        if (stats == nullptr) {
            QTest::mouseClick(window.findChild<Button*>(QStringLiteral("按钮精细化统计分析")),
                              Qt::LeftButton);
            stats = window.findChild<StatsWindow*>();
            QSignalSpy shown(stats, &StatsWindow::pageShown);
            EXPECT_TRUE(shown.wait(10000));
            stats->findChild<TabStrip*>(QStringLiteral("选择夹"))->setCurrentIndex(2);
            EXPECT_TRUE(shown.wait(10000));
        }
        QSignalSpy sorted(stats, &StatsWindow::sortEnded);
        emit stats->findChild<ReportList*>(QStringLiteral("列表框"))->headerClicked(1);
        EXPECT_TRUE(sorted.wait(10000));
        QStringList visits;
        for (const std::vector<std::string>& row : stats->page().rows) {
            visits << QString::fromStdString(row[1]);
        }
        return visits.join(QLatin1Char(','));
    };
    Import(first, log.path());
    Import(second, log.path());
    EXPECT_EQ(clickVisits(first), QStringLiteral("1,2,3"));
    EXPECT_EQ(clickVisits(second), QStringLiteral("1,2,3"));
    EXPECT_EQ(clickVisits(first), QStringLiteral("3,2,1"));
    EXPECT_EQ(clickVisits(second), QStringLiteral("3,2,1"));
}

} // namespace
} // namespace logdesk
