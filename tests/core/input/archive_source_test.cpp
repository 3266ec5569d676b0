#include "core/input/input_fixtures.h"
#include "core/input/archive_source.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::ArchiveMember;
using testing::LogText;
using testing::ReadFileBytes;
using testing::ReadToEnd;
using testing::ScratchFolder;
using testing::WriteArchive;

struct Kind {
    const char* name;
    int (*format)(archive*);
    int (*filter)(archive*);
};

const Kind kArchiveKinds[] = {
    {"logs.zip", archive_write_set_format_zip, nullptr},
    {"logs.tar", archive_write_set_format_pax_restricted, nullptr},
    {"logs.tgz", archive_write_set_format_ustar, archive_write_add_filter_gzip},
    {"logs.tar.bz2", archive_write_set_format_gnutar, archive_write_add_filter_bzip2},
    {"logs.tar.xz", archive_write_set_format_pax_restricted, archive_write_add_filter_xz},
    {"logs.tar.zst", archive_write_set_format_pax_restricted, archive_write_add_filter_zstd},
};

// Reads every member of the archive in order: paths and texts.
std::vector<ArchiveMember> ReadMembers(LogArchive& archive) {
    std::vector<ArchiveMember> read;
    for (std::size_t i = 0; i < archive.members().size(); ++i) {
        auto source = archive.openMember(i);
        auto outcome = ReadToEnd(*source, 777);
        EXPECT_EQ(outcome.last, 0) << source->describeFailure();
        EXPECT_EQ(source->name().path, archive.path());
        read.push_back({source->name().member, std::move(outcome.bytes)});
    }
    return read;
}

TEST(LogArchive, EveryKindGivesItsLogMembersByteForByteInNameOrder) {
    ScratchFolder folder;
    const std::string may2 = LogText(2500, 2);
    const std::string may1 = LogText(40, 1);
    const std::string june = std::string("#Fields: date\n2013-06-01\n\0\0\x1a\xff\xfe", 31);
    // Stored out of name order, with members that are not logs and an empty log.
    const std::vector<ArchiveMember> stored{
        {"W3SVC1/u_ex130601.log", june}, {"W3SVC1/ex130502.log", may2},
        {"readme.txt", "not a log"},     {"old/EX130501.LOG", may1},
        {"ex130503.log.gz", "skipped"},  {"empty.log", ""},
    };
    const std::vector<ArchiveMember> expected{
        {"empty.log", ""},
        {"old/EX130501.LOG", may1},
        {"W3SVC1/ex130502.log", may2},
        {"W3SVC1/u_ex130601.log", june},
    };
    for (const Kind& kind : kArchiveKinds) {
        SCOPED_TRACE(kind.name);
        const std::string path = folder / kind.name;
        WriteArchive(path, kind.format, kind.filter, stored);
        LogArchive archive(path);
        ASSERT_EQ(archive.openFailure(), nullptr);
        ASSERT_EQ(archive.listingStopped(), nullptr);
        ASSERT_EQ(archive.members().size(), expected.size());
        EXPECT_EQ(archive.members()[2].size, may2.size());
        const std::vector<ArchiveMember> read = ReadMembers(archive);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(read[i].path, expected[i].path);
            EXPECT_TRUE(read[i].bytes == expected[i].bytes) << expected[i].path;
        }
        // Reading a member again after later ones starts the archive over.
        auto again = archive.openMember(0);
        EXPECT_TRUE(ReadToEnd(*again).bytes.empty());
        auto second = archive.openMember(2);
        EXPECT_TRUE(ReadToEnd(*second).bytes == may2);
        const SourceProgress progress = second->progress();
        EXPECT_GT(progress.done, 0u);
        EXPECT_LE(progress.done, progress.total);
    }
}

TEST(LogArchive, MemberOpenedBeforeTheCurrentOneStopsWorking) {
    ScratchFolder folder;
    const std::string path = folder / "two.zip";
    WriteArchive(path, archive_write_set_format_zip, nullptr,
                 {{"a.log", LogText(3000, 1)}, {"b.log", LogText(10, 2)}});
    LogArchive archive(path);
    auto first = archive.openMember(0);
    char buffer[100];
    ASSERT_EQ(first->read(buffer, sizeof buffer), 100);
    auto second = archive.openMember(1);
    EXPECT_EQ(first->read(buffer, sizeof buffer), -1);
    EXPECT_EQ(first->status().state, SourceState::ReadFailed);
    EXPECT_EQ(first->status().code(), EBUSY);
    EXPECT_TRUE(ReadToEnd(*second).bytes == LogText(10, 2));
    EXPECT_EQ(archive.openMember(2)->status().state, SourceState::OpenFailed);
}

// The compressed data of the zip's first member: after its local header.
std::size_t FirstMemberData(const std::string& zip) {
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(zip[at])) |
               static_cast<std::size_t>(static_cast<unsigned char>(zip[at + 1])) << 8;
    };
    return 30 + u16(26) + u16(28);
}

