#include "core/base/cancellation.h"
#include "core/logimport/log_importer.h"
#include "support/import_test_support.h"
#include "core/text/gbk_codec.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace logdesk {
namespace {

using testing::Rows;
using testing::Tally;
using testing::TempFile;
using testing::Titles;
using Table = std::vector<std::vector<std::string>>;
using namespace std::string_literals;

const std::string kSixLines =
    "#Software: Microsoft Internet Information Services 7.5\r\n"
    "#Version: 1.0\r\n"
    "#Fields: date time c-ip cs-uri-stem sc-status cs(User-Agent)\r\n"
    "2013-05-01 00:00:01 10.0.0.1 /index.htm 200 Mozilla/5.0+(compatible;+Baiduspider/2.0)\r\n"
    "2013-05-01 00:00:02 10.0.0.2 /a.htm 404 -\r\n"
    "2013-05-01 00:00:03 10.0.0.3 /b.htm\r\n";

TEST(ImportTest, SixLineExample) {
    const LogImport r = testing::Imported(ImportLogBytes(kSixLines));
    ASSERT_FALSE(r.rejected);
    EXPECT_EQ(Titles(r.table),
              (std::vector<std::string>{"序号(ID)", "日期(date)", "时间(time)", "访问者IP(c-ip)",
                                        "URL(cs-uri-stem)", "状态码 (sc-status)",
                                        "访问者身份(cs(User-Agent))"}));
    EXPECT_EQ(
        Rows(r.table),
        (Table{
            {"1", "2013-05-01", "00:00:01", "10.0.0.1", "/index.htm", "200", "百度(Baiduspider)"},
            {"2", "2013-05-01", "00:00:02", "10.0.0.2", "/a.htm", "404", "其他流量(unknown)"},
            {"3", "2013-05-01", "00:00:03", "10.0.0.3", "/b.htm", "", "其他流量(unknown)"}}));
    EXPECT_EQ(Tally(r.tally), (std::vector<std::pair<std::string, int>>{{"百度(Baiduspider)", 1},
                                                                        {"其他流量(unknown)", 2}}));
    EXPECT_EQ(r.header.fieldCount(), 6);
    EXPECT_EQ(r.header.fieldMap[FieldSlot::UserAgent], 6);
}

TEST(ImportTest, LineEndsAndFieldCounts) {
    // No LF after the last line; surplus fields dropped; an empty line is a row.
    const LogImport r = testing::Imported(ImportLogBytes("#Fields: a cs(User-Agent) c\n"
                                                         "1 x 3 4 5\n"
                                                         "\n"
                                                         "1  3\r\r\n"
                                                         "1 Googlebot"));
    EXPECT_EQ(Rows(r.table), (Table{{"1", "1", "其他流量(unknown)", "3"},
                                    {"2", "", "其他流量(unknown)", ""},
                                    {"3", "1", "其他流量(unknown)", "3\r"},
                                    {"4", "1", "谷歌(Googlebot)", ""}}));
    // A trailing blank gives no further field; CR LF at the end no extra row.
    const LogImport t = testing::Imported(ImportLogBytes("#Fields: a b c\r\nx y \r\n"));
    EXPECT_EQ(Rows(t.table), (Table{{"1", "x", "y", ""}}));
}

TEST(ImportTest, DirectivesAndRepeatedHeaders) {
    const LogImport r =
        testing::Imported(ImportLogBytes("#Software: IIS\n#fields: date\n#Fields: date c-ip\n"
                                         "d1 ip1\n#Date: x\n#Fields: date c-ip\nd2 ip2\n"));
    EXPECT_EQ(Titles(r.table),
              (std::vector<std::string>{"序号(ID)", "日期(date)", "访问者IP(c-ip)"}));
    EXPECT_EQ(Rows(r.table), (Table{{"1", "d1", "ip1"}, {"2", "d2", "ip2"}}));
    // Without a user-agent field nothing is counted.
    EXPECT_EQ(r.tally.length(), 0);
}

TEST(ImportTest, DifferingHeadersKeepEveryCellUnderItsField) {
    const LogImport r =
        testing::Imported(ImportLogBytes("#Fields: date c-ip cs(User-Agent) sc-bytes\n"
                                         "d1 ip1 Baiduspider 10\n"
                                         "#Fields: date time c-ip\n"
                                         "d2 t2 ip2\n"));
    // The last header's fields first, then what only the earlier header had.
    EXPECT_EQ(Titles(r.table),
              (std::vector<std::string>{"序号(ID)", "日期(date)", "时间(time)", "访问者IP(c-ip)",
                                        "访问者身份(cs(User-Agent))", "字节数(sc-bytes)"}));
    EXPECT_EQ(Rows(r.table), (Table{{"1", "d1", "", "ip1", "百度(Baiduspider)", "10"},
                                    {"2", "d2", "t2", "ip2", "", ""}}));
    EXPECT_EQ(r.header.fieldCount(), 3);
    EXPECT_EQ(r.header.fieldMap[FieldSlot::UserAgent], 0);
    EXPECT_EQ(r.header.fieldMap[FieldSlot::ClientIp], 3);
    EXPECT_EQ(Tally(r.tally), (std::vector<std::pair<std::string, int>>{{"百度(Baiduspider)", 1}}));
}

TEST(ImportTest, HeaderWithoutNamesRejectsTheFile) {
    const LogImport r = testing::Imported(ImportLogBytes("#Fields: date cs(User-Agent)\n"
                                                         "d1 Googlebot\nd2 Baiduspider\n"
                                                         "#Fields:   \n"
                                                         "d3 x\n"));
    EXPECT_TRUE(r.rejected);
    EXPECT_EQ(r.header.fieldCount(), 0);
    EXPECT_EQ(r.table.rowCount(), 2u);
    EXPECT_EQ(Titles(r.table)[0], "序号(ID)");
    // Not finished: first-seen order.
    EXPECT_EQ(Tally(r.tally), (std::vector<std::pair<std::string, int>>{{"谷歌(Googlebot)", 1},
                                                                        {"百度(Baiduspider)", 1}}));

    const LogImport only = testing::Imported(ImportLogBytes("#Fields:\r\n"));
    EXPECT_TRUE(only.rejected);
    EXPECT_EQ(Titles(only.table), std::vector<std::string>{"序号(ID)"});
}

TEST(ImportTest, LinesBeforeTheFirstHeaderAndFilesWithoutOne) {
    const LogImport early = testing::Imported(ImportLogBytes("a1 b1\n#Fields: a b\na2 b2\n"));
    EXPECT_EQ(Rows(early.table), (Table{{"1", "a1", "b1"}, {"2", "a2", "b2"}}));

    const HeaderLayout previous = MapHeader("#Fields: date c-ip");
    const LogImport headerless = testing::Imported(ImportLogBytes("d1 ip1\nd2 ip2\n", previous));
    EXPECT_EQ(headerless.header, previous);
    EXPECT_EQ(Rows(headerless.table), (Table{{"1", "d1", "ip1"}, {"2", "d2", "ip2"}}));

    const LogImport bare = testing::Imported(ImportLogBytes("just text\n"));
    EXPECT_EQ(Rows(bare.table), (Table{{"1"}}));

    const LogImport empty = testing::Imported(ImportLogBytes(""));
    EXPECT_FALSE(empty.rejected);
    EXPECT_EQ(empty.table.columnCount(), 0);
    EXPECT_EQ(empty.tally.length(), 0);
}

TEST(ImportTest, NulRunsEndLinesWithoutAddingRows) {
    const std::string zeros(4096, '\0');
    const LogImport r = testing::Imported(ImportLogBytes(
        "#Fields: a b\nx1 y1\n" + zeros + "#Software: IIS\r\nx2 y2\x1A\r\nx3 y3\0\0\nx4 y4\n"s));
    EXPECT_EQ(Rows(r.table),
              (Table{{"1", "x1", "y1"}, {"2", "x2", "y2"}, {"3", "x3", "y3"}, {"4", "x4", "y4"}}));
}

TEST(ImportTest, FieldsSplitOnBlanksWhateverTheEncoding) {
    // GBK and UTF-8 bytes inside fields; 0xA1 0x20 is no character, so the
    // blank still separates.
    const LogImport r = testing::Imported(
        ImportLogBytes("#Fields: cs-uri-stem cs(User-Agent) c-ip\n" + Gbk("/新闻") +
                       " Mözillä+bingbot 1\n"
                       "/\xA1 x 2\n"));
    EXPECT_EQ(Rows(r.table), (Table{{"1", "/新闻", "必应(Msnbot&Bing)", "1"},
                                    {"2", GbkToUtf8("/\xA1"), "其他流量(unknown)", "2"}}));
}

TEST(ImportFileTest, ReadsLikeBytesAcrossSmallBuffers) {
    std::string log = kSixLines;
    for (int i = 0; i < 500; ++i) {
        log += "2013-05-02 01:00:00 10.0.0." + std::to_string(i % 7) + " /p" + std::to_string(i) +
               ".htm 200 " + (i % 3 == 0 ? "Googlebot" : "Mozilla") + "\r\n";
    }
    log += std::string(3000, 'x') + "\r\n"; // longer than a buffer
    TempFile file(log);
    ImportOptions options;
    options.maxChunkBytes = 1024;
    int progressCalls = 0;
    options.progress = [&](std::uint64_t read, std::uint64_t total) {
        ++progressCalls;
        EXPECT_LE(read, total);
    };
    const LogImport fromFile = testing::Imported(ImportLogFile(file.path(), {}, options));
    const LogImport fromBytes = testing::Imported(ImportLogBytes(log));
    ASSERT_FALSE(fromFile.rejected);
    EXPECT_EQ(Rows(fromFile.table), Rows(fromBytes.table));
    EXPECT_EQ(fromFile.tally, fromBytes.tally);
    EXPECT_EQ(fromFile.bytesRead, log.size());
    EXPECT_GE(progressCalls, 1);
    EXPECT_EQ(fromFile.table.rowCount(), 504u);
}

TEST(ImportFileTest, LineEndsAndNulRunsAcrossBufferEdges) {
    // Every buffer edge position meets CR LF pairs, NUL runs and the line
    // end right after a run; the result must not depend on where the file
    // was cut into buffers.
    std::string log = "#Fields: a b\r\n";
    for (int i = 0; i < 40; ++i) {
        log += "x" + std::to_string(i) + " y\r\n";
        if (i % 3 == 0) {
            log += std::string(static_cast<std::size_t>(i % 7 + 1), '\0') + "\r\n";
        }
        if (i % 5 == 0) {
            log += "z" + std::to_string(i) + "\x1A\x1A\n";
        }
    }
    TempFile file(log);
    const LogImport whole = testing::Imported(ImportLogBytes(log));
    ASSERT_EQ(whole.table.rowCount(), 48u);
    for (std::size_t chunk : {16u, 17u, 19u, 23u, 64u}) {
        ImportOptions options;
        options.maxChunkBytes = chunk;
        const LogImport cut = testing::Imported(ImportLogFile(file.path(), {}, options));
        ASSERT_EQ(Rows(cut.table), Rows(whole.table)) << "buffers of " << chunk;
    }
}

TEST(ImportTest, ManyDistinctAgentsAreAllIdentified) {
    // More distinct agents than the identification cache keeps.
    std::string log = "#Fields: cs(User-Agent)\n";
    const std::vector<std::string> kinds = {"Mozilla/", "Baiduspider/", "bingbot/", "Sogou+"};
    for (int i = 0; i < 70000; ++i) {
        log += kinds[static_cast<std::size_t>(i) % kinds.size()] + std::to_string(i) + "\n";
    }
    const LogImport r = testing::Imported(ImportLogBytes(log));
    ASSERT_EQ(r.table.rowCount(), 70000u);
    for (std::uint32_t row : {0u, 1u, 2u, 3u, 40001u, 69999u}) {
        const std::string agent = kinds[row % kinds.size()] + std::to_string(row);
        EXPECT_EQ(r.table.cell(RowIndex{row}, ColumnIndex{1}),
                  SpiderDisplayName(IdentifySpider(agent)));
    }
    EXPECT_EQ(Tally(r.tally),
              (std::vector<std::pair<std::string, int>>{{"百度(Baiduspider)", 17500},
                                                        {"搜狗(Sogou)", 17500},
                                                        {"必应(Msnbot&Bing)", 17500},
                                                        {"其他流量(unknown)", 17500}}));
}

TEST(ImportFileTest, FailuresComeBackWithTheReason) {
    // The callers' headings say that reading the log failed; the error says
    // which file and why.
    const HeaderLayout previous = MapHeader("#Fields: date");
    const Result<LogImport> missing = ImportLogFile("/nonexistent/dir/ex130501.log", previous);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().line(), "/nonexistent/dir/ex130501.log: No such file or directory");
    EXPECT_EQ(missing.error().code, ENOENT);

