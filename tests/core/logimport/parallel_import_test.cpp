// The threaded import gives the one-thread import's table, to the byte, for
// every input; and every scanner finds what the plain loop finds.
#include "core/base/cancellation.h"
#include "core/logimport/line_scan.h"
#include "core/logimport/log_importer.h"
#include "support/import_test_support.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace logdesk {
namespace {

using testing::ImportAll;
using testing::TempFile;

// Every cell of every row, the titles, the tally and the header: all that a
// reader of the table can see.
struct Seen {
    int failure; // the error's code, 0 for an import
    std::string cause;
    bool rejected;
    std::vector<std::string> titles;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::pair<std::string, int>> tally;
    HeaderLayout header;
    std::uint32_t dropped;
    bool operator==(const Seen&) const = default;
};

Seen SeenOf(const Result<LogImport>& imported) {
    if (!imported) {
        return {imported.error().code, imported.error().cause, false, {}, {}, {}, {}, 0};
    }
    const LogImport& r = *imported;
    Seen seen{0, {}, r.rejected, {}, {}, {}, r.header, r.droppedFields};
    for (int c = 0; c < r.table.columnCount(); ++c) {
        seen.titles.emplace_back(r.table.columnTitle(ColumnIndex{c}));
    }
    for (std::uint32_t row = 0; row < r.table.rowCount(); ++row) {
        std::vector<std::string>& cells = seen.rows.emplace_back();
        for (int c = 0; c < r.table.columnCount(); ++c) {
            cells.emplace_back(r.table.cell(RowIndex{row}, ColumnIndex{c}));
        }
        // forEachStoredCell must agree with cell().
        r.table.data()->forEachStoredCell(RecordIndex{row}, [&](ColumnIndex c, std::string_view v) {
            EXPECT_EQ(cells[static_cast<std::size_t>(ToInt(c))], v);
        });
    }
    for (const SpiderTally::Entry& e : r.tally.entries()) {
        seen.tally.emplace_back(e.name, e.count);
    }
    return seen;
}

// A random log: header changes (some repeated, one without names now and
// then), lines before the first header, NUL and 0x1A runs, CR LF and bare
// CR, GBK and UTF-8 bytes, blanks in runs, long lines and empty ones.
std::string RandomLog(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const std::vector<std::string> headers = {
        "#Fields: date time c-ip cs-uri-stem sc-status cs(User-Agent)",
        "#Fields: date c-ip cs(User-Agent)",
        "#Fields: time cs-uri-stem sc-status sc-win32-status",
        "#Fields: a b a c",
        "#Fields: DateTime ClientIpAddress",
        "#Fields:",
        "#Software: Microsoft Internet Information Services 7.5",
    };
    static const std::vector<std::string> words = {
        "2013-05-01",
        "00:00:01",
        "10.0.0.1",
        "/index.htm",
        "200",
        "Baiduspider",
        "Mozilla/5.0+(compatible;+Googlebot/2.1)",
        "-",
        "\xD0\xC2\xCE\xC5",
        "\xE6\x96\xB0\xE9\x97\xBB",
        "\x81\x7C",
        "#x",
        "x#",
    };
    std::string log;
    const int lines = pick(60);
    for (int i = 0; i < lines; ++i) {
        const int kind = pick(20);
        if (kind == 0) {
            const int h = pick(static_cast<int>(headers.size()));
            // Nameless headers end a file: keep them rare.
            if (h == 5 && pick(4) != 0) {
                continue;
            }
            log += headers[static_cast<std::size_t>(h)];
        } else if (kind == 1) {
            log.append(static_cast<std::size_t>(1 + pick(5)), pick(2) ? '\0' : '\x1A');
        } else if (kind == 2) {
            log += std::string(static_cast<std::size_t>(pick(3000)), 'L');
        } else if (kind == 3) {
            // nothing: an empty line
        } else {
            const int fields = pick(9);
            for (int f = 0; f < fields; ++f) {
                if (f > 0) {
                    log.append(static_cast<std::size_t>(1 + (pick(8) == 0)), ' ');
                }
                log += words[static_cast<std::size_t>(pick(static_cast<int>(words.size())))];
            }
        }
        const int end = pick(10);
        log += end == 0 ? "\r\n" : end == 1 ? "\r" : end == 2 ? "" : "\n";
    }
    return log;
}

TEST(ParallelImportTest, SameTableAsOneThreadForRandomLogs) {
    std::mt19937 rng(20261210);
    const HeaderLayout previous = MapHeader("#Fields: date cs(User-Agent) x");
    for (int round = 0; round < 400; ++round) {
        const std::string log = RandomLog(rng);
        ImportOptions one;
        one.threads = 1;
        const Seen expected =
            SeenOf(ImportLogBytes(log, round % 3 == 0 ? previous : HeaderLayout{}, one));
        for (unsigned threads : {2u, 3u, 8u}) {
            ImportOptions many;
            many.threads = threads;
            many.rangeBytes = 1 + rng() % 97; // many boundaries, lines longer than a range
            const Seen seen =
                SeenOf(ImportLogBytes(log, round % 3 == 0 ? previous : HeaderLayout{}, many));
            ASSERT_EQ(seen, expected) << "round " << round << " threads " << threads;
        }
    }
}

TEST(ParallelImportTest, SameTableFromFilesThroughSmallBuffers) {
    // Buffers cut the file anywhere: in CR LF, inside NUL runs, inside long
    // lines, so batches end where the bytes read so far allow.
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        std::string log;
        for (int i = 0; i < 8; ++i) {
            log += RandomLog(rng);
        }
        TempFile file(log);
        ImportOptions one;
        one.threads = 1;
        const Seen expected = SeenOf(ImportLogFile(file.path(), {}, one));
        for (std::size_t chunk : {16u, 61u, 4096u, 0u}) {
            ImportOptions many;
            many.threads = 2;
            if (chunk > 0) {
                many.maxChunkBytes = chunk;
            }
            many.rangeBytes = 1 + rng() % 300;
            ASSERT_EQ(SeenOf(ImportLogFile(file.path(), {}, many)), expected)
                << "round " << round << " buffers of " << chunk;
            // Small batches, each split while the next is read.
            many.batchBytes = 1 + rng() % 700;
            ASSERT_EQ(SeenOf(ImportLogFile(file.path(), {}, many)), expected)
                << "round " << round << " buffers of " << chunk << " batches of "
                << many.batchBytes;
        }
    }
}

