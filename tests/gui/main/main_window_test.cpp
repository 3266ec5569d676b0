#include "gui/charts/chart_window.h"
#include "gui/csv_export/csv_export_window.h"
#include "gui/main/help_text.h"
#include "gui/main/main_window.h"
#include "gui/main/record_table_model.h"
#include "gui/seo/seo_window.h"
#include "gui/stats/stats_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/window_description.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::TempFile;

// Geometry, caption and initial state of the controls that matter most,
// written out independently of the window descriptions.
struct Expected {
    const char* name;
    QRect geometry;
    const char* caption;
    bool enabled;
};

template <typename T> T* Find(QWidget& window, const char* name) {
    T* control = window.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

class MainWindowTest : public ::testing::Test {
protected:
    TempFile configDir_{""};
    ConfigFile config_{(configDir_.dir() / "logdesk.ini").string()};
    FakeUiSeam ui_;

    // Imports through the button, answering the open dialog with `path`.
    void importThroughButton(MainWindow& window, const QString& path) {
        ui_.answers.push_back(path);
        QSignalSpy ended(&window, &MainWindow::importEnded);
        QTest::mouseClick(Find<Button>(window, "按钮选择日志文件"), Qt::LeftButton);
        ASSERT_TRUE(ended.wait(20000));
    }
};

TEST_F(MainWindowTest, StartsAsDescribed) {
    MainWindow window(config_);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("岚溪日志台 v1.1 - 岚溪QQ：88886666 - "
                                                   "分析、统计、导出IIS网站日志的站长必备工具"));
    const Expected buttons[] = {
        {"按钮选择日志文件", {8, 110, 232, 40}, "导入日志文件", true},
        {"按钮导出csv文件", {248, 110, 232, 40}, "导出 csv 文件", false},
        {"按钮蜘蛛占比图表化", {488, 110, 232, 40}, "蜘蛛占比统计", false},
        {"按钮精细化统计分析", {728, 110, 232, 40}, "更多精细统计", false},
    };
    for (const Expected& e : buttons) {
        Button* b = Find<Button>(window, e.name);
        EXPECT_EQ(b->geometry(), e.geometry) << e.name;
        EXPECT_EQ(b->caption(), QString::fromUtf8(e.caption));
        EXPECT_EQ(b->isEnabled(), e.enabled) << e.name;
        EXPECT_EQ(b->font().pixelSize(), 29);
    }
    for (const char* name : {"图片框操作", "图片框更新", "图片框QQ", "图片框软件", "图片框官网"}) {
        EXPECT_EQ(Find<PictureBox>(window, name)->cursor().shape(), Qt::PointingHandCursor);
    }
    EXPECT_EQ(Find<LinkLabel>(window, "超级链接框操作")->parentWidget()->objectName(),
              QStringLiteral("图片框操作"));
    EXPECT_EQ(Find<LinkLabel>(window, "超级链接框更新")->geometry(), QRect(1, 63, 63, 24));
    EXPECT_EQ(Find<ReportList>(window, "列表框")->columnCount(), 0);
    // The list keeps equal left, right and bottom margins.
    window.show();
    window.resize(1200, 700);
    EXPECT_EQ(Find<ReportList>(window, "列表框")->geometry(), QRect(8, 160, 1200 - 16, 700 - 168));
    EXPECT_EQ(Find<QWidget>(window, "图片框官网")->width(), 1200 - 256);
    EXPECT_EQ(Find<QWidget>(window, "标签10")->geometry(), QRect(0, 91, 1200, 2));
    // Made as small as it goes, every button still shows whole.
    window.resize(300, 200);
    const QSize least = window.size();
    EXPECT_EQ(Find<ReportList>(window, "列表框")->geometry(),
              QRect(8, 160, least.width() - 16, least.height() - 168));
    for (const Button* button : window.findChildren<Button*>()) {
        EXPECT_LE(button->geometry().right(), least.width() - 1) << button->objectName().toStdString();
        EXPECT_LE(button->geometry().bottom(), least.height() - 1);
    }
    EXPECT_GE(Find<ReportList>(window, "列表框")->height(), kLeastStretchedRoom.height());
}

