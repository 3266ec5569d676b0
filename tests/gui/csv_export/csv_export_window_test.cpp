#include "gui/csv_export/csv_export_window.h"
#include "core/logimport/imported_log.h"
#include "core/settings/config_file.h"
#include "support/fake_ui_seam.h"
#include "support/import_test_support.h"
#include "gui/toolkit/controls.h"
#include "gui/toolkit/qt_text.h"

#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::FakeUiSeam;
using testing::ReadFile;
using testing::TempFile;

ImportedLog Import(const std::string& bytes) {
    LogImport r = testing::Imported(ImportLogBytes(bytes));
    return {r.table, r.header, r.tally};
}

class CsvExportWindowTest : public ::testing::Test {
protected:
    TempFile dir_{""};
    ConfigFile config_{(dir_.dir() / "logdesk.ini").string()};
    FakeUiSeam ui_;
    ImportedLog log_ = Import("#Fields: date time s-ip cs-uri-stem cs-uri-query sc-status "
                              "sc-substatus sc-win32-status ProtocolStatus TimeTaken\r\n"
                              "2013-05-01 00:00:01 1.1.1.1 /a.htm q=\"1\" 200 0 0 200 15\r\n"
                              "2013-05-01 00:00:02 1.1.1.1 /b.htm - 404 0 2 404 31\r\n");

    // Opens a window (owned by the test, deleted on close).
    CsvExportWindow* open() { return new CsvExportWindow(log_, config_, nullptr); }

    static std::vector<std::pair<QString, bool>> Entries(QWidget& window) {
        auto* list = window.findChild<CheckList*>(QStringLiteral("选择列表框"));
        std::vector<std::pair<QString, bool>> entries;
        for (int i = 0; i < list->entryCount(); ++i) {
            entries.emplace_back(list->entryText(i), list->checked(i));
        }
        return entries;
    }

    static void Click(QWidget& window, const char* button) {
        QTest::mouseClick(window.findChild<Button*>(QString::fromUtf8(button)), Qt::LeftButton);
    }
};

TEST_F(CsvExportWindowTest, DefaultMarks) {
    CsvExportWindow* window = open();
    using E = std::vector<std::pair<QString, bool>>;
    EXPECT_EQ(Entries(*window), (E{{"序号", true},
                                   {"日期(date)", true},
                                   {"时间(time)", true},
                                   {"服务器IP(s-ip)", false},
                                   {"URL(cs-uri-stem)", true},
                                   {"URL参数(cs-uri-query)", true},
                                   {"状态码 (sc-status)", true},
                                   {"子状态码(sc-substatus)", false},
                                   {"Win32状态码(sc-win32-status)", false},
                                   {"状态码(ProtocolStatus)", false},
                                   {"处理时间(TimeTaken)", true}}));
    window->close();
}

TEST_F(CsvExportWindowTest, MovesChecksAndPersistence) {
    CsvExportWindow* window = open();
    auto* list = window->findChild<CheckList*>(QStringLiteral("选择列表框"));
    const auto before = Entries(*window);
    Click(*window, "按钮上移"); // nothing selected
    Click(*window, "按钮下移");
    EXPECT_EQ(Entries(*window), before);
    list->setCurrentEntry(0);
    Click(*window, "按钮上移");
    EXPECT_EQ(Entries(*window), before);
    list->setCurrentEntry(list->entryCount() - 1);
    Click(*window, "按钮下移");
    EXPECT_EQ(Entries(*window), before);

    list->setCurrentEntry(1);
    Click(*window, "按钮下移");
    EXPECT_EQ(list->currentEntry(), 2);
    EXPECT_EQ(list->entryText(2), QStringLiteral("日期(date)"));
    EXPECT_EQ(list->entryData(2), 1);
    Click(*window, "按钮反选");
    EXPECT_FALSE(list->checked(0));
    EXPECT_TRUE(list->checked(3)); // s-ip, inverted
    window->close();
    config_.selectSection(Gbk("字段属性"));
    EXPECT_EQ(config_.readText(Gbk("序号选中"), ""), Gbk("假"));
    EXPECT_EQ(config_.readText(Gbk("服务器IP(s-ip)选中"), ""), Gbk("真"));

    // Reopened: header order again, with the changed marks.
    CsvExportWindow* again = open();
    auto entries = Entries(*again);
    EXPECT_EQ(entries[1].first, QStringLiteral("日期(date)"));
    EXPECT_FALSE(entries[0].second);
    EXPECT_FALSE(entries[1].second);
    EXPECT_TRUE(entries[3].second);
    Click(*again, "按钮全选");
    EXPECT_TRUE(Entries(*again)[1].second);
    Click(*again, "按钮恢复默认字段设置");
    EXPECT_FALSE(Entries(*again)[3].second);
    again->close();
    CsvExportWindow* third = open();
    EXPECT_TRUE(Entries(*third)[0].second);
    EXPECT_FALSE(Entries(*third)[3].second);
    third->close();
}

