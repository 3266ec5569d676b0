// Several logs in one import: picked in the dialog, dropped as files or a
// folder; inputs that cannot be read are named in one message and the
// others imported.
#include "core/input/input_fixtures.h"
#include "gui/main/main_window.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/file_saving.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::ScratchFolder;

const std::string kDay1 = "#Fields: date c-ip cs(User-Agent)\r\n"
                          "2013-05-01 10.0.0.1 Baiduspider\r\n2013-05-01 10.0.0.2 Mozilla\r\n";
// No header of its own: read with day 1's.
const std::string kDay2 = "2013-05-02 10.0.0.3 Googlebot\r\n";
const std::string kDay3 =
    "#Fields: date c-ip cs(User-Agent)\r\n2013-05-03 10.0.0.4 Sogou+web+spider\r\n";

QString Q(const std::string& path) {
    return QString::fromStdString(path);
}

class MultiImportTest : public ::testing::Test {
protected:
    ScratchFolder folder_;
    ConfigFile config_{folder_ / "logdesk.ini"};
    FakeUiSeam ui_;

    std::vector<std::vector<std::string>> rows(const MainWindow& window) const {
        return testing::Rows(window.imported().table);
    }
    std::string savedLogPath() {
        config_.selectSection(Gbk("基本配置"));
        return config_.readText(Gbk("日志路径"), "");
    }
    void clickImport(MainWindow& window) {
        QSignalSpy ended(&window, &MainWindow::importEnded);
        QTest::mouseClick(window.findChild<Button*>(QStringLiteral("按钮选择日志文件")),
                          Qt::LeftButton);
        ASSERT_TRUE(ended.wait(20000));
    }
    // Drags `urls` over the window and drops them; whether it took them.
    bool drop(MainWindow& window, const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(window.width() / 2, window.height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QSignalSpy ended(&window, &MainWindow::importEnded);
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &dropped);
        return dropped.isAccepted() && ended.wait(20000);
    }
};

const std::vector<std::vector<std::string>> kThreeDays{
    {"1", "2013-05-01", "10.0.0.1", "百度(Baiduspider)"},
    {"2", "2013-05-01", "10.0.0.2", "其他流量(unknown)"},
    {"3", "2013-05-02", "10.0.0.3", "谷歌(Googlebot)"},
    {"4", "2013-05-03", "10.0.0.4", "搜狗(Sogou)"},
};

TEST_F(MultiImportTest, ThreeFilesPickedInTheDialogAreOneLogInNameOrder) {
    MainWindow window(config_);
    const std::string day1 = folder_.write("ex130501.log", kDay1);
    const std::string day2 = folder_.write("ex130502.log.gz", testing::GzipMember(kDay2));
    const std::string day3 = folder_.write("ex130503.log", kDay3);
    // Picked in another order than their names'.
    ui_.fileLists.push_back(QStringList{Q(day3), Q(day1), Q(day2)});
    clickImport(window);
    EXPECT_TRUE(ui_.dialogs.back().multiple);
    EXPECT_TRUE(ui_.messages.isEmpty()) << ui_.messages.join("|").toStdString();
    EXPECT_EQ(rows(window), kThreeDays);
    EXPECT_EQ(window.findChild<ReportList*>(QStringLiteral("列表框"))->rowCount(), 4);
    EXPECT_TRUE(window.findChild<Button*>(QStringLiteral("按钮精细化统计分析"))->isEnabled());
    EXPECT_EQ(testing::Tally(window.imported().tally),
              (std::vector<std::pair<std::string, int>>{{"百度(Baiduspider)", 1},
                                                        {"谷歌(Googlebot)", 1},
                                                        {"搜狗(Sogou)", 1},
                                                        {"其他流量(unknown)", 1}}));
    // The first path picked is remembered and opens the dialog next time.
    EXPECT_EQ(savedLogPath(), day3);
    ui_.fileLists.push_back(std::nullopt);
    QTest::mouseClick(window.findChild<Button*>(QStringLiteral("按钮选择日志文件")),
                      Qt::LeftButton);
    EXPECT_EQ(ui_.dialogs.back().fileName, Q(day3));

    // No export writes over any of them.
    EXPECT_TRUE(RefuseImportedLog(&window, SavedFile::Table, Q(day2), window.imported()));
    EXPECT_FALSE(
        RefuseImportedLog(&window, SavedFile::Table, Q(folder_ / "out.csv"), window.imported()));
}