TEST(ParallelImportTest, LimitsAndFailuresAsOneThread) {
    ImportOptions many;
    many.threads = 4;
    many.rangeBytes = 8;
    many.maxRecords = 3;
    EXPECT_TRUE(ImportLogBytes("#Fields: a\n1\n2\n3\n", {}, many));
    EXPECT_EQ(ImportLogBytes("#Fields: a\n1\n2\n3\n4\n", {}, many).error().code, EFBIG);
    Cancellation stop;
    stop.cancel();
    many.cancel = stop.token();
    EXPECT_EQ(ImportLogBytes("#Fields: a\n1\n", {}, many).error().code, ECANCELED);
}

TEST(LogImporterTest, InputsReadAsTheirConcatenation) {
    // Where every input ends its last line, reading them one after another
    // is reading them joined: headers apply from where they stand, inputs
    // without one take the layout in force, record numbers go on.
    std::mt19937 rng(99);
    for (int round = 0; round < 150; ++round) {
        std::vector<std::string> inputs(1 + rng() % 5);
        std::string joined;
        for (std::string& input : inputs) {
            input = rng() % 6 == 0 ? std::string() : RandomLog(rng);
            if (!input.empty() && input.back() != '\n') {
                input += '\n';
            }
            // A nameless header would end the joined log but only its own input.
            std::string::size_type at;
            while ((at = input.find("#Fields:\n")) != std::string::npos ||
                   (at = input.find("#Fields:\r")) != std::string::npos) {
                input.replace(at, 8, "#Fields: x");
            }
            joined += input;
        }
        for (unsigned threads : {1u, 2u}) {
            ImportOptions options;
            options.threads = threads;
            options.rangeBytes = threads > 1 ? 1 + rng() % 50 : 0;
            ASSERT_EQ(SeenOf(ImportAll(inputs, options)),
                      SeenOf(ImportLogBytes(joined, {}, options)))
                << "round " << round << " threads " << threads;
        }
    }
}

