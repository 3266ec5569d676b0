// Every kind of long work, cancelled mid-way by closing its window: the GUI
// thread stays free throughout, the work stops soon after the close, and
// nothing half done is left behind (no partial file, no new table or order).
// The inputs are sized so that each piece of work, left alone, takes well
// over a second in a debug build.
#include "gui/csv_export/csv_export_window.h"
#include "core/logimport/imported_log.h"
#include "gui/main/main_window.h"
#include "core/settings/config_file.h"
#include "core/settings/settings_keys.h"
#include "core/stats/page_builds.h"
#include "gui/stats/stats_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "support/local_http_server.h"
#include "core/text/gbk_codec.h"
#include "gui/stats/stats_session.h"
#include "gui/toolkit/controls.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::TempFile;

// The longest time between two iterations of the GUI thread's event loop
// while it lives, seen by a 1 ms timer.
class GapMeter {
public:
    GapMeter() {
        clock_.start();
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        timer_.start(1);
    }
    qint64 longest() const { return std::max(longest_, clock_.elapsed() - last_); }

private:
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

// How long the GUI thread was held up at most, and how long the work went
// on after its window was closed.
struct Cancelled {
    qint64 longestGapMs = 0;
    qint64 stopMs = 0;
};

// Starts the work, lets it run a while, checks it still runs, closes the
// window and waits for the work to end.
Cancelled CancelMidway(const std::function<void()>& start, const std::function<bool()>& running,
                       const std::function<void()>& close) {
    const GapMeter meter;
    start();
    QTest::qWait(300);
    EXPECT_TRUE(running()) << "the work ended before it could be cancelled";
    QElapsedTimer clock;
    clock.start();
    close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !running(); }, 20000));
    return {meter.longest(), clock.elapsed()};
}

// Work left on the GUI thread holds it up for as long as the work runs,
// 300 ms and more here; a loaded two-core machine alone has been seen to
// hold a thread up for 111 ms, so the bound sits between the two.
constexpr qint64 kLongestGapMs = 250;

void ExpectPrompt(const Cancelled& cancelled, qint64 stopWithinMs) {
    ::testing::Test::RecordProperty("longest_gap_ms", static_cast<int>(cancelled.longestGapMs));
    ::testing::Test::RecordProperty("stop_ms", static_cast<int>(cancelled.stopMs));
    EXPECT_LT(cancelled.longestGapMs, kLongestGapMs);
    EXPECT_LT(cancelled.stopMs, stopWithinMs);
}

// Rows polled between two looks at the cancel token take milliseconds; the
// import looks once per 8 MiB it reads.
constexpr qint64 kStopsWithinMs = 250;
constexpr qint64 kImportStopsWithinMs = 1000;

// IIS lines with every column the statistics pages read; URLs repeat.
std::string RecordsLog(std::uint32_t rows) {
    std::string log = "#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status "
                      "cs(User-Agent)\r\n";
    log.reserve(log.size() + std::size_t{rows} * 64);
    char line[128];
    for (std::uint32_t i = 0; i < rows; ++i) {
        std::snprintf(line, sizeof line,
                      "2013-05-01 %02u:00:00 10.%u.%u.%u /p%u.htm 200 %u Baiduspider\r\n", i % 24,
                      i >> 16, (i >> 8) & 255, i & 255, (i * 7919u) % 50000u, i % 3);
        log += line;
    }
    return log;
}

