#include "core/input/input_fixtures.h"
#include "core/input/gzip_source.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::GzipMember;
using testing::LogText;
using testing::ReadToEnd;
using testing::ScratchFolder;

struct Case {
    GzipInflater inflater;
    std::size_t inputBlock;
    const char* name;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class GzipSourceTest : public ::testing::TestWithParam<Case> {
protected:
    std::unique_ptr<LogSource> open(const std::string& path) {
        GzipOptions options;
        options.inflater = GetParam().inflater;
        options.inputBlockBytes = GetParam().inputBlock;
        return OpenGzipFile(path, options);
    }
    bool streams() const { return GetParam().inflater != GzipInflater::Libdeflate; }

    ScratchFolder folder_;
};

TEST_P(GzipSourceTest, DeliversEveryMemberOfTheFileAsOneStream) {
    const std::string first = LogText(3000, 1);
    const std::string second = LogText(10, 2);
    // An empty member in between, as `cat a.gz empty.gz b.gz` makes.
    const std::string path = folder_.write(
        "ex130501.log.gz", GzipMember(first, 9) + GzipMember("") + GzipMember(second, 1));

    for (const std::size_t step : {std::size_t{1} << 20, std::size_t{4093}, std::size_t{1}}) {
        auto source = open(path);
        const auto outcome = ReadToEnd(*source, step);
        EXPECT_EQ(outcome.last, 0) << step;
        EXPECT_TRUE(outcome.bytes == first + second) << step;
        EXPECT_TRUE(source->status().complete());
        EXPECT_EQ(source->status().deliveredBytes, first.size() + second.size());
        EXPECT_EQ(source->progress().done, source->progress().total);
        // Ended sources stay ended.
        char byte = 0;
        EXPECT_EQ(source->read(&byte, 1), 0);
    }
}

TEST_P(GzipSourceTest, SizeHintIsTheLengthTheTrailerRecords) {
    const std::string text = LogText(500);
    auto source = open(folder_.write("a.gz", GzipMember(text)));
    EXPECT_EQ(source->sizeHint(), text.size());
    EXPECT_EQ(source->progress().total, GzipMember(text).size());

    // A forged length must not size the reader's buffers: at most what the
    // file can expand to, and the text still comes out whole.
    std::string forged = GzipMember(text);
    forged.replace(forged.size() - 4, 4, "\xf0\xff\xff\xff");
    auto lying = open(folder_.write("forged.gz", forged));
    EXPECT_LE(lying->sizeHint(), forged.size() * 1032);
    const auto outcome = ReadToEnd(*lying);
    EXPECT_EQ(lying->status().state, SourceState::Damaged); // the length is checked at the end
    if (streams()) {
        EXPECT_TRUE(outcome.bytes == text);
    }
}

TEST_P(GzipSourceTest, TruncatedFileIsDamagedAfterTheTextBeforeTheCut) {
    const std::string first = LogText(200, 3);
    const std::string second = LogText(4000, 4);
    const std::string whole = GzipMember(first) + GzipMember(second);
    for (const std::size_t cut :
         {GzipMember(first).size() + 5, whole.size() / 2, whole.size() - 3}) {
        const std::string path = folder_.write("cut.gz", whole.substr(0, cut));
        auto source = open(path);
        const auto outcome = ReadToEnd(*source, 1000);
        ASSERT_EQ(outcome.last, -1) << cut;
        EXPECT_EQ(outcome.error, EBADMSG);
        const SourceStatus& status = source->status();
        EXPECT_EQ(status.state, SourceState::Damaged);
        ASSERT_TRUE(status.compressedOffset.has_value());
        if (streams()) {
            EXPECT_EQ(*status.compressedOffset, cut);
        } else { // the damaged member's start
            EXPECT_LE(*status.compressedOffset, cut);
        }
        EXPECT_EQ(status.deliveredBytes, outcome.bytes.size());
        // What came out is the text as it was, up to the damage.
        EXPECT_TRUE((first + second).starts_with(outcome.bytes)) << cut;
        EXPECT_GE(outcome.bytes.size(), first.size());
        if (streams() && cut > whole.size() / 2) {
            EXPECT_GT(outcome.bytes.size(), first.size() + second.size() / 3) << cut;
        }
        EXPECT_NE(source->describeFailure().find("cut.gz: damaged after " +
                                                 std::to_string(outcome.bytes.size())),
                  std::string::npos)
            << source->describeFailure();
        errno = 0;
        char byte = 0;
        EXPECT_EQ(source->read(&byte, 1), -1);
        EXPECT_EQ(errno, EBADMSG);
    }
}

TEST_P(GzipSourceTest, BadChecksumAndTrailingBytesAreDamage) {
    const std::string text = LogText(300);
    std::string member = GzipMember(text);

    std::string badCrc = member;
    badCrc[badCrc.size() - 8] ^= 0x01;
    auto crc = open(folder_.write("crc.gz", badCrc));
    auto outcome = ReadToEnd(*crc);
    EXPECT_EQ(crc->status().state, SourceState::Damaged);
    if (streams()) {
        EXPECT_TRUE(outcome.bytes == text); // a checksum is known at the member's end
    }

    // Zero padding after a complete member: the text is all there, and the
    // padding is reported where it starts.
    auto padded = open(folder_.write("padded.gz", member + std::string(512, '\0')));
    outcome = ReadToEnd(*padded);
    EXPECT_TRUE(outcome.bytes == text);
    EXPECT_EQ(padded->status().state, SourceState::Damaged);
    EXPECT_EQ(padded->status().compressedOffset, member.size());

    auto plain = open(folder_.write("plain.gz", text));
    outcome = ReadToEnd(*plain);
    EXPECT_TRUE(outcome.bytes.empty());
    EXPECT_EQ(plain->status().state, SourceState::Damaged);
    EXPECT_EQ(plain->status().compressedOffset, 0u);
}

TEST_P(GzipSourceTest, EmptyAndMissingFiles) {
    auto empty = open(folder_.write("empty.gz", ""));
    EXPECT_EQ(ReadToEnd(*empty).last, -1);
    EXPECT_EQ(empty->status().state, SourceState::Damaged);
    EXPECT_EQ(empty->status().deliveredBytes, 0u);

    auto missing = open(folder_ / "missing.gz");
    EXPECT_EQ(ReadToEnd(*missing).error, ENOENT);
    EXPECT_EQ(missing->status().state, SourceState::OpenFailed);
    EXPECT_EQ(missing->status().error->cause, std::strerror(ENOENT));
}

INSTANTIATE_TEST_SUITE_P(Inflaters, GzipSourceTest,
                         ::testing::Values(Case{GzipInflater::Isal, 256 << 10, "Isal"},
                                           Case{GzipInflater::Isal, 3, "IsalTinyBlocks"},
                                           Case{GzipInflater::Zlib, 256 << 10, "Zlib"},
                                           Case{GzipInflater::Zlib, 2, "ZlibTinyBlocks"},
                                           Case{GzipInflater::Libdeflate, 0, "Libdeflate"}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return std::string(param.param.name);
                         });

} // namespace
} // namespace logdesk
