#include "core/base/cancellation.h"
#include "core/export/csv_format.h"
#include "support/import_test_support.h"
#include "core/text/gbk_codec.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(CsvFormatTest, ExtensionTests) {
    EXPECT_TRUE(HasCsvExtension("x.csv"));
    EXPECT_TRUE(HasCsvExtension("a.CSV"));
    EXPECT_FALSE(HasCsvExtension("a.txt"));
    EXPECT_FALSE(HasCsvExtension("a.csv.bak"));
    EXPECT_FALSE(HasCsvExtension("noextension"));
    EXPECT_FALSE(HasCsvExtension("/logs.v2/out"));
    EXPECT_TRUE(HasCsvExtension("/logs.v2/.csv"));

    EXPECT_TRUE(EndsWithCsv("x.CsV"));
    EXPECT_FALSE(EndsWithCsv("csv"));
    EXPECT_FALSE(EndsWithCsv("x.csv "));
}

TEST(CsvFormatTest, QuotesAreDoubledInsideQuotedCells) {
    std::string line;
    AppendQuotedCell(line, "say \"hi\", ok");
    EXPECT_EQ(line, "\"say \"\"hi\"\", ok\"");
    line.clear();
    AppendQuotedCell(line, "");
    EXPECT_EQ(line, "\"\"");
}

TEST(CsvFormatTest, DefaultColumnsFollowTheCaptions) {
    const LogImport r = testing::Imported(
        ImportLogBytes("#Fields: date time s-ip cs-uri-stem cs-uri-query c-ip cs(User-Agent) "
                       "sc-status sc-substatus sc-win32-status ProtocolStatus TimeTaken\n"));
    std::vector<std::string> chosen;
    for (ColumnIndex c : DefaultExportColumns(r.table)) {
        chosen.push_back(GbkToUtf8(r.table.columnTitle(c)));
    }
    EXPECT_EQ(chosen, (std::vector<std::string>{"序号(ID)", "日期(date)", "时间(time)",
                                                "URL(cs-uri-stem)", "URL参数(cs-uri-query)",
                                                "访问者IP(c-ip)", "访问者身份(cs(User-Agent))",
                                                "状态码 (sc-status)", "处理时间(TimeTaken)"}));
}

TEST(CsvFormatTest, RecordTableBytesMatchTheGoldenFile) {
    const LogImport r =
        testing::Imported(ImportLogBytes("#Fields: date cs-uri-stem cs(User-Agent) cs-uri-query\r\n"
                                         "2013-05-01 /a.htm Baiduspider q=\"1\",2\r\n"
                                         "2013-05-02 " +
                                         Gbk("/新闻") +
                                         " -\r\n"
                                         "2013-05-03 /c.htm Googlebot\r\n"));
    const std::vector<ColumnIndex> columns{ColumnIndex{0}, ColumnIndex{1}, ColumnIndex{2},
                                           ColumnIndex{4}};
    StringSink withHeader;
    ASSERT_TRUE(WriteRecordTable(r.table, columns, true, withHeader));
    const std::string expected =
        testing::ReadFile(std::string(LOGDESK_TEST_DATA) + "/records_export.csv");
    EXPECT_EQ(withHeader.text(), expected);

    StringSink noHeader;
    ASSERT_TRUE(WriteRecordTable(r.table, columns, false, noHeader));
    EXPECT_EQ(noHeader.text(), expected.substr(expected.find("\r\n") + 2));

    StringSink nothingChosen;
    ASSERT_TRUE(WriteRecordTable(r.table, {}, true, nothingChosen));
    EXPECT_EQ(nothingChosen.text(), "\r\n\r\n\r\n\r\n");
}

TEST(CsvFormatTest, TextTablesQuoteOnlyForCsv) {
    const TextTable table{{"a", "b"}, {{"", "x\"y"}, {"1", "2"}}};
    StringSink csv;
    ASSERT_TRUE(WriteTextTable(table, true, csv));
    EXPECT_EQ(csv.text(), "\"a\",\"b\"\r\n\"\",\"x\"\"y\"\r\n\"1\",\"2\"\r\n");
    StringSink text;
    ASSERT_TRUE(WriteTextTable(table, false, text));
    EXPECT_EQ(text.text(), ",x\"y\r\n1,2\r\n");

    StringSink lines;
    ASSERT_TRUE(WriteTextLines({Gbk("状态码：200|0"), "", "/a.htm"}, lines));
    EXPECT_EQ(GbkToUtf8(lines.text()), "状态码：200|0\r\n\r\n/a.htm\r\n");
}

