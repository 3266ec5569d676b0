// What hostile or huge inputs do to the import: limits that stop it with a
// reason, memory that stays proportional to the file, and the agent cache
// that keeps identification once per distinct agent.
#include "core/logimport/log_importer.h"
#include "support/import_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace logdesk {
namespace {

using testing::Rows;
using testing::TempFile;
using namespace std::string_literals;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Address space in use by this process now, in bytes.
std::size_t AddressSpaceInUse() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (f != nullptr) {
        if (std::fscanf(f, "%lu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(f);
    }
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Runs `body` in a child whose address space may grow by `headroom` bytes
// only; the child's exit code (body's return value), or -1 when it died.
template <typename Body> int InChildWithMemory(std::size_t headroom, Body&& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!kSanitized) {
            const rlimit limit{AddressSpaceInUse() + headroom, AddressSpaceInUse() + headroom};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ImportLimitsTest, RunningOutOfMemoryIsAResultNotACrash) {
    if (kSanitized) {
        GTEST_SKIP() << "address-space limits do not apply under sanitizers";
    }
    // A file too big for its first buffer, and a table whose cell offsets
    // outgrow memory half-way through.
    TempFile sparse("");
    const std::string big = (sparse.dir() / "big.log").string();
    {
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
        ::close(fd);
    }
    std::string manyFields = "#Fields: a b c d e f g h i j k l m n o p q r s t\n";
    while (manyFields.size() < (std::size_t{72} << 20)) {
        manyFields += "1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0\n";
    }
    const HeaderLayout previous = MapHeader("#Fields: date");
    const int code = InChildWithMemory(std::size_t{96} << 20, [&] {
        const Result<LogImport> file = ImportLogFile(big, previous);
        if (file || file.error().code != ENOMEM || file.error().path != big ||
            file.error().cause.empty()) {
            return 1;
        }
        const Result<LogImport> cells = ImportLogBytes(manyFields, previous);
        if (cells || cells.error().code != ENOMEM) {
            return 2;
        }
        // What the failed imports held was released: a small log still fits.
        const Result<LogImport> small = ImportLogBytes("#Fields: a\nx\n");
        return small && small->table.rowCount() == 1 ? 0 : 3;
    });
    EXPECT_EQ(code, 0);
}

TEST(ImportLimitsTest, MoreBuffersThanA16BitIndexHolds) {
    // Tiny buffers: every few lines start a new one, far past 65,536 of them.
    std::string log = "#Fields: a b\n";
    for (int i = 0; i < 80000; ++i) {
        log += std::to_string(i) + " v" + std::to_string(i % 97) + "\n";
    }
    TempFile file(log);
    ImportOptions options;
    options.maxChunkBytes = 16;
    const LogImport cut = testing::Imported(ImportLogFile(file.path(), {}, options));
    ASSERT_FALSE(cut.rejected);
    ASSERT_EQ(cut.table.rowCount(), 80000u);
    for (std::uint32_t row : {0u, 1u, 65535u, 65536u, 70001u, 79999u}) {
        EXPECT_EQ(cut.table.cell(RowIndex{row}, ColumnIndex{1}), std::to_string(row));
        EXPECT_EQ(cut.table.cell(RowIndex{row}, ColumnIndex{2}), "v" + std::to_string(row % 97));
    }
    EXPECT_EQ(Rows(cut.table), Rows(testing::Imported(ImportLogBytes(log)).table));
}

TEST(ImportLimitsTest, LimitsStopTheImportWithAReason) {
    const HeaderLayout previous = MapHeader("#Fields: date");
    ImportOptions lines;
    lines.maxLineBytes = 100;
    const std::string shortLines = "#Fields: a\n" + std::string(90, 'x') + "\nabc\n";
    EXPECT_TRUE(ImportLogBytes(shortLines, previous, lines));
    const Result<LogImport> longLine =
        ImportLogBytes("#Fields: a\nabc\n" + std::string(150, 'x') + "\n", previous, lines);
    ASSERT_FALSE(longLine);
    EXPECT_EQ(longLine.error().code, EFBIG);
    EXPECT_EQ(longLine.error().reason(), "a line at byte 15 is longer than 100 bytes");

    ImportOptions records;
    records.maxRecords = 3;
    EXPECT_TRUE(ImportLogBytes("#Fields: a\n1\n2\n3\n", {}, records));
    const Result<LogImport> many = ImportLogBytes("#Fields: a\n1\n2\n3\n4\n", {}, records);
    ASSERT_FALSE(many);
    EXPECT_EQ(many.error().code, EFBIG);
    EXPECT_EQ(many.error().reason(), "the log has more than 3 records");
}

TEST(ImportLimitsTest, LinesWithoutAnAgentStillUseTheCache) {
    // Lines that stop before the user-agent field (and one the fuzzer found:
    // a NUL, then a header, an empty agent and a missing one).
    const LogImport found =
        testing::Imported(ImportLogBytes("\0#Fields: date cs(User-Agent) x\nd  x\nd"s));
    EXPECT_EQ(Rows(found.table),
              (std::vector<std::vector<std::string>>{{"1", "d", "其他流量(unknown)", "x"},
                                                     {"2", "d", "其他流量(unknown)", ""}}));

    std::string log = "#Fields: date time cs(User-Agent)\n";
    for (int i = 0; i < 40000; ++i) {
        log += "2013-05-01\n";
    }
    for (int i = 0; i < 3000; ++i) {
        log += "2013-05-01 00:00:00 "s +
               (i % 3 == 0   ? "Baiduspider"
                : i % 3 == 1 ? "x"
                             : "") +
               "\n";
    }
    const LogImport r = testing::Imported(ImportLogBytes(log));
    ASSERT_EQ(r.table.rowCount(), 43000u);
    // The empty agent, "Baiduspider" and "x": three identifications in all.
    EXPECT_EQ(r.agentIdentifications, 3u);
    EXPECT_EQ(r.table.cell(RowIndex{40000}, ColumnIndex{3}), SpiderDisplayName(SpiderId::Baidu));
}

TEST(ImportLimitsTest, HeadersCostTheirOwnSizeNotRowsTimesColumns) {
    // 40,000 distinct headers with one data line each, and one header of
    // 120,000 fields over 20,000 empty lines: small files that once took
    // gigabytes. Every line keeps its own cells; columns past the table's
    // limit are counted as left out.
    std::string headers;
    for (int i = 0; i < 40000; ++i) {
        headers += "#Fields: date f" + std::to_string(i) + " c-ip\nd" + std::to_string(i) + " v" +
                   std::to_string(i) + " ip\n";
    }
    std::string wide = "#Fields:";
    for (int i = 0; i < 120000; ++i) {
        wide += " w" + std::to_string(i);
    }
    wide += "\nfirst second\n" + std::string(20000, '\n');

    const bool limited = !kSanitized;
    const int code = InChildWithMemory(std::size_t{256} << 20, [&] {
        const Result<LogImport> imported = ImportLogBytes(headers);
        if (!imported || imported->rejected) {
            return 1;
        }
        const LogImport& many = *imported;
        if (many.table.rowCount() != 40000 || many.table.columnCount() != kMaxTableColumns ||
            many.droppedFields != 40002 - (kMaxTableColumns - 1)) {
            return 1;
        }
        // The last header's fields come first: date, f39999, c-ip.
        const RecordTable& t = many.table;
        if (t.cell(RowIndex{39999}, ColumnIndex{2}) != "v39999" ||
            t.cell(RowIndex{0}, ColumnIndex{1}) != "d0" ||
            t.cell(RowIndex{0}, ColumnIndex{3}) != "ip" ||
            t.cell(RowIndex{0}, ColumnIndex{4}) != "v0") {
            return 2;
        }
        const Result<LogImport> wideImport = ImportLogBytes(wide);
        if (!wideImport || wideImport->rejected) {
            return 3;
        }
        const LogImport& w = *wideImport;
        if (w.table.rowCount() != 20001 || w.table.columnCount() != kMaxTableColumns ||
            w.table.cell(RowIndex{0}, ColumnIndex{2}) != "second" ||
            !w.table.cell(RowIndex{0}, ColumnIndex{3}).empty() ||
            w.table.data()->memoryBytes() > 64 * wide.size()) {
            return 3;
        }
        const std::vector<RecordIndex> longest = LongestCells(*w.table.data());
        return longest.size() == static_cast<std::size_t>(kMaxTableColumns) &&
                       ToInt(longest[1]) == 0
                   ? 0
                   : 4;
    });
    EXPECT_EQ(code, 0) << (limited ? "under a memory limit" : "");
}

TEST(ImportLimitsTest, BuffersWithoutRowsAreNotKept) {
    // An endless NUL run from a pipe, and one long line read through small
    // buffers: neither may keep a buffer per read.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([fd = fds[1]] {
        const std::string zeros(1 << 20, '\0');
        const std::string line = "#Fields: a\nlast\n";
        for (int i = 0; i < 256; ++i) {
            if (::write(fd, zeros.data(), zeros.size()) < 0) {
                break;
            }
        }
        (void)!::write(fd, line.data(), line.size());
        ::close(fd);
    });
    const LogImport zeros = testing::Imported(ImportLogFile("/dev/fd/" + std::to_string(fds[0])));
    writer.join();
    ::close(fds[0]);
    ASSERT_FALSE(zeros.rejected);
    EXPECT_EQ(Rows(zeros.table), (std::vector<std::vector<std::string>>{{"1", "last"}}));
    EXPECT_LT(zeros.table.data()->memoryBytes(), std::size_t{80} << 20);

    const std::string longLine =
        "#Fields: a b\n" + std::string(std::size_t{48} << 20, 'x') + " y\n";
    TempFile file(longLine);
    ImportOptions options;
    options.maxChunkBytes = 1 << 20;
    const LogImport r = testing::Imported(ImportLogFile(file.path(), {}, options));
    ASSERT_FALSE(r.rejected);
    EXPECT_EQ(r.table.cell(RowIndex{0}, ColumnIndex{2}), "y");
    EXPECT_LT(r.table.data()->memoryBytes(), longLine.size() * 5 / 4);
}

} // namespace
} // namespace logdesk
