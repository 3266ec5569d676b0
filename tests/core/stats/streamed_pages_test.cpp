// Pages counted while an import streams its records past equal the pages
// built from the table of the same inputs: over several inputs with header
// changes, lines before any header, inputs without a header, threads, and
// buffers small enough to be reused under every batch.
#include "core/base/cancellation.h"
#include "core/logimport/log_importer.h"
#include "core/stats/page_builds.h"
#include "core/text/gbk_codec.h"
#include "support/address_limit.h"
#include "support/import_test_support.h"
#include "support/page_test_support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace logdesk {
namespace {

const std::vector<std::string>& Headers() {
    static const std::vector<std::string> headers = {
        "#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status cs(User-Agent)",
        "#Fields: time cs(User-Agent) cs-uri-stem c-ip sc-status",
        "#Fields: date c-ip cs-uri-stem sc-win32-status sc-status",
        // The same name twice: columns meet by occurrence.
        "#Fields: date time c-ip c-ip cs-uri-stem sc-status cs(User-Agent) sc-win32-status",
        "#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status cs(User-Agent)",
        "#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status cs(User-Agent) "
        "time-taken sc-bytes cs-uri-query",
    };
    return headers;
}

std::string RandomInput(std::mt19937& rng, bool header) {
    auto pick = [&](std::size_t n) { return rng() % n; };
    const std::vector<std::string> agents = {"Baiduspider",      "Googlebot", "Mozilla", "bingbot",
                                             "Sogou+web+spider", "-",         ""};
    std::string log;
    if (header && pick(4) != 0) {
        log += Headers()[pick(Headers().size())] + "\n";
    }
    const std::size_t lines = pick(4) == 0 ? 0 : 1 + pick(800);
    for (std::size_t i = 0; i < lines; ++i) {
        if (header && pick(300) == 0) {
            log += Headers()[pick(Headers().size())] + (pick(2) ? "\r\n" : "\n");
        }
        log += "2013-05-0" + std::to_string(1 + pick(3)) + " " + std::to_string(pick(30)) +
               ":00:00 10.0.0." + std::to_string(pick(200)) + " /p" + std::to_string(pick(300)) +
               " " + std::to_string(200 + pick(3) * 100) + " " + std::to_string(pick(3)) + " " +
               agents[pick(agents.size())] + " " + (pick(9) == 0 ? "-" : std::to_string(pick(90))) +
               " " + std::to_string(pick(5000)) + " " + (pick(3) == 0 ? "x=1" : "-") +
               (pick(50) == 0 ? " " + Gbk("新") : "") +
               (pick(40) == 0 ? std::string(1 + pick(3), '\0') : "\n");
    }
    if (pick(5) == 0 && !log.empty()) {
        log.pop_back(); // no line end at the end of the input
    }
    return log;
}

struct Counted {
    StatsPage page;
    PageRequest request;
};

// With the URL page, which does not split, the threads collect the records
// for one consumer set; without it every range counts into a set of its own.
std::vector<Counted> EveryPageAndFilter(bool url) {
    std::vector<Counted> all;
    for (const StatsPageEntry& entry : StatsPages()) {
        if (entry.page == StatsPage::Url && !url) {
            continue;
        }
        for (const PageRequest& request : testing::EveryRequest(entry.page)) {
            all.push_back({entry.page, request});
        }
    }
    return all;
}

TEST(StreamedPagesTest, EqualThePagesOfTheTable) {
    std::mt19937 rng(23);
    int inexact = 0;
    for (int round = 0; round < 60; ++round) {
        const std::vector<Counted> counted = EveryPageAndFilter(round % 2 == 0);
        std::vector<std::string> inputs;
        const std::size_t files = 1 + rng() % 4;
        for (std::size_t f = 0; f < files; ++f) {
            inputs.push_back(RandomInput(rng, rng() % 5 != 0));
        }
        const LogImport table = testing::ImportAll(inputs, {}).value();
        ASSERT_EQ(table.streamedRecords, 0u);

        ImportOptions options;
        options.threads = 1 + rng() % 3;
        options.rangeBytes = 1 + rng() % 3000;
        options.maxChunkBytes = 64 + rng() % 8000;
        // Lines before the first header held until it comes, or read at
        // once with the header in force before it.
        options.maxStreamedPending = rng() % 2 == 0 ? options.maxStreamedPending : rng() % 600;
        options.makeConsumers = [&] {
            std::vector<std::unique_ptr<RecordConsumer>> consumers;
            for (const Counted& c : counted) {
                consumers.push_back(MakePageAccumulator(c.page, c.request));
            }
            return consumers;
        };
        LogImport streamed = testing::ImportAll(inputs, options).value();
        if (!streamed.streamExact) {
            ++inexact;
            options.streamHeader = streamed.header;
            options.streamFirstHeader = streamed.firstHeader;
            streamed = testing::ImportAll(inputs, options).value();
            ASSERT_TRUE(streamed.streamExact) << "round " << round;
        }
        ASSERT_EQ(streamed.streamedRecords, table.table.rowCount()) << "round " << round;
        ASSERT_EQ(streamed.table.rowCount(), 0u);
        ASSERT_EQ(streamed.header, table.header);
        ASSERT_EQ(streamed.rejected, table.rejected);
        ASSERT_EQ(streamed.consumers.size(), counted.size());
        for (std::size_t c = 0; c < counted.size(); ++c) {
            const StatsTable expected =
                BuildStatsPage(counted[c].page, table.table, table.header.fieldMap, table.tally,
                               counted[c].request, {}, {1, 0});
            const StatsTable got = FinishStreamedPage(
                static_cast<const PageAccumulator&>(*streamed.consumers[c]), counted[c].page,
                counted[c].request, streamed.header.fieldMap, streamed.tally);
            ASSERT_TRUE(testing::SamePage(expected, got))
                << "round " << round << " page " << static_cast<int>(counted[c].page) << " filter "
                << counted[c].request.filter.displayName.value_or("all") << " depth "
                << counted[c].request.depth;
        }
    }
    // Both ways were taken: guessed right, and read again with the header.
    EXPECT_GT(inexact, 0);
    EXPECT_LT(inexact, 60);
}

TEST(StreamedPagesTest, RejectedHeaderAndCancelStreamAsTheTableReads) {
    const std::string log = "#Fields: date time cs(User-Agent)\n2013-05-01 01:00:00 Baiduspider\n"
                            "#Fields:\n2013-05-01 02:00:00 Googlebot\n";
    ImportOptions options;
    options.makeConsumers = [] {
        std::vector<std::unique_ptr<RecordConsumer>> consumers;
        consumers.push_back(MakePageAccumulator(StatsPage::SpiderTraffic, {}));
        return consumers;
    };
    const LogImport streamed = ImportLogBytes(log, {}, options).value();
    EXPECT_TRUE(streamed.rejected);
    EXPECT_EQ(streamed.streamedRecords, 1u);

    Cancellation stop;
    stop.cancel();
    options.cancel = stop.token();
    const Result<LogImport> cancelled = ImportLogBytes(log, {}, options);
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.error().code, ECANCELED);
}