TEST_F(MainWindowTest, HelpAndLinks) {
    MainWindow window(config_);
    QTest::mouseClick(Find<QWidget>(window, "图片框操作"), Qt::LeftButton);
    QTest::mouseClick(Find<QWidget>(window, "超级链接框操作"), Qt::LeftButton);
    ASSERT_EQ(ui_.messages.size(), 2);
    EXPECT_EQ(ui_.messages[0], ui_.messages[1]);
    const QStringList lines = HelpText().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 27);
    EXPECT_EQ(lines[3], QStringLiteral("---------------主界面------------------"));
    EXPECT_TRUE(lines[1].isEmpty());
    EXPECT_TRUE(lines[25].isEmpty());
    EXPECT_FALSE(HelpText().endsWith(QStringLiteral("\r\n")));
    EXPECT_TRUE(ui_.urls.empty());

    QTest::mouseClick(Find<QWidget>(window, "图片框更新"), Qt::LeftButton);
    QTest::mouseClick(Find<QWidget>(window, "超级链接框更新"), Qt::LeftButton);
    ASSERT_EQ(ui_.urls.size(), 2u);
    EXPECT_EQ(ui_.urls[0], ui_.urls[1]);
    EXPECT_EQ(ui_.urls[0], ReleasePageUrl());
}

TEST_F(MainWindowTest, ImportThroughTheButton) {
    MainWindow window(config_);
    TempFile log("#Fields: date c-ip cs(User-Agent)\r\n2013-05-01 1.2.3.4 Baiduspider\r\n"
                 "2013-05-01 1.2.3.5 Mozilla\r\n");
    importThroughButton(window, QString::fromStdString(log.path()));
    EXPECT_EQ(ui_.dialogs.back().filter,
              QStringLiteral("IIS日志文件(ex*.log);;其他日志文件(*.log);;全部文件(*.*)"));
    auto* list = Find<ReportList>(window, "列表框");
    EXPECT_EQ(list->rowCount(), 2);
    EXPECT_EQ(list->columnTitle(3), QStringLiteral("访问者身份(cs(User-Agent))"));
    EXPECT_EQ(list->cellText(0, 3), QStringLiteral("百度(Baiduspider)"));
    EXPECT_EQ(list->cellText(5, 0), QString());
    EXPECT_GT(list->columnWidth(3), list->columnWidth(1) / 2);
    for (const char* name : {"按钮导出csv文件", "按钮蜘蛛占比图表化", "按钮精细化统计分析"}) {
        EXPECT_TRUE(Find<Button>(window, name)->isEnabled()) << name;
    }
    EXPECT_EQ(Find<Button>(window, "按钮选择日志文件")->caption(), QStringLiteral("导入日志文件"));
    EXPECT_EQ(window.imported().tally.length(), 2);
    EXPECT_EQ(window.imported().path, log.path());

    // The path is remembered and preset in the dialog the next time.
    config_.selectSection(Gbk("基本配置"));
    EXPECT_EQ(config_.readText(Gbk("日志路径"), ""), log.path());
    MainWindow again(config_);
    ui_.answers.push_back(std::nullopt);
    QTest::mouseClick(Find<Button>(again, "按钮选择日志文件"), Qt::LeftButton);
    EXPECT_EQ(ui_.dialogs.back().fileName, QString::fromStdString(log.path()));
    EXPECT_FALSE(again.importing());
}