// One visit per IP; the IPs read as numbers each within 1e-7 of the next,
// so that a sort by the IP column replays the insertion.
ImportedLog NearEqualIps(std::uint32_t ips) {
    std::string log = "#Fields: c-ip cs(User-Agent)\r\n";
    log.reserve(log.size() + std::size_t{ips} * 24);
    char line[64];
    for (std::uint32_t i = 0; i < ips; ++i) {
        const auto k = static_cast<std::uint32_t>((std::uint64_t{i} * 7919) % ips);
        std::snprintf(line, sizeof line, "1.%08u Baiduspider\r\n", k);
        log += line;
    }
    LogImport r = ImportLogBytes(log).value();
    return {r.table, r.header, r.tally};
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> FileNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class CancelledWorkTest : public ::testing::Test {
protected:
    TempFile settings_{""};
    ConfigFile config_{(settings_.dir() / "logdesk.ini").string()};
    TempFile exports_{""}; // a folder of its own, for the files the exports write
    FakeUiSeam ui_;
};

TEST_F(CancelledWorkTest, ImportKeepsThePreviousTable) {
    TempFile small("#Fields: date\r\nd1\r\n");
    TempFile big(RecordsLog(2000000), "big.log");
    MainWindow window(config_);
    window.show();
    QSignalSpy ended(&window, &MainWindow::importEnded);
    window.importFile(QString::fromStdString(small.path()));
    ASSERT_TRUE(ended.wait(10000));

    const Cancelled cancelled =
        CancelMidway([&] { window.importFile(QString::fromStdString(big.path())); },
                     [&] { return window.importing(); }, [&] { window.close(); });
    ExpectPrompt(cancelled, kImportStopsWithinMs);
    EXPECT_EQ(ended.size(), 1);
    EXPECT_EQ(window.imported().path, small.path());
    EXPECT_EQ(window.imported().table.rowCount(), 1u);
    EXPECT_EQ(window.findChild<ReportList*>(QStringLiteral("列表框"))->rowCount(), 1);
    EXPECT_EQ(window.findChild<Button*>(QStringLiteral("按钮选择日志文件"))->caption(),
              QStringLiteral("导入日志文件"));
}

TEST_F(CancelledWorkTest, MainSortKeepsTheOrder) {
    TempFile log(RecordsLog(1000000));
    MainWindow window(config_);
    window.show();
    QSignalSpy ended(&window, &MainWindow::importEnded);
    window.importFile(QString::fromStdString(log.path()));
    ASSERT_TRUE(ended.wait(60000));
    ASSERT_EQ(window.imported().table.rowCount(), 1000000u);
    QSignalSpy sorted(&window, &MainWindow::sortEnded);

    const Cancelled cancelled =
        CancelMidway([&] { window.sortByColumn(4); }, // the URL
                     [&] { return window.sorting(); }, [&] { window.close(); });
    ExpectPrompt(cancelled, kStopsWithinMs);
    EXPECT_EQ(sorted.size(), 0);
    EXPECT_TRUE(window.imported().table.rowOrder().empty());
}

// The CSV export, over a target that exists and over one that does not.
TEST_F(CancelledWorkTest, CsvExportLeavesNoPartialFile) {
    LogImport r = ImportLogBytes(RecordsLog(1000000)).value();
    const ImportedLog log{r.table, r.header, r.tally};
    const std::filesystem::path existing = exports_.dir() / "records.csv";
    std::ofstream(existing, std::ios::binary) << "before";
    // Closing the window saves the column choice, synced to disk: once here,
    // so that the closes below find it saved already.
    (new CsvExportWindow(log, config_, nullptr))->close();
    for (const std::filesystem::path& target : {existing, exports_.dir() / "fresh.csv"}) {
        SCOPED_TRACE(target.string());
        const std::vector<std::string> before = FileNames(exports_.dir());
        QPointer<CsvExportWindow> window = new CsvExportWindow(log, config_, nullptr);
        window->show();
        QSignalSpy ended(window, &CsvExportWindow::exportEnded);
        const Cancelled cancelled =
            CancelMidway([&] { window->exportTo(QString::fromStdString(target.string())); },
                         [&] { return window && window->exporting(); }, [&] { window->close(); });
        ExpectPrompt(cancelled, kStopsWithinMs);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); })); // deleted on close
        EXPECT_EQ(ended.size(), 0);
        EXPECT_TRUE(ui_.messages.isEmpty());
        EXPECT_EQ(FileNames(exports_.dir()), before);
    }
    EXPECT_EQ(ReadFile(existing), "before");
}

// The statistics window over one large log: 2.5 million IPs, one visit each.
class CancelledStatsWorkTest : public CancelledWorkTest {
protected:
    static void SetUpTestSuite() { log_ = new ImportedLog(NearEqualIps(2500000)); }
    static void TearDownTestSuite() {
        delete log_;
        log_ = nullptr;
    }

    // A window showing `page`; it is not deleted on close, so that the
    // test's close only cancels and the large page is freed after the
    // measurement.
    StatsWindow* open(StatsPage page) {
        auto* window = new StatsWindow(*log_, config_, app_, nullptr);
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        QSignalSpy shown(window, &StatsWindow::pageShown);
        window->show();
        EXPECT_TRUE(shown.wait(60000));
        if (page != StatsPage::SpiderTraffic) {
            tabs(*window)->setCurrentIndex(StatsPageEntryOf(page).tab);
            EXPECT_TRUE(shown.wait(120000));
        }
        return window;
    }
    static TabStrip* tabs(StatsWindow& window) {
        return window.findChild<TabStrip*>(QStringLiteral("选择夹"));
    }

    static ImportedLog* log_;
    StatsSession app_;
};