TEST_F(MultiImportTest, AFolderDroppedOnTheWindowImportsItsLogs) {
    MainWindow window(config_);
    window.show();
    ScratchFolder logs;
    logs.write("ex130503.log", kDay3);
    logs.write("ex130502.log", kDay2);
    testing::WriteArchive(logs / "ex130501.zip", archive_write_set_format_zip, nullptr,
                          {{"ex130501.log", kDay1}, {"readme.txt", "not a log"}});
    logs.write("notes.txt", "not a log");
    logs.write("older/ex130430.log", "#Fields: date\r\nnot read: a subfolder\r\n");
    ASSERT_TRUE(drop(window, {QUrl::fromLocalFile(Q(logs.path()))}));
    EXPECT_TRUE(ui_.messages.isEmpty()) << ui_.messages.join("|").toStdString();
    EXPECT_EQ(rows(window), kThreeDays);
    EXPECT_EQ(savedLogPath(), logs.path());

    // Files dropped likewise; a drag without local files is refused.
    const std::string day1 = folder_.write("ex130501.log", kDay1);
    ASSERT_TRUE(drop(window, {QUrl::fromLocalFile(Q(day1))}));
    EXPECT_EQ(rows(window).size(), 2u);
    EXPECT_FALSE(drop(window, {QUrl(QStringLiteral("https://example.org/ex130501.log"))}));

    // A folder without logs says so and leaves the table.
    ScratchFolder none;
    none.write("notes.txt", "not a log");
    ASSERT_TRUE(drop(window, {QUrl::fromLocalFile(Q(none.path()))}));
    EXPECT_EQ(ui_.messages, QStringList{QStringLiteral("所选的位置没有日志文件。")});
    EXPECT_EQ(rows(window).size(), 2u);
}

TEST_F(MultiImportTest, AnUnreadableFileIsNamedAndTheOthersImported) {
    MainWindow window(config_);
    const std::string day1 = folder_.write("ex130501.log", kDay1);
    const std::string gone = folder_ / "ex130502.log"; // removed after it was picked
    const std::string day3 = folder_.write("ex130503.log", kDay3);
    const std::string gz = testing::GzipMember(testing::LogText(30000));
    const std::string cut = folder_.write("ex130504.log.gz", gz.substr(0, gz.size() / 2));
    ui_.fileLists.push_back(QStringList{Q(day1), Q(gone), Q(day3), Q(cut)});
    clickImport(window);
    ASSERT_EQ(ui_.messages.size(), 1);
    const QStringList lines = ui_.messages[0].split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 3) << ui_.messages[0].toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("以下日志文件没有完整导入，其余的已导入："));
    EXPECT_EQ(lines[1], Q(gone) + QStringLiteral("：无法读取（No such file or directory）"));
    EXPECT_TRUE(lines[2].startsWith(Q(cut) + QStringLiteral("：文件已损坏")))
        << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains(QStringLiteral("已导入损坏处之前的")));
    const auto all = rows(window);
    ASSERT_GT(all.size(), 3u);
    // The .gz file's header came last: its fields first, then the others.
    EXPECT_EQ(all[2],
              (std::vector<std::string>{"3", "2013-05-03", "", "", "", "10.0.0.4", "搜狗(Sogou)"}));
    EXPECT_TRUE(window.findChild<Button*>(QStringLiteral("按钮导出csv文件"))->isEnabled());

    // When none can be read the table stays as it was.
    ui_.messages.clear();
    ui_.fileLists.push_back(QStringList{Q(gone), Q(folder_ / "ex130505.log")});
    clickImport(window);
    ASSERT_EQ(ui_.messages.size(), 1);
    EXPECT_TRUE(ui_.messages[0].startsWith(QStringLiteral("没有能导入的日志文件：\r\n")));
    EXPECT_EQ(rows(window), all);
}

} // namespace
} // namespace logdesk
