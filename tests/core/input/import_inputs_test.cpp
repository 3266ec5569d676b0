// Many files in one import: the table equals the import of the files
// joined, whatever mix of plain files, .gz files and archive members they
// come in; what cannot be read is listed and the rest imported.
#include "core/base/cancellation.h"
#include "core/input/input_fixtures.h"
#include "core/input/import_inputs.h"
#include "support/address_limit.h"
#include "support/import_test_support.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace logdesk {
namespace {

using testing::GzipMember;
using testing::ScratchFolder;
using testing::WriteArchive;

// All that a reader of the import can see.
struct Seen {
    std::vector<std::string> titles;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::pair<std::string, int>> tally;
    HeaderLayout header; // in force at the end
    bool rejected;
    bool operator==(const Seen&) const = default;
};

Seen SeenOf(const LogImport& log) {
    return {testing::Titles(log.table), testing::Rows(log.table), testing::Tally(log.tally),
            log.header, log.rejected};
}

Seen SeenOfBytes(const std::string& bytes) {
    return SeenOf(testing::Imported(ImportLogBytes(bytes)));
}

// A day of log: header changes now and then (never one without names),
// sometimes no header at all, GBK bytes, empty lines, NUL runs, CR LF and LF.
// Every line ends, so that files joined are lines joined.
std::string RandomDay(std::mt19937& rng, bool withHeader) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const char* const headers[] = {
        "#Fields: date time c-ip cs-uri-stem sc-status cs(User-Agent)",
        "#Fields: date c-ip cs(User-Agent)",
        "#Fields: time cs-uri-stem sc-status sc-win32-status",
        "#Software: Microsoft Internet Information Services 7.5",
    };
    static const char* const words[] = {
        "2013-05-01",
        "00:00:01",
        "10.0.0.1",
        "/index.htm",
        "200",
        "Baiduspider",
        "Mozilla/5.0+(compatible;+Googlebot/2.1)",
        "-",
        "\xD0\xC2\xCE\xC5",
        "404",
    };
    std::string day;
    if (withHeader) {
        day += headers[pick(3)];
        day += "\r\n";
    }
    const int lines = pick(40);
    for (int i = 0; i < lines; ++i) {
        const int kind = pick(25);
        if (kind == 0 && withHeader) {
            day += headers[pick(4)];
        } else if (kind == 1) {
            day.append(static_cast<std::size_t>(1 + pick(4)), '\0');
        } else if (kind != 2) { // 2: an empty line
            for (int f = pick(8); f >= 0; --f) {
                day += words[pick(10)];
                day += f > 0 ? " " : "";
            }
        }
        day += pick(3) == 0 ? "\n" : "\r\n";
    }
    return day;
}

TEST(ImportLogInputs, ManyFilesEqualTheirTextJoinedInNameOrder) {
    std::mt19937 rng(20130501);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        ScratchFolder folder;
        std::vector<std::pair<std::string, std::string>> days; // name, text, in name order
        const int count = 2 + static_cast<int>(rng() % 6);
        for (int d = 0; d < count; ++d) {
            // The first file has a header; later ones now and then none, or
            // nothing at all.
            const bool empty = d > 0 && rng() % 6 == 0;
            const std::string text = empty ? "" : RandomDay(rng, d == 0 || rng() % 3 != 0);
            days.emplace_back("ex1305" + std::to_string(10 + d) + ".log", text);
        }
        std::string joined;
        std::vector<std::string> written;
        for (std::size_t d = 0; d < days.size(); ++d) {
            const auto& [name, text] = days[d];
            switch (rng() % 4) {
            case 0:
                written.push_back(folder.write(name + ".gz", GzipMember(text)));
                break;
            case 1: {
                // Two members in their name order, then the next day.
                const std::size_t cut = text.find('\n', text.size() / 2);
                const std::string first = cut == std::string::npos ? text : text.substr(0, cut + 1);
                const std::string second = cut == std::string::npos ? "" : text.substr(cut + 1);
                WriteArchive(folder / (name + ".zip"), archive_write_set_format_zip, nullptr,
                             {{"b.log", second}, {"a.log", first}, {"notes.txt", "not a log"}});
                written.push_back(folder / (name + ".zip"));
                break;
            }
            default:
                written.push_back(folder.write(name, text));
                break;
            }
            joined += text;
        }
        // Named by folder, or file by file in any order: the same import.
        std::vector<std::string> arguments{folder.path()};
        if (round % 2 == 1) {
            arguments = written;
            std::shuffle(arguments.begin(), arguments.end(), rng);
        }
        for (unsigned threads : {1u, 2u}) {
            ImportOptions options;
            options.threads = threads;
            options.rangeBytes = threads > 1 ? 1 + rng() % 64 : 0;
            LogInputsOptions inputOptions;
            inputOptions.readAhead = threads > 1;
            const Result<InputsImport> all = ImportLogInputs(arguments, {}, options, inputOptions);
            ASSERT_TRUE(all) << all.error().line();
            EXPECT_TRUE(all->skipped.empty());
            EXPECT_EQ(all->files.size(), days.size());
            ASSERT_EQ(SeenOf(all->log), SeenOfBytes(joined)) << "threads " << threads;
        }
    }
}