// The chart window's check box decides what the next import names; the
// imported table, tally and chart follow, and an import already done stays.
TEST_F(MainWindowTest, TodaysCrawlersFromTheNextImportOn) {
    MainWindow window(config_);
    TempFile log("#Fields: date c-ip cs(User-Agent)\r\n2026-12-01 1.2.3.4 GPTBot/1.1\r\n"
                 "2026-12-01 1.2.3.5 Baiduspider\r\n2026-12-01 1.2.3.6 PetalBot\r\n");
    const QString path = QString::fromStdString(log.path());
    importThroughButton(window, path);
    auto* list = Find<ReportList>(window, "列表框");
    EXPECT_EQ(list->cellText(0, 3), QStringLiteral("其他流量(unknown)"));
    EXPECT_EQ(window.imported().tally.length(), 2);

    QTest::mouseClick(Find<Button>(window, "按钮蜘蛛占比图表化"), Qt::LeftButton);
    auto* chart = window.findChild<ChartWindow*>();
    ASSERT_NE(chart, nullptr);
    auto* box = Find<CheckBox>(*chart, "复选框当今蜘蛛");
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_EQ(window.imported().tally.length(), 2); // only the next import changes

    importThroughButton(window, path);
    EXPECT_EQ(list->cellText(0, 3), QStringLiteral("OpenAI(GPTBot)"));
    EXPECT_EQ(list->cellText(2, 3), QStringLiteral("花瓣(PetalBot)"));
    std::vector<std::pair<std::string, int>> tally = testing::Tally(window.imported().tally);
    EXPECT_EQ(tally, (std::vector<std::pair<std::string, int>>{
                         {"百度(Baiduspider)", 1}, {"花瓣(PetalBot)", 1}, {"OpenAI(GPTBot)", 1}}));
    // The open chart shows the new import without a click.
    ASSERT_EQ(chart->items().size(), 3u);
    EXPECT_EQ(chart->items()[2].name, QStringLiteral("OpenAI(GPTBot)"));

    box->click();
    importThroughButton(window, path);
    EXPECT_EQ(list->cellText(0, 3), QStringLiteral("其他流量(unknown)"));
    EXPECT_EQ(chart->items().size(), 2u);
    // Both clicks said that the choice shows from the next import on.
    ASSERT_EQ(ui_.messages.size(), 2) << ui_.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(ui_.messages[1].contains(QStringLiteral("从下次导入日志起")));
}

TEST_F(MainWindowTest, FailedImportsKeepWhatWasThere) {
    MainWindow window(config_);
    TempFile empty("");
    importThroughButton(window, QString::fromStdString(empty.path()));
    EXPECT_TRUE(Find<Button>(window, "按钮精细化统计分析")->isEnabled());

    TempFile log("#Fields: date\r\nd1\r\n");
    importThroughButton(window, QString::fromStdString(log.path()));
    ASSERT_EQ(Find<ReportList>(window, "列表框")->rowCount(), 1);

    const QString missing = QString::fromStdString((log.dir() / "gone.log").string());
    importThroughButton(window, missing);
    EXPECT_EQ(ui_.messages, QStringList{QStringLiteral("无法读取日志文件：") + missing +
                                        QStringLiteral("\r\nNo such file or directory")});
    EXPECT_EQ(Find<ReportList>(window, "列表框")->rowCount(), 1);
    // Remembered even though the import failed.
    config_.selectSection(Gbk("基本配置"));
    EXPECT_EQ(QString::fromStdString(config_.readText(Gbk("日志路径"), "")), missing);

    TempFile rejected("#Fields:\r\n");
    importThroughButton(window, QString::fromStdString(rejected.path()));
    EXPECT_EQ(ui_.messages.last(), QStringLiteral("这个文件不是标准的IIS日志文件！"));
}

TEST_F(MainWindowTest, ALogPathThatCannotBeSavedIsReportedAndTheImportGoesOn) {
    const std::string path = (configDir_.dir() / "none" / "logdesk.ini").string();
    ConfigFile unwritable(path);
    MainWindow window(unwritable);
    TempFile log("#Fields: date\r\nd1\r\n");
    importThroughButton(window, QString::fromStdString(log.path()));
    EXPECT_EQ(ui_.messages,
              QStringList{QStringLiteral("无法保存设置：") + QString::fromStdString(path) +
                          QStringLiteral("\r\ncannot create: No such file or directory")});
    EXPECT_EQ(Find<ReportList>(window, "列表框")->rowCount(), 1);
}