TEST_F(CsvExportWindowTest, AChoiceThatCannotBeSavedIsReportedOnce) {
    const std::string path = (dir_.dir() / "none" / "logdesk.ini").string();
    ConfigFile unwritable(path);
    auto* window = new CsvExportWindow(log_, unwritable, nullptr);
    window->close();
    EXPECT_EQ(ui_.messages,
              QStringList{QStringLiteral("无法保存设置：") + QString::fromStdString(path) +
                          QStringLiteral("\r\ncannot create: No such file or directory")});
}

TEST_F(CsvExportWindowTest, ExportsTheTickedColumnsInOrder) {
    CsvExportWindow* window = open();
    Click(*window, "按钮不选");
    auto* list = window->findChild<CheckList*>(QStringLiteral("选择列表框"));
    list->setChecked(0, true);
    list->setChecked(4, true); // URL
    list->setChecked(1, true); // date
    list->setCurrentEntry(4);
    Click(*window, "按钮上移");
    Click(*window, "按钮上移");
    Click(*window, "按钮上移"); // URL now second

    const std::string csv = (dir_.dir() / "x.csv").string();
    ui_.answers.push_back(QString::fromStdString((dir_.dir() / "x").string()));
    QSignalSpy ended(window, &CsvExportWindow::exportEnded);
    Click(*window, "按钮导出保存");
    ASSERT_TRUE(ended.wait(10000));
    EXPECT_TRUE(ended.at(0).at(0).toBool());
    EXPECT_EQ(ui_.dialogs.back().title, QStringLiteral("导出到csv"));
    EXPECT_EQ(ui_.messages.back(), QStringLiteral("保存完毕！") + QString::fromStdString(csv));
    EXPECT_EQ(GbkToUtf8(ReadFile(csv)),
              "\"序号(ID)\",\"URL(cs-uri-stem)\",\"日期(date)\"\r\n"
              "\"1\",\"/a.htm\",\"2013-05-01\"\r\n\"2\",\"/b.htm\",\"2013-05-01\"\r\n");

    // The same opening offers the path chosen before; a .txt gets no header.
    const std::string txt = (dir_.dir() / "x.txt").string();
    ui_.answers.push_back(QString::fromStdString(txt));
    Click(*window, "按钮导出保存");
    ASSERT_TRUE(ended.wait(10000));
    EXPECT_EQ(ui_.dialogs.back().fileName, QString::fromStdString(csv));
    EXPECT_EQ(ReadFile(txt),
              "\"1\",\"/a.htm\",\"2013-05-01\"\r\n\"2\",\"/b.htm\",\"2013-05-01\"\r\n");

    // A file that cannot be created: a message with the path and the reason.
    const QString bad = QString::fromStdString((dir_.dir() / "none" / "y.csv").string());
    window->exportTo(bad);
    ASSERT_TRUE(ended.wait(10000));
    EXPECT_FALSE(ended.last().at(0).toBool());
    EXPECT_TRUE(ui_.messages.back().contains(bad));
    EXPECT_TRUE(ui_.messages.back().contains(QStringLiteral("No such file or directory")));
    EXPECT_FALSE(ui_.messages.back().startsWith(QStringLiteral("保存完毕！")));
    window->close();
}

TEST_F(CsvExportWindowTest, NeverWritesOverTheImportedLog) {
    TempFile imported("#Fields: date\r\n2013-05-01\r\n", "ex130501.log");
    log_.path = imported.path();
    const std::filesystem::path link = dir_.dir() / "ex130501.csv";
    std::filesystem::create_symlink(imported.path(), link);
    CsvExportWindow* window = open();
    QSignalSpy ended(window, &CsvExportWindow::exportEnded);
    int exports = 0;
    for (const std::string& path : {imported.path(), link.string()}) {
        ui_.answers.push_back(QString::fromStdString(path));
        Click(*window, "按钮导出保存");
        ASSERT_EQ(ended.size(), ++exports) << path;
        EXPECT_FALSE(ended.last().at(0).toBool());
        EXPECT_EQ(ui_.messages.back(), QStringLiteral("无法保存文件：%1\r\n这是已导入的日志文件，"
                                                      "不能覆盖它")
                                           .arg(QString::fromStdString(path)));
        EXPECT_EQ(ReadFile(imported.path()), "#Fields: date\r\n2013-05-01\r\n");
    }
    EXPECT_FALSE(window->exporting());
    window->close();
}

} // namespace
} // namespace logdesk