ImportedLog* CancelledStatsWorkTest::log_ = nullptr;

TEST_F(CancelledStatsWorkTest, BuildLeavesThePageShown) {
    QPointer<StatsWindow> window = open(StatsPage::SpiderTraffic);
    window->setAttribute(Qt::WA_DeleteOnClose); // nothing large to free
    QSignalSpy shown(window, &StatsWindow::pageShown);
    const Cancelled cancelled =
        CancelMidway([&] { tabs(*window)->setCurrentIndex(StatsPageEntryOf(StatsPage::Ip).tab); },
                     [&] { return window && window->building(); }, [&] { window->close(); });
    ExpectPrompt(cancelled, kStopsWithinMs);
    EXPECT_EQ(shown.size(), 0);
}

TEST_F(CancelledStatsWorkTest, SortLeavesTheRowsInPlace) {
    StatsWindow* window = open(StatsPage::Ip);
    ASSERT_EQ(window->page().rows.size(), 2500000u);
    const auto firstIps = [&] {
        std::vector<std::string> ips;
        for (std::size_t r = 0; r < 5; ++r) {
            ips.push_back(window->page().rows[r][0]);
        }
        return ips;
    };
    const std::vector<std::string> before = firstIps();
    QSignalSpy sorted(window, &StatsWindow::sortEnded);
    const Cancelled cancelled = CancelMidway(
        [&] { emit window->findChild<ReportList*>(QStringLiteral("列表框"))->headerClicked(0); },
        [&] { return window->sorting(); }, [&] { window->close(); });
    ExpectPrompt(cancelled, kStopsWithinMs);
    EXPECT_EQ(sorted.size(), 0);
    EXPECT_EQ(firstIps(), before);
    delete window;
}

// The list export, over a target that exists and over one that does not.
TEST_F(CancelledStatsWorkTest, ListExportLeavesNoPartialFile) {
    StatsWindow* window = open(StatsPage::Ip);
    const std::filesystem::path existing = exports_.dir() / "ips.csv";
    std::ofstream(existing, std::ios::binary) << "before";
    QSignalSpy ended(window, &StatsWindow::exportEnded);
    for (const std::filesystem::path& target : {existing, exports_.dir() / "fresh.csv"}) {
        SCOPED_TRACE(target.string());
        const std::vector<std::string> before = FileNames(exports_.dir());
        window->show();
        ui_.answers.push_back(QString::fromStdString(target.string()));
        const Cancelled cancelled =
            CancelMidway([&] { emit tabs(*window)->rightClicked(); },
                         [&] { return window->exporting(); }, [&] { window->close(); });
        ExpectPrompt(cancelled, kStopsWithinMs);
        EXPECT_EQ(FileNames(exports_.dir()), before);
    }
    EXPECT_EQ(ended.size(), 0);
    EXPECT_TRUE(ui_.messages.isEmpty());
    EXPECT_EQ(ReadFile(existing), "before");
    delete window;
}

// A search site that never answers: the lookup would wait for its deadline.
TEST_F(CancelledWorkTest, LookupGivesUpItsFetch) {
    LocalHttpServer server(4, [](const std::string&) { return std::string(); });
    ASSERT_TRUE(config_.write(settings::kIpQueryHost, "127.0.0.1:" + std::to_string(server.port())));
    LogImport r = ImportLogBytes("#Fields: c-ip cs(User-Agent)\r\n1.1.1.1 Baiduspider\r\n").value();
    const ImportedLog log{r.table, r.header, r.tally};
    StatsSession app;
    QPointer<StatsWindow> window = new StatsWindow(log, config_, app, nullptr);
    QSignalSpy shown(window, &StatsWindow::pageShown);
    window->show();
    ASSERT_TRUE(shown.wait(10000));
    window->findChild<TabStrip*>(QStringLiteral("选择夹"))->setCurrentIndex(2);
    ASSERT_TRUE(shown.wait(10000));
    window->findChild<ReportList*>(QStringLiteral("列表框"))->setSelectedRow(0);
    QSignalSpy located(window, &StatsWindow::lookupEnded);

    const Cancelled cancelled = CancelMidway(
        [&] {
            QTest::mouseClick(window->findChild<Button*>(QStringLiteral("按钮查询选中ip")),
                              Qt::LeftButton);
        },
        [&] { return window && window->locating(); }, [&] { window->close(); });
    ExpectPrompt(cancelled, kStopsWithinMs);
    EXPECT_EQ(located.size(), 0);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(app.lookupStop->cancelled());
}

} // namespace
} // namespace logdesk
