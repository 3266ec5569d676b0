// Times the desktop program's import of a log: from the start of the import
// to the table shown with fitted columns, the longest gap between event-loop
// iterations meanwhile, and the peak resident memory; then the statistics
// pages and two header sorts the same way. Runs offscreen.
#include "gui/main/main_window.h"
#include "resources.h"
#include "core/settings/config_file.h"
#include "gui/stats/stats_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHeaderView>
#include <QTabBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    logdesk::RegisterResources();
    if (argc != 2) {
        std::fprintf(stderr, "usage: logdesk-gui-bench LOGFILE\n");
        return 2;
    }
    QTemporaryDir dir;
    logdesk::ConfigFile config((dir.path() + QStringLiteral("/logdesk.ini")).toStdString());
    logdesk::MainWindow window(config);
    window.show();
    QApplication::processEvents();

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
    });
    QEventLoop loop;
    QObject::connect(&window, &logdesk::MainWindow::importEnded, &loop, &QEventLoop::quit);
    clock.start();
    ticker.start();
    window.importFile(QString::fromLocal8Bit(argv[1]));
    loop.exec();
    // The table is painted once with its fitted columns.
    window.repaint();
    QApplication::processEvents();
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.4f rows=%u longest_gap_ms=%lld peak_kib=%ld\n", seconds,
                window.imported().table.rowCount(), static_cast<long long>(longestGap),
                usage.ru_maxrss);

    // The statistics window's four pages, each from the page change to the
    // list filled, with the longest event-loop gap meanwhile.
    auto* stats = new logdesk::StatsWindow(window.imported(), config, window.statsSession(), &window);
    QEventLoop pageLoop;
    QObject::connect(stats, &logdesk::StatsWindow::pageShown, &pageLoop, &QEventLoop::quit);
    auto* tabs = stats->findChild<QTabBar*>(QStringLiteral("选择夹"));
    for (int page = 0; page < 4; ++page) {
        longestGap = 0;
        clock.restart();
        last = 0;
        if (page == 0) {
            stats->show();
        } else {
            tabs->setCurrentIndex(page);
        }
        pageLoop.exec();
        std::printf("stats_page=%d seconds=%.4f rows=%d longest_gap_ms=%lld\n", page,
                    static_cast<double>(clock.elapsed()) / 1000.0,
                    static_cast<int>(stats->page().rows.size()),
                    static_cast<long long>(longestGap));
    }

    // Header sorts on the IP page: visits (numbers), then the IP column
    // (numbers by their leading part, so many equal keys), each from the
    // click to the rows shown in order.
    tabs->setCurrentIndex(2);
    pageLoop.exec();
    auto* header = stats->findChild<QTableView*>(QStringLiteral("列表框"))->horizontalHeader();
    QEventLoop sortLoop;
    QObject::connect(stats, &logdesk::StatsWindow::sortEnded, &sortLoop, &QEventLoop::quit);
    for (const int column : {1, 0}) {
        longestGap = 0;
        clock.restart();
        last = 0;
        QTimer::singleShot(0, header, [header, column] { emit header->sectionClicked(column); });
        sortLoop.exec();
        longestGap = std::max(longestGap, clock.elapsed() - last); // up to the rows shown
        std::printf("stats_sort page=2 column=%d seconds=%.4f rows=%d longest_gap_ms=%lld\n",
                    column, static_cast<double>(clock.elapsed()) / 1000.0,
                    static_cast<int>(stats->page().rows.size()),
                    static_cast<long long>(longestGap));
    }
    ticker.stop();
    return window.imported().table.rowCount() > 0 ? 0 : 1;
}