TEST_F(MainWindowTest, RunningOutOfMemoryNamesTheFileAndKeepsTheTable) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under sanitizers";
#endif
    MainWindow window(config_);
    TempFile log("#Fields: date\r\nd1\r\n");
    importThroughButton(window, QString::fromStdString(log.path()));
    // A 1 GiB file (sparse) whose buffer cannot be had under a lowered soft
    // limit; the limit is raised again before anything else runs.
    const std::string big = (log.dir() / "big.log").string();
    { std::ofstream out(big, std::ios::binary); }
    std::filesystem::resize_file(big, std::uintmax_t{1} << 30);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    ASSERT_EQ(std::fscanf(statm, "%lu", &pages), 1);
    std::fclose(statm);
    rlimit lowered = saved;
    lowered.rlim_cur = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &lowered), 0);
    importThroughButton(window, QString::fromStdString(big));
    ::setrlimit(RLIMIT_AS, &saved);
    ASSERT_EQ(ui_.messages.size(), 1);
    EXPECT_TRUE(ui_.messages[0].startsWith(QStringLiteral("内存不足，无法导入日志文件：")))
        << ui_.messages[0].toStdString();
    EXPECT_TRUE(ui_.messages[0].contains(QString::fromStdString(big)));
    EXPECT_EQ(Find<ReportList>(window, "列表框")->cellText(0, 1), QStringLiteral("d1"));
    EXPECT_EQ(window.imported().table.rowCount(), 1u);
}

TEST_F(MainWindowTest, SecondaryWindowsOpenInTheirInitialState) {
    MainWindow window(config_);
    TempFile log("#Fields: date cs(User-Agent)\r\nd1 Googlebot\r\n");
    importThroughButton(window, QString::fromStdString(log.path()));

    QTest::mouseClick(Find<Button>(window, "按钮蜘蛛占比图表化"), Qt::LeftButton);
    auto* chart = window.findChild<ChartWindow*>();
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->windowTitle(), QStringLiteral("蜘蛛占比统计"));
    EXPECT_TRUE(Find<QWidget>(*chart, "饼形图")->isVisibleTo(chart));
    EXPECT_FALSE(Find<QWidget>(*chart, "柱状图")->isVisibleTo(chart));
    EXPECT_EQ(Find<DropDown>(*chart, "组合框图标类型")->currentEntry(), 0);
    // Both charts sit at 8, 48, laid out to the window as soon as it has a size.
    EXPECT_EQ(Find<QWidget>(*chart, "柱状图")->pos(), QPoint(8, 48));
    // A second click brings the open window forward instead of another one.
    QTest::mouseClick(Find<Button>(window, "按钮蜘蛛占比图表化"), Qt::LeftButton);
    EXPECT_EQ(window.findChildren<ChartWindow*>().size(), 1);

    QTest::mouseClick(Find<Button>(window, "按钮导出csv文件"), Qt::LeftButton);
    auto* csv = window.findChild<CsvExportWindow*>();
    ASSERT_NE(csv, nullptr);
    // One pixel wider than 479 - 16, so that the right-hand buttons keep
    // their right border.
    EXPECT_EQ(csv->size(), QSize(280 + 184, 381 - 39));
    EXPECT_EQ(csv->minimumSize(), csv->maximumSize());
    EXPECT_EQ(Find<Button>(*csv, "按钮导出保存")->geometry(), QRect(280, 269, 184, 67));
    EXPECT_TRUE(Find<Button>(*csv, "按钮导出保存")->font().bold());

    QTest::mouseClick(Find<Button>(window, "按钮精细化统计分析"), Qt::LeftButton);
    auto* stats = window.findChild<StatsWindow*>();
    ASSERT_NE(stats, nullptr);
    stats->show();
    auto* tabs = Find<TabStrip>(*stats, "选择夹");
    EXPECT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("URL 流量"));
    EXPECT_FALSE(Find<QWidget>(*stats, "列表框URL")->isVisible());
    EXPECT_FALSE(Find<QWidget>(*stats, "选择夹蜘蛛")->isVisible());
    EXPECT_EQ(Find<ListBox>(*stats, "列表框URL")->entryCount(), 3);
    EXPECT_FALSE(Find<QWidget>(*stats, "编辑框http前缀")->isVisible());
    tabs->setCurrentIndex(1);
    EXPECT_TRUE(Find<QWidget>(*stats, "编辑框http前缀")->isVisible());
    EXPECT_FALSE(Find<QWidget>(*stats, "按钮查询全部ip")->isVisible());
    tabs->setCurrentIndex(2);
    EXPECT_TRUE(Find<QWidget>(*stats, "按钮查询全部ip")->isVisible());
    // No font of its own: the default GUI font, not the tab strip's bold one.
    EXPECT_FALSE(Find<QWidget>(*stats, "按钮查询全部ip")->font().bold());
    EXPECT_TRUE(tabs->font().bold());
    EXPECT_FALSE(Find<QWidget>(*stats, "编辑框http前缀")->isVisible());

    if (const QByteArray dir = qgetenv("LOGDESK_SCREENSHOT_DIR"); !dir.isEmpty()) {
        window.show();
        window.grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/main.png"));
        stats->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/stats.png"));
        csv->show();
        csv->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/csv.png"));
    }
}