TEST(ImportLogInputs, DamagedAndUnreadableInputsAreListedAndTheOthersImported) {
    ScratchFolder folder;
    std::string day1 = "#Fields: date c-ip cs(User-Agent)\n";
    for (int i = 0; i < 3000; ++i) {
        day1 += "2013-05-01 10.0.0." + std::to_string(i % 250) + " Baiduspider/" +
                std::to_string(i * 7919 % 100000) + "\n";
    }
    const std::string day3 = "2013-05-03 10.9.9.9 Googlebot\n"; // no header: day 1's applies
    folder.write("ex130501.log", day1);
    const std::string gz = GzipMember(day1 + day1);
    folder.write("ex130502.log.gz", gz.substr(0, gz.size() / 2)); // truncated
    folder.write("ex130503.log", day3);
    folder.write("ex130504.log", "#Fields: date\nkept\n#Fields:\nleft out\n");
    folder.write("ex130505.log", "");
    folder.write("ex130506.log", "#Fields: date c-ip\n2013-05-06 10.6.6.6\n");
    const std::string missing = folder / "ex130500.log";

    const Result<InputsImport> all = ImportLogInputs({folder.path(), missing}, {}, {});
    ASSERT_TRUE(all) << all.error().line();
    EXPECT_FALSE(all->single);
    EXPECT_FALSE(all->log.rejected);
    ASSERT_EQ(all->skipped.size(), 3u);

    const SkippedInput& gone = all->skipped[0]; // arguments first
    EXPECT_EQ(gone.kind, SkipKind::Unreadable);
    EXPECT_EQ(gone.name.path, missing);
    EXPECT_EQ(gone.describe(), missing + ": cannot be read: " + std::strerror(ENOENT));

    const SkippedInput& cut = all->skipped[1];
    EXPECT_EQ(cut.kind, SkipKind::Damaged);
    EXPECT_EQ(cut.name.path, folder / "ex130502.log.gz");
    EXPECT_GT(cut.bytesKept, 0u);
    EXPECT_LT(cut.bytesKept, 2 * day1.size());
    EXPECT_TRUE(cut.describe().find("damaged after " + std::to_string(cut.bytesKept) + " bytes") !=
                std::string::npos)
        << cut.describe();

    const SkippedInput& rejected = all->skipped[2];
    EXPECT_EQ(rejected.kind, SkipKind::Rejected);
    EXPECT_EQ(rejected.name.path, folder / "ex130504.log");

    // What the damaged file gave up to the damage is in the table, its cut
    // line ended where the next file begins; the rejected file's lines
    // before its bad header too, and the next file reads on with the layout
    // in force before it.
    std::string kept = (day1 + day1).substr(0, cut.bytesKept);
    if (kept.back() != '\n') {
        kept += '\n';
    }
    const std::string joined =
        day1 + kept + day3 + "#Fields: date\nkept\n" + "#Fields: date c-ip\n2013-05-06 10.6.6.6\n";
    EXPECT_EQ(SeenOf(all->log), SeenOfBytes(joined));
    EXPECT_EQ(all->sourcesRead, 6u);
}

// The URLs of streamed records, in record order.
class UrlCollector final : public RecordConsumer {
public:
    void add(const PageRecord& record) override { urls.emplace_back(record.url); }
    void join(RecordConsumer& later) override {
        auto& other = static_cast<UrlCollector&>(later).urls;
        urls.insert(urls.end(), other.begin(), other.end());
    }
    std::vector<std::string> urls;
};