// A batch bigger than the text held while waiting for the first header,
// which that batch itself holds: the header is found before anything is
// read with another one, so one pass is exact on every thread count.
TEST(StreamedPagesTest, ABatchThatHoldsTheFirstHeaderIsReadWithIt) {
    std::string log = "#Software: x\n#Fields: date c-ip cs-uri-stem cs(User-Agent)\n";
    for (int i = 0; i < 4000; ++i) {
        log += "2013-05-01 10.0.0." + std::to_string(i % 200) + " /p" + std::to_string(i % 50) +
               " Baiduspider\n";
    }
    for (const unsigned threads : {1u, 2u, 3u}) {
        ImportOptions options;
        options.threads = threads;
        options.batchBytes = 20000;
        options.maxStreamedPending = 1000;
        options.makeConsumers = [] {
            std::vector<std::unique_ptr<RecordConsumer>> consumers;
            consumers.push_back(MakePageAccumulator(StatsPage::Url, {}));
            return consumers;
        };
        const LogImport streamed = ImportLogBytes(log, {}, options).value();
        EXPECT_TRUE(streamed.streamExact) << threads << " threads";
        EXPECT_EQ(streamed.streamedRecords, 4000u) << threads << " threads";
    }
}

// A log without a header, streamed: memory must not grow with it, though
// its lines would be read with a header that might still come.
TEST(StreamedPagesTest, ALogWithoutAHeaderStreamsInMemoryThatDoesNotGrowWithIt) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under sanitizers";
#endif
    std::string log;
    for (int i = 0; log.size() < (std::size_t{64} << 20); ++i) {
        log += "2013-05-01 00:00:01 10.0.0." + std::to_string(i % 200) + " /p" +
               std::to_string(i % 5000) + " 200 0 Baiduspider\n";
    }
    for (const unsigned threads : {1u, 2u}) {
        // What the process has, a thread's stack, and 40 MiB for the 16 MiB
        // of lines held and the buffers.
        const int status = testing::ExitStatusUnderAddressLimit(std::uint64_t{56} << 20, [&] {
            ImportOptions options;
            options.threads = threads;
            options.maxChunkBytes = std::size_t{4} << 20;
            options.makeConsumers = [] {
                std::vector<std::unique_ptr<RecordConsumer>> consumers;
                consumers.push_back(MakePageAccumulator(StatsPage::Status, {}));
                return consumers;
            };
            const Result<LogImport> streamed = ImportLogBytes(log, {}, options);
            return !streamed ? 1 : streamed->streamExact && !streamed->firstHeader ? 0 : 2;
        });
        EXPECT_EQ(status, 0) << threads << " threads; 1: out of memory";
    }
}

} // namespace
} // namespace logdesk