TEST(RecordTableModelTest, PassesTheModelTester) {
    RecordTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setTable(testing::Imported(
                       ImportLogBytes("#Fields: date cs(User-Agent)\r\nd1 Googlebot\r\nd2 -\r\n"))
                       .table);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.index(1, 2).data().toString(), QStringLiteral("其他流量(unknown)"));
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("序号(ID)"));
    model.setTable({});
    EXPECT_EQ(model.columnCount(), 0);
}

TEST(FileDialogTest, DefaultExtensionAndCancel) {
    FakeUiSeam ui;
    FileDialog dialog;
    dialog.save = true;
    dialog.filter = QStringLiteral("png可移植网络图形|*.png");
    dialog.defaultExtension = QStringLiteral("png");
    dialog.fileName = QStringLiteral("/tmp/before.png");
    ui.answers.push_back(std::nullopt);
    EXPECT_FALSE(dialog.show(nullptr));
    EXPECT_EQ(dialog.fileName, QStringLiteral("/tmp/before.png"));
    ui.answers.push_back(QStringLiteral("/tmp/chart"));
    EXPECT_TRUE(dialog.show(nullptr));
    EXPECT_EQ(dialog.fileName, QStringLiteral("/tmp/chart.png"));
    EXPECT_EQ(ui.dialogs.back().defaultSuffix, QStringLiteral("png"));
    EXPECT_EQ(ui.dialogs.back().fileName, QStringLiteral("/tmp/before.png"));
    ui.answers.push_back(QStringLiteral("/tmp/chart.jpeg"));
    EXPECT_TRUE(dialog.show(nullptr));
    EXPECT_EQ(dialog.fileName, QStringLiteral("/tmp/chart.jpeg"));
    // A "." in a folder name does not count; a trailing one keeps the name.
    ui.answers.push_back(QStringLiteral("/tmp/v1.2/chart"));
    EXPECT_TRUE(dialog.show(nullptr));
    EXPECT_EQ(dialog.fileName, QStringLiteral("/tmp/v1.2/chart.png"));
    ui.answers.push_back(QStringLiteral("/tmp/chart."));
    EXPECT_TRUE(dialog.show(nullptr));
    EXPECT_EQ(dialog.fileName, QStringLiteral("/tmp/chart."));
    EXPECT_EQ(ui.dialogs.back().filter, QStringLiteral("png可移植网络图形 (*.png)"));
}