TEST(LogImporterTest, AnInputEndsItsLinesAndItsRejection) {
    for (unsigned threads : {1u, 3u}) {
        ImportOptions options;
        options.threads = threads;
        std::vector<InputRead> reads;
        // No LF at the end of the first: its last line does not run into
        // the next input's first. The second is rejected half-way: its
        // lines before the bad header stay, the third is read with the
        // header in force before it.
        const Result<LogImport> all = ImportAll(
            {"#Fields: a b\nx1 y1", "x2 y2\n#Fields:\nlost lost\n", "x3 y3\n#Fields: b\nz4\n"},
            options, &reads);
        ASSERT_TRUE(all);
        EXPECT_FALSE(all->rejected);
        ASSERT_EQ(reads.size(), 3u);
        EXPECT_FALSE(reads[0].rejected);
        EXPECT_TRUE(reads[1].rejected);
        EXPECT_FALSE(reads[2].rejected);
        EXPECT_EQ(testing::Rows(all->table),
                  (std::vector<std::vector<std::string>>{
                      {"1", "y1", "x1"}, {"2", "y2", "x2"}, {"3", "y3", "x3"}, {"4", "z4", ""}}));
    }
}

TEST(LogImporterTest, AReadFailureKeepsWhatCameBefore) {
    LogImporter importer;
    std::string first = "#Fields: a\n1\n2\n";
    std::size_t at = 0;
    const Result<InputRead> broken = importer.add(
        [&](char* buffer, std::size_t size) -> Result<std::size_t> {
            if (at == first.size()) {
                return SystemError(EIO, "cannot read");
            }
            const std::size_t n = std::min(size, first.size() - at);
            std::memcpy(buffer, first.data() + at, n);
            at += n;
            return n;
        },
        0);
    ASSERT_TRUE(broken);
    ASSERT_TRUE(broken->failure.has_value());
    EXPECT_EQ(broken->failure->code, EIO);
    std::string second = "3\n";
    std::size_t at2 = 0;
    ASSERT_TRUE(importer.add(
        [&](char* buffer, std::size_t size) -> Result<std::size_t> {
            const std::size_t n = std::min(size, second.size() - at2);
            std::memcpy(buffer, second.data() + at2, n);
            at2 += n;
            return n;
        },
        second.size()));
    const Result<LogImport> all = importer.finish();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->table.rowCount(), 3u);
}

TEST(LineScanTest, EveryScannerFindsWhatTheLoopFinds) {
    // Random GBK and UTF-8 text with blanks, LF and run bytes anywhere; the
    // trail byte of a double-byte character is never below 0x40, so byte
    // scans stop exactly where the text rules do.
    std::mt19937 rng(3);
    const std::vector<std::string> pieces = {
        " ",        "  ",           "\n",   "\r",   std::string(1, '\0'), "\x1A", "a", "\xD0\xC2",
        "\x81\x7C", "\xE6\x96\xB0", "\xFF", "\x7F", std::string(70, 'x')};
    std::vector<std::uint32_t> expected(300);
    std::vector<std::uint32_t> got(300);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            text += pieces[rng() % pieces.size()];
        }
        text.append(kScanSlack, 'z'); // slack, never counted
        const std::size_t size = text.size() - kScanSlack;
        const std::size_t from = size == 0 ? 0 : rng() % (size + 1);
        const std::size_t maxBlanks = rng() % 12;
        const char* begin = text.data() + from;
        const char* end = text.data() + size;
        const LineScan want =
            LineScannerOf(ScanKind::Portable)(begin, end, expected.data(), maxBlanks);
        for (ScanKind kind : {ScanKind::Sse2, ScanKind::Avx2, BestScanKind()}) {
            const LineScan scan = LineScannerOf(kind)(begin, end, got.data(), maxBlanks);
            ASSERT_EQ(scan.stop, want.stop) << round;
            ASSERT_EQ(scan.blanks, want.blanks) << round;
            for (std::size_t i = 0; i < want.blanks; ++i) {
                ASSERT_EQ(got[i], expected[i]) << round;
            }
        }
    }
}

} // namespace
} // namespace logdesk