    TempFile dir("");
    const Result<LogImport> directory = ImportLogFile(dir.dir().string());
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.error().line(), dir.dir().string() + ": Is a directory");

    Cancellation stop;
    stop.cancel();
    ImportOptions options;
    options.cancel = stop.token();
    TempFile log(kSixLines);
    const Result<LogImport> cancelled = ImportLogFile(log.path(), {}, options);
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.error().code, ECANCELED);
}

TEST(RecordTableTest, RowOrderPermutesWithoutCopying) {
    LogImport r = testing::Imported(ImportLogBytes(kSixLines));
    RecordTable sorted = r.table;
    sorted.setRowOrder({RecordIndex{2}, RecordIndex{0}, RecordIndex{1}});
    EXPECT_EQ(sorted.cell(RowIndex{0}, ColumnIndex{0}), "3");
    EXPECT_EQ(sorted.cell(RowIndex{1}, ColumnIndex{4}), "/index.htm");
    EXPECT_EQ(r.table.cell(RowIndex{0}, ColumnIndex{0}), "1");
    EXPECT_EQ(sorted.cell(RowIndex{0}, ColumnIndex{4}).data(),
              r.table.cell(RowIndex{2}, ColumnIndex{4}).data());
    // Out-of-range columns read as empty.
    EXPECT_EQ(sorted.cell(RowIndex{0}, ColumnIndex{7}), "");
    EXPECT_EQ(sorted.columnTitle(ColumnIndex{-1}), "");
}

TEST(RecordTableTest, RecordNumbersAcrossDigitCounts) {
    std::string log = "#Fields: a\n";
    for (int i = 0; i < 12345; ++i) {
        log += "x\n";
    }
    const LogImport r = testing::Imported(ImportLogBytes(log));
    for (std::uint32_t row : {0u, 8u, 9u, 98u, 99u, 999u, 1000u, 9999u, 12344u}) {
        EXPECT_EQ(r.table.cell(RowIndex{row}, ColumnIndex{0}), std::to_string(row + 1));
    }
}

} // namespace
} // namespace logdesk