TEST(ControlsTest, OutOfRangeReadsAndWrites) {
    CheckList list;
    list.addEntry(QStringLiteral("a"), 7);
    list.setChecked(0, true);
    list.setCurrentEntry(0);
    list.setEntryText(0, QStringLiteral("b"));
    EXPECT_TRUE(list.checked(0));
    EXPECT_EQ(list.entryData(0), 7);
    EXPECT_EQ(list.currentEntry(), 0);
    EXPECT_EQ(list.entryText(1), QString());
    EXPECT_EQ(list.entryData(1), -1);
    EXPECT_FALSE(list.checked(-1));
    list.setChecked(3, true);
    list.setEntryText(3, QStringLiteral("x"));
    EXPECT_EQ(list.entryCount(), 1);
    ListBox box;
    EXPECT_EQ(box.entryText(0), QString());
    EXPECT_EQ(box.currentEntry(), -1);
}

} // namespace
} // namespace logdesk

namespace logdesk {
namespace {

// Every control of every window exists under its name, as the kind its
// description gives, with its described flags, caption and (where no layout
// moves it) geometry.
TEST(WindowDescriptionsTest, EveryControlIsBuiltAsDescribed) {
    for (const WindowDescription* description :
         {&MainWindowDescription(), &ChartWindowDescription(), &CsvExportWindowDescription(),
          &StatsWindowDescription(), &SeoWindowDescription()}) {
        QWidget window;
        BuildWindow(&window, *description);
        EXPECT_EQ(window.windowTitle(), QString::fromUtf8(description->title));
        // The layout's size, or more where a button or box would be cut off.
        const QSize laidOut(description->outerWidth - kFrameWidth,
                            description->outerHeight - kFrameHeight);
        EXPECT_EQ(window.size(), laidOut.expandedTo(LeastClientSize(*description)));
        EXPECT_LE(window.width() - laidOut.width(), 8) << "grew by more than a border";
        window.show();
        for (const ControlDescription& c : description->controls) {
            SCOPED_TRACE(c.name);
            QWidget* control = window.findChild<QWidget*>(QString::fromUtf8(c.name));
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(control->geometry(), c.geometry.rect());
            EXPECT_EQ(control->isEnabled(), c.enabled);
            // Page controls show with their page (tab 0 is current at first);
            // a control in a picture box shows with the box.
            const bool visible = c.page >= 0 ? c.page == 0 : c.visible;
            const QWidget* within =
                c.page < 0 && c.container != nullptr ? control->parentWidget() : &window;
            EXPECT_EQ(control->isVisibleTo(within), visible);
            if (c.container != nullptr) {
                EXPECT_EQ(control->parentWidget()->objectName(), QString::fromUtf8(c.container));
            }
            const QString caption = QString::fromUtf8(c.caption);
            switch (c.kind) {
            case ControlKind::Button:
                EXPECT_EQ(qobject_cast<Button*>(control)->caption(), caption);
                break;
            case ControlKind::Label:
                EXPECT_EQ(qobject_cast<Label*>(control)->text(), caption);
                break;
            case ControlKind::EditBox:
                EXPECT_EQ(qobject_cast<EditBox*>(control)->text(), caption);
                break;
            case ControlKind::LinkLabel:
                EXPECT_EQ(qobject_cast<LinkLabel*>(control)->accessibleName(), caption);
                break;
            case ControlKind::DropDown:
                EXPECT_EQ(qobject_cast<DropDown*>(control)->count(),
                          static_cast<int>(c.items.size()));
                break;
            case ControlKind::TabStrip:
                EXPECT_EQ(qobject_cast<TabStrip*>(control)->count(),
                          static_cast<int>(c.items.size()));
                break;
            case ControlKind::ListBox:
                EXPECT_EQ(qobject_cast<ListBox*>(control)->entryCount(),
                          static_cast<int>(c.items.size()));
                break;
            default:
                break;
            }
            if (c.font.face != nullptr) {
                EXPECT_EQ(control->font().pixelSize(), c.font.pixelHeight);
                EXPECT_EQ(control->font().bold(), c.font.bold);
            }
            EXPECT_EQ(control->cursor().shape() == Qt::PointingHandCursor,
                      c.handCursor || c.kind == ControlKind::LinkLabel);
        }
    }
}

} // namespace
} // namespace logdesk