// Cancels after a number of lines, as a cancel arriving mid-way does.
class CancellingSink final : public LineSink {
public:
    CancellingSink(Cancellation& cancel, int after) : cancel_(cancel), after_(after) {}
    bool write(std::string_view) override {
        if (++lines == after_) {
            cancel_.cancel();
        }
        return true;
    }
    Result<void> status() const override { return {}; }
    int lines = 0;

private:
    Cancellation& cancel_;
    int after_;
};

TEST(CsvFormatTest, WritesStopSoonAfterACancel) {
    constexpr int kRows = 30000;
    std::string log = "#Fields: c-ip\r\n";
    TextTable table{{"n"}, {}};
    std::vector<std::string> texts;
    for (int i = 0; i < kRows; ++i) {
        log += "10.0.0." + std::to_string(i % 250) + "\r\n";
        table.rows.push_back({std::to_string(i)});
        texts.push_back(std::to_string(i));
    }
    const LogImport records = ImportLogBytes(log).value();
    const std::function<Result<void>(LineSink&, const CancelToken&)> writes[] = {
        [&](LineSink& sink, const CancelToken& cancel) {
            return WriteRecordTable(records.table, AllColumns(records.table), true, sink, cancel);
        },
        [&](LineSink& sink, const CancelToken& cancel) {
            return WriteTextTable(table, true, sink, cancel);
        },
        [&](LineSink& sink, const CancelToken& cancel) {
            return WriteTextLines(texts, sink, cancel);
        },
    };
    for (const auto& write : writes) {
        Cancellation cancel;
        CancellingSink sink(cancel, 5000);
        const Result<void> stopped = write(sink, cancel.token());
        ASSERT_FALSE(stopped);
        EXPECT_EQ(stopped.error().code, ECANCELED);
        EXPECT_GE(sink.lines, 5000);
        EXPECT_LE(sink.lines, 5000 + 4096);
        Cancellation never;
        CancellingSink whole(never, -1);
        EXPECT_TRUE(write(whole, never.token()).ok());
        EXPECT_GE(whole.lines, kRows);
    }
}

// Fails after a number of lines, as a full disk does.
class FailingSink final : public LineSink {
public:
    explicit FailingSink(int after) : after_(after) {}
    bool write(std::string_view bytes) override {
        if (lines_ == after_) {
            return false;
        }
        ++lines_;
        text.append(bytes);
        return true;
    }
    Result<void> status() const override {
        return lines_ == after_ ? Result<void>(SystemError(ENOSPC, "cannot write"))
                                : Result<void>();
    }
    std::string text;

private:
    int after_;
    int lines_ = 0;
};

TEST(CsvFormatTest, ThreadedExportWritesTheSameBytes) {
    std::string log = "#Fields: date c-ip cs-uri-stem cs(User-Agent)\r\n";
    for (int i = 0; i < 70000; ++i) {
        log += "2013-05-01 10.0.0." + std::to_string(i % 250) + " /p\"" + std::to_string(i) +
               (i % 7 == 0 ? " Baiduspider" : " x") + "\r\n";
    }
    LogImport records = ImportLogBytes(log).value();
    std::vector<RecordIndex> order;
    for (std::uint32_t r = records.table.rowCount(); r-- > 0;) {
        order.push_back(RecordIndex{r});
    }
    records.table.setRowOrder(order);
    const std::vector<ColumnIndex> columns{ColumnIndex{3}, ColumnIndex{0}, ColumnIndex{4},
                                           ColumnIndex{9}};
    StringSink one;
    ASSERT_TRUE(WriteRecordTable(records.table, columns, true, one, {}, {1, 0}));
    for (unsigned threads : {2u, 5u}) {
        StringSink many;
        ASSERT_TRUE(WriteRecordTable(records.table, columns, true, many, {}, {threads, 0}));
        EXPECT_EQ(many.text(), one.text()) << threads << " threads";
        // A sink that fails part-way ends the export with its failure, having
        // taken exactly the lines before.
        FailingSink full(30001);
        const Result<void> failed =
            WriteRecordTable(records.table, columns, true, full, {}, {threads, 0});
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().code, ENOSPC);
        EXPECT_EQ(full.text, one.text().substr(0, full.text.size()));
        EXPECT_EQ(std::count(full.text.begin(), full.text.end(), '\n'), 30001);
    }
}

} // namespace
} // namespace logdesk