// A flipped byte inside a deflate stream decodes into wrong text until the
// member's checksum fails at its end: none of that text may reach a row.
TEST(ImportLogInputs, CorruptGzipMembersAreLeftOutWholeAndSaidSo) {
    ScratchFolder folder;
    const std::string first = testing::LogText(20000, 1);
    const std::string second = testing::LogText(20000, 2);
    std::string corrupt = GzipMember(second);
    corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x10);
    folder.write("ex130501.log.gz", GzipMember(first) + corrupt);
    folder.write("ex130502.log", "2013-05-02 00:00:00 /after 200\r\n");

    for (const bool stream : {false, true}) {
        for (const unsigned threads : {1u, 2u}) {
            ImportOptions options;
            options.threads = threads;
            if (stream) {
                options.makeConsumers = [] {
                    std::vector<std::unique_ptr<RecordConsumer>> consumers;
                    consumers.push_back(std::make_unique<UrlCollector>());
                    return consumers;
                };
            }
            const Result<InputsImport> all = ImportLogInputs({folder.path()}, {}, options);
            ASSERT_TRUE(all) << all.error().line();
            ASSERT_EQ(all->skipped.size(), 1u);
            const SkippedInput& damaged = all->skipped[0];
            EXPECT_EQ(damaged.kind, SkipKind::Damaged);
            EXPECT_EQ(damaged.bytesKept, first.size());
            EXPECT_GT(damaged.leftOutBytes, 0u);
            EXPECT_NE(damaged.describe().find(" bytes of text since its last sound checksum left "
                                              "out, the " +
                                              std::to_string(first.size()) + " bytes before them kept"),
                      std::string::npos)
                << damaged.describe();
            const std::string joined = first + "2013-05-02 00:00:00 /after 200\r\n";
            if (stream) {
                const LogImport whole = testing::Imported(ImportLogBytes(joined));
                std::vector<std::string> urls;
                for (std::uint32_t r = 0; r < whole.table.rowCount(); ++r) {
                    urls.emplace_back(whole.table.cell(RowIndex{r}, ColumnIndex{3}));
                }
                ASSERT_EQ(all->log.consumers.size(), 1u);
                EXPECT_EQ(static_cast<const UrlCollector&>(*all->log.consumers[0]).urls, urls);
            } else {
                EXPECT_EQ(SeenOf(all->log), SeenOfBytes(joined));
            }
        }
    }

    // A damaged file alone: nothing of its corrupt member is counted.
    ScratchFolder alone;
    const std::string only = alone.write("ex130503.log.gz", corrupt);
    const Result<InputsImport> one = ImportLogInputs({only}, {}, {});
    ASSERT_TRUE(one) << one.error().line();
    EXPECT_EQ(one->log.table.rowCount(), 0u);
    ASSERT_EQ(one->skipped.size(), 1u);
    EXPECT_EQ(one->skipped[0].bytesKept, 0u);
}

// Thousands of one-line logs cost memory in their size: each input's rows
// must not hold a buffer made for a big file.
TEST(ImportLogInputs, TwentyThousandSmallInputsFitInAFewHundredMegabytes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under sanitizers";
#endif
    ScratchFolder folder;
    const std::string line = "2013-05-01 00:00:01 /a 10.0.0.1 Baiduspider 200\r\n";
    for (int i = 0; i < 20000; ++i) {
        folder.write("ex" + std::to_string(100000 + i) + ".log",
                     "#Fields: date time cs-uri-stem c-ip cs(User-Agent) sc-status\r\n" + line);
    }
    // What the process has now, two threads' stacks, and 512 MiB.
    const int status = testing::ExitStatusUnderAddressLimit(std::uint64_t{528} << 20, [&] {
        ImportOptions options;
        options.threads = 2;
        const Result<InputsImport> all = ImportLogInputs({folder.path()}, {}, options);
        return !all ? 1 : all->log.table.rowCount() == 20000 && all->skipped.empty() ? 0 : 2;
    });
    EXPECT_EQ(status, 0) << "1: the import failed (out of memory); 2: rows lost";
}