TEST(LogArchive, CorruptZipMemberIsDamagedAfterItsGoodTextAndTheOthersStillRead) {
    ScratchFolder folder;
    const std::string path = folder / "logs.zip";
    const std::string damagedText = LogText(20000, 5);
    const std::string goodText = LogText(100, 6);
    WriteArchive(path, archive_write_set_format_zip, nullptr,
                 {{"ex130501.log", damagedText}, {"ex130502.log", goodText}});
    std::string zip = ReadFileBytes(path);
    // Garbage over the last tenth of the first member's compressed data.
    const std::size_t data = FirstMemberData(zip);
    const std::size_t compressed = zip.find("PK\x07\x08", data) - data;
    for (std::size_t i = data + compressed * 9 / 10; i < data + compressed; ++i) {
        zip[i] = static_cast<char>(0xA5 ^ (i * 7));
    }
    folder.write("logs.zip", zip);

    LogArchive archive(path);
    ASSERT_EQ(archive.members().size(), 2u);
    auto damaged = archive.openMember(0);
    const auto outcome = ReadToEnd(*damaged, 4096);
    EXPECT_EQ(outcome.last, -1);
    EXPECT_EQ(outcome.error, EBADMSG);
    const SourceStatus& status = damaged->status();
    EXPECT_EQ(status.state, SourceState::Damaged);
    EXPECT_EQ(status.deliveredBytes, outcome.bytes.size());
    // Most of the text came through as it was before the damage.
    std::size_t same = 0;
    while (same < outcome.bytes.size() && outcome.bytes[same] == damagedText[same]) {
        ++same;
    }
    EXPECT_GT(same, damagedText.size() / 2);
    const std::string message = damaged->describeFailure();
    EXPECT_NE(message.find("logs.zip:ex130501.log: damaged after " +
                           std::to_string(outcome.bytes.size()) + " bytes"),
              std::string::npos)
        << message;

    auto good = archive.openMember(1);
    EXPECT_TRUE(ReadToEnd(*good).bytes == goodText) << good->describeFailure();
}

TEST(LogArchive, TruncatedArchivesKeepWhatCameBeforeTheCut) {
    ScratchFolder folder;
    const std::string first = LogText(50, 1);
    const std::string second = LogText(30000, 2);
    for (const Kind& kind : {kArchiveKinds[0], kArchiveKinds[2]}) {
        SCOPED_TRACE(kind.name);
        const std::string path = folder / kind.name;
        WriteArchive(path, kind.format, kind.filter, {{"a.log", first}, {"b.log", second}});
        const std::string whole = ReadFileBytes(path);
        folder.write(kind.name, whole.substr(0, whole.size() * 2 / 3));

        LogArchive archive(path);
        ASSERT_EQ(archive.openFailure(), nullptr);
        // A zip without its directory is read from its start; a tar is read
        // through to list it and finds the cut.
        ASSERT_GE(archive.members().size(), 1u);
        auto a = archive.openMember(0);
        EXPECT_TRUE(ReadToEnd(*a).bytes == first) << a->describeFailure();
        bool told = archive.listingStopped() != nullptr;
        if (archive.members().size() == 2) {
            auto b = archive.openMember(1);
            const auto outcome = ReadToEnd(*b);
            EXPECT_EQ(b->status().state, SourceState::Damaged);
            EXPECT_TRUE(second.starts_with(outcome.bytes));
            told = true;
        }
        EXPECT_TRUE(told);
    }
}

TEST(CompressedFile, SingleStreamsRoundTripAndOtherBytesAreDamage) {
    ScratchFolder folder;
    const std::string text = LogText(40000, 9);
    const Kind streams[] = {
        {"ex130501.log.bz2", archive_write_set_format_raw, archive_write_add_filter_bzip2},
        {"ex130501.log.xz", archive_write_set_format_raw, archive_write_add_filter_xz},
        {"ex130501.log.zst", archive_write_set_format_raw, archive_write_add_filter_zstd},
    };
    for (const Kind& kind : streams) {
        SCOPED_TRACE(kind.name);
        const std::string path = folder / kind.name;
        WriteArchive(path, kind.format, kind.filter, {{"data", text}});
        auto source = OpenCompressedFile(path);
        const auto outcome = ReadToEnd(*source, 5000);
        EXPECT_EQ(outcome.last, 0) << source->describeFailure();
        EXPECT_TRUE(outcome.bytes == text);

        const std::string whole = ReadFileBytes(path);
        // bzip2 decodes whole blocks of 900 kB only: cut into the last one.
        folder.write(kind.name, whole.substr(0, whole.size() - 100));
        auto cut = OpenCompressedFile(path);
        const auto partial = ReadToEnd(*cut);
        EXPECT_EQ(cut->status().state, SourceState::Damaged);
        EXPECT_TRUE(text.starts_with(partial.bytes));
        EXPECT_GT(partial.bytes.size(), text.size() / 4);
    }
    auto plain = OpenCompressedFile(folder.write("plain.xz", text));
    EXPECT_EQ(ReadToEnd(*plain).last, -1);
    EXPECT_EQ(plain->status().state, SourceState::Damaged);
    auto empty = OpenCompressedFile(folder.write("empty.zst", ""));
    EXPECT_EQ(ReadToEnd(*empty).last, -1);
    EXPECT_EQ(empty->status().state, SourceState::Damaged);
    auto missing = OpenCompressedFile(folder / "missing.bz2");
    EXPECT_EQ(missing->status().state, SourceState::OpenFailed);
    EXPECT_EQ(missing->status().code(), ENOENT);
}

} // namespace
} // namespace logdesk
