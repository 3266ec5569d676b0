#include "gui/main/main_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "gui/toolkit/controls.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(MainWindowSortTest, HeaderClickSortsAsTextAndKeepsTheSelection) {
    testing::FakeUiSeam ui;
    testing::TempFile log("#Fields: c-ip cs-uri-stem\r\n");
    std::string lines = "#Fields: c-ip cs-uri-stem\r\n";
    for (int i = 1; i <= 12; ++i) {
        lines += "10.0.0." + std::to_string(13 - i) + " /p" + std::to_string(i) + "\r\n";
    }
    testing::TempFile file(lines);
    ConfigFile config((log.dir() / "logdesk.ini").string());
    MainWindow window(config);
    QSignalSpy imported(&window, &MainWindow::importEnded);
    window.importFile(QString::fromStdString(file.path()));
    ASSERT_TRUE(imported.wait(10000));
    auto* list = window.findChild<ReportList*>(QStringLiteral("列表框"));
    const int width = list->columnWidth(1);
    list->setSelectedRow(0); // record 1, 10.0.0.12

    QSignalSpy sorted(&window, &MainWindow::sortEnded);
    window.show();
    QTest::mouseClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(list->horizontalHeader()->sectionViewportPosition(0) + 5, 5));
    ASSERT_TRUE(sorted.wait(10000));
    // Record numbers as text: 1, 10, 11, 12, 2, ...
    EXPECT_EQ(list->cellText(0, 0), QStringLiteral("1"));
    EXPECT_EQ(list->cellText(1, 0), QStringLiteral("10"));
    EXPECT_EQ(list->cellText(4, 0), QStringLiteral("2"));
    EXPECT_EQ(list->selectedRow(), 0);

    list->setSelectedRow(4); // record 2
    window.sortByColumn(1);
    ASSERT_TRUE(sorted.wait(10000));
    EXPECT_EQ(list->cellText(0, 1), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(list->cellText(1, 1), QStringLiteral("10.0.0.10"));
    EXPECT_EQ(list->cellText(list->selectedRow(), 0), QStringLiteral("2"));
    EXPECT_EQ(list->columnWidth(1), width); // the fitted widths stay

    window.sortByColumn(1); // always ascending: the same order again
    ASSERT_TRUE(sorted.wait(10000));
    EXPECT_EQ(list->cellText(1, 1), QStringLiteral("10.0.0.10"));
}

} // namespace
} // namespace logdesk