TEST(ImportLogInputs, OneFileIsImportedAsImportLogFileImportsIt) {
    ScratchFolder folder;
    const std::string day = "#Fields: date cs(User-Agent)\r\n2013-05-01 Baiduspider\r\n";
    const std::string file = folder.write("ex130501.log", day);
    const HeaderLayout previous = MapHeader("#Fields: c-ip cs(User-Agent)");
    const std::string bare = folder.write("bare.log", "10.0.0.1 Googlebot\n");
    for (const std::string& path : {file, bare}) {
        const Result<InputsImport> one = ImportLogInputs({path}, previous, {});
        ASSERT_TRUE(one);
        EXPECT_TRUE(one->single);
        EXPECT_EQ(SeenOf(one->log), SeenOf(testing::Imported(ImportLogFile(path, previous))));
    }
    // A folder holding one log is that log.
    ScratchFolder alone;
    alone.write("ex130501.log", day);
    EXPECT_TRUE(ImportLogInputs({alone.path()}, {}, {})->single);

    // Failures are the Error ImportLogFile gives, and a nameless header
    // rejects the file as it does.
    const std::string missing = folder / "gone.log";
    const Result<InputsImport> gone = ImportLogInputs({missing}, {}, {});
    ASSERT_FALSE(gone);
    const Result<LogImport> direct = ImportLogFile(missing);
    EXPECT_EQ(gone.error().line(), direct.error().line());
    EXPECT_EQ(gone.error().code, ENOENT);

    const std::string bad = folder.write("bad.log", "#Fields: date\r\nd1\r\n#Fields:\r\nd2\r\n");
    const Result<InputsImport> rejected = ImportLogInputs({bad}, {}, {});
    ASSERT_TRUE(rejected);
    EXPECT_TRUE(rejected->skipped.empty());
    EXPECT_EQ(SeenOf(rejected->log), SeenOf(testing::Imported(ImportLogFile(bad))));
    EXPECT_TRUE(rejected->log.rejected);

    // The same file beside an unreadable one is one of several inputs: its
    // rejection is listed, and the tally is finished.
    const Result<InputsImport> beside = ImportLogInputs({bad, missing}, {}, {});
    ASSERT_TRUE(beside);
    EXPECT_FALSE(beside->log.rejected);
    ASSERT_EQ(beside->skipped.size(), 2u);
    EXPECT_EQ(beside->skipped[1].kind, SkipKind::Rejected);
    EXPECT_EQ(testing::Rows(beside->log.table),
              (std::vector<std::vector<std::string>>{{"1", "d1"}}));
}

TEST(ImportLogInputs, ProgressCoversEveryFileAndCancelStopsTheImport) {
    ScratchFolder folder;
    const std::string day = testing::LogText(40000, 3);
    folder.write("ex130501.log", day);
    folder.write("ex130502.log.gz", GzipMember(day));
    folder.write("ex130503.log", day);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
    ImportOptions options;
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        seen.emplace_back(done, total);
    };
    LogInputs inputs({folder.path()});
    const std::uint64_t total = inputs.totalBytes();
    ASSERT_TRUE(ImportLogInputs(inputs, {}, options));
    ASSERT_GT(seen.size(), 3u);
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].first, seen[i - 1].first);
        EXPECT_EQ(seen[i].second, total);
    }
    EXPECT_EQ(seen.back().first, total);
    // Progress passed the first file before the end.
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](const auto& p) {
        return p.first > day.size() && p.first < total;
    }));

    Cancellation stop;
    options.cancel = stop.token();
    options.progress = [&](std::uint64_t done, std::uint64_t) {
        if (done > day.size()) {
            stop.cancel();
        }
    };
    const Result<InputsImport> cancelled = ImportLogInputs({folder.path()}, {}, options);
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.error().code, ECANCELED);
}

TEST(ImportLogInputs, NoLogInAFolderGivesAnEmptyImportWithNothingSkipped) {
    ScratchFolder folder;
    folder.write("notes.txt", "not a log");
    const Result<InputsImport> none = ImportLogInputs({folder.path()}, {}, {});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->sourcesRead, 0u);
    EXPECT_TRUE(none->skipped.empty());
    EXPECT_EQ(none->log.table.rowCount(), 0u);
}

} // namespace
} // namespace logdesk
