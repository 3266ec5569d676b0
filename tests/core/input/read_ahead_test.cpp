#include "core/input/input_fixtures.h"
#include "core/input/gzip_source.h"
#include "core/input/read_ahead.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::GzipMember;
using testing::LogText;
using testing::ReadToEnd;
using testing::ScratchFolder;

// Gives `text` in pieces of `piece` bytes, then ends with EIO.
class FailingSource final : public LogSource {
public:
    FailingSource(std::string text, std::size_t piece, std::atomic<int>* reads)
        : LogSource({"fake.log", {}}, 123), text_(std::move(text)), piece_(piece), reads_(reads) {}
    SourceProgress progress() const override { return {at_, text_.size()}; }

protected:
    ssize_t readSome(char* buffer, std::size_t size) override {
        ++*reads_;
        if (at_ == text_.size()) {
            fail(SourceState::ReadFailed, EIO, std::strerror(EIO));
            return -1;
        }
        const std::size_t n = std::min({size, piece_, text_.size() - at_});
        std::memcpy(buffer, text_.data() + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }

private:
    std::string text_;
    std::size_t piece_;
    std::size_t at_ = 0;
    std::atomic<int>* reads_;
};

TEST(ReadAhead, DeliversTheSameBytesAndEndsTheSameWay) {
    ScratchFolder folder;
    const std::string text = LogText(5000, 3);
    const std::string member = GzipMember(text);
    const std::string whole = folder.write("whole.gz", member);
    const std::string cut = folder.write("cut.gz", member.substr(0, member.size() - 10));
    const ReadAheadOptions small{7, 2}; // blocks smaller than the reads, around the ring often

    for (const ReadAheadOptions& options : {ReadAheadOptions{}, small}) {
        auto complete = ReadAhead(OpenGzipFile(whole), options);
        EXPECT_EQ(complete->sizeHint(), text.size());
        auto outcome = ReadToEnd(*complete, 1000);
        EXPECT_EQ(outcome.last, 0);
        EXPECT_TRUE(outcome.bytes == text);
        EXPECT_TRUE(complete->status().complete());
        EXPECT_EQ(complete->progress().done, member.size());

        auto direct = OpenGzipFile(cut);
        const auto expected = ReadToEnd(*direct, 1000);
        auto damaged = ReadAhead(OpenGzipFile(cut), options);
        outcome = ReadToEnd(*damaged, 1000);
        EXPECT_EQ(outcome.last, -1);
        EXPECT_EQ(outcome.error, EBADMSG);
        EXPECT_TRUE(outcome.bytes == expected.bytes);
        EXPECT_EQ(damaged->status().state, SourceState::Damaged);
        EXPECT_EQ(damaged->status().deliveredBytes, expected.bytes.size());
        EXPECT_EQ(damaged->status().compressedOffset, direct->status().compressedOffset);
        EXPECT_EQ(damaged->describeFailure(), direct->describeFailure());
    }

    std::atomic<int> reads = 0;
    auto failing = ReadAhead(std::make_unique<FailingSource>("abcdefghij", 3, &reads), small);
    const auto outcome = ReadToEnd(*failing, 4);
    EXPECT_EQ(outcome.bytes, "abcdefghij");
    EXPECT_EQ(outcome.error, EIO);
    EXPECT_EQ(failing->status().state, SourceState::ReadFailed);
    EXPECT_EQ(failing->name().path, "fake.log");
}

TEST(ReadAhead, StaysAtMostTheRingAheadAndStopsWhenDropped) {
    std::atomic<int> reads = 0;
    {
        auto source =
            ReadAhead(std::make_unique<FailingSource>(std::string(1 << 20, 'x'), 10, &reads),
                      ReadAheadOptions{10, 3});
        char buffer[10];
        ASSERT_EQ(source->read(buffer, sizeof buffer), 10);
        // Give the worker time to fill the ring; it must then wait.
        for (int i = 0; i < 50 && reads.load() < 4; ++i) {
            ::usleep(1000);
        }
        ::usleep(20000);
        EXPECT_LE(reads.load(), 4); // the block handed out, and three ahead
    }
    EXPECT_LE(reads.load(), 4);
}

} // namespace
} // namespace logdesk
