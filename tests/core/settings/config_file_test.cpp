#include "core/settings/config_file.h"
#include "support/file_test_support.h"
#include "core/text/gbk_codec.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace logdesk {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Every write syncs the file to disk; in memory the hundreds of
        // writes below cost nothing.
        const fs::path base = ::access("/dev/shm", W_OK | X_OK) == 0 ? fs::path("/dev/shm")
                                                                     : fs::temp_directory_path();
        std::string pattern = (base / "logdesk-config-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = dir_ / "logdesk.ini";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::size_t filesInDir() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }

    fs::path dir_;
    fs::path path_;
};

TEST_F(ConfigFileTest, FirstStartGivesDefaultsAndOneWriteMakesTheFile) {
    ConfigFile config(path_.string());
    config.selectSection(Gbk("基本配置"));
    EXPECT_EQ(config.readText(Gbk("日志路径"), "D:\\logs"), "D:\\logs");
    EXPECT_TRUE(config.readBool("Tips", true));
    EXPECT_FALSE(config.readBool("Tips", false));
    EXPECT_FALSE(fs::exists(path_));

    ASSERT_TRUE(config.writeText(Gbk("日志路径"), Gbk("D:\\日志")));
    EXPECT_EQ(ReadFile(path_), Gbk("[基本配置]\r\n日志路径=D:\\日志\r\n"));
    EXPECT_EQ(config.readText(Gbk("日志路径"), ""), Gbk("D:\\日志"));
    EXPECT_EQ(filesInDir(), 1U) << "temporary file left behind";
}

TEST_F(ConfigFileTest, WriteChangesOnlyItsKeyAndKeepsLineEndings) {
    const std::string before = "; made by hand\n"
                               "[Main]\n"
                               "Path = C:\\old   \n"
                               "  ; note\n"
                               "Other=1\n"
                               "\n"
                               "\n"
                               "[Tail]\n"
                               "x=y";
    Put(path_, before);
    ConfigFile config(path_.string());
    config.selectSection("Main");
    ASSERT_TRUE(config.writeText("Path", "D:\\new"));
    ASSERT_TRUE(config.writeText("Added", "2"));
    config.selectSection("Tail");
    ASSERT_TRUE(config.writeText("z", "3"));
    config.selectSection("New");
    ASSERT_TRUE(config.writeText("k", "v"));
    EXPECT_EQ(ReadFile(path_), "; made by hand\n"
                               "[Main]\n"
                               "Path = D:\\new   \n"
                               "  ; note\n"
                               "Other=1\n"
                               "Added=2\n"
                               "\n"
                               "\n"
                               "[Tail]\n"
                               "x=y\n"
                               "z=3\n"
                               "[New]\n"
                               "k=v\n");

    Put(path_, "[a]\r\nk=1\r\n[b]\r\nk=1\r\n");
    config.selectSection("a");
    ASSERT_TRUE(config.writeText("j", "2"));
    EXPECT_EQ(ReadFile(path_), "[a]\r\nk=1\r\nj=2\r\n[b]\r\nk=1\r\n");
}

TEST_F(ConfigFileTest, LineBreaksAreStoredAsMarks) {
    ConfigFile config(path_.string());
    config.selectSection("s");
    ASSERT_TRUE(config.writeText("k", "one\r\ntwo"));
    EXPECT_EQ(ReadFile(path_), "[s]\r\nk=one\xA9\xAE*\xA9\xAEtwo\r\n");
    EXPECT_EQ(config.readText("k", ""), "one\r\ntwo");

    // A lone LF or CR must not split the line; it comes back as CR LF.
    ASSERT_TRUE(config.writeText("k", "a\nb\rc"));
    EXPECT_EQ(ReadFile(path_), "[s]\r\nk=a" + Gbk("┊*┊") + "b" + Gbk("┊*┊") + "c\r\n");
    EXPECT_EQ(config.readText("k", ""), "a\r\nb\r\nc");

    EXPECT_EQ(config.readText("missing", "x\r\ny"), "x\r\ny");
    EXPECT_EQ(config.readText("missing", "x" + Gbk("┊*┊") + "y"), "x\r\ny");
}

TEST_F(ConfigFileTest, BooleansAreTrueOnlyForTheTrueCharacter) {
    ConfigFile config(path_.string());
    config.selectSection("s");
    ASSERT_TRUE(config.writeBool("on", true));
    ASSERT_TRUE(config.writeBool("off", false));
    EXPECT_EQ(ReadFile(path_), "[s]\r\non=" + Gbk("真") + "\r\noff=" + Gbk("假") + "\r\n");
    EXPECT_TRUE(config.readBool("on", false));
    EXPECT_FALSE(config.readBool("off", true));

    Put(path_, "[s]\r\none=1\r\ntrue=true\r\nempty=\r\n");
    EXPECT_FALSE(config.readBool("one", true));
    EXPECT_FALSE(config.readBool("true", true));
    EXPECT_FALSE(config.readBool("empty", true));
    EXPECT_EQ(config.readText("empty", "default"), "");
}

TEST_F(ConfigFileTest, NamesMatchIgnoringAsciiCaseAndBlanks) {
    Put(path_, Gbk("  [ Main ]  \r\n  Path  =  C:\\x  \r\nPATH=dup\r\n"
                   "[main]\r\npath=second\r\nonly=second\r\n[基本配置]\r\n日志路径=甲\r\n"));
    ConfigFile config(path_.string());
    config.selectSection("MAIN");
    EXPECT_EQ(config.readText("PATH", ""), "C:\\x");
    EXPECT_EQ(config.readText("only", "none"), "none") << "only the first [main] counts";
    config.selectSection(Gbk("基本配置"));
    EXPECT_EQ(config.readText(Gbk("日志路径"), ""), Gbk("甲"));

    // B0 41 and B0 61 are two characters; folding their trail bytes as
    // letters would make them one name.
    Put(path_, "[\xB0\x61]\r\n\xB0\x61=lower\r\n");
    config.selectSection("\xB0\x41");
    EXPECT_EQ(config.readText("\xB0\x61", "none"), "none");
    config.selectSection("\xB0\x61");
    EXPECT_EQ(config.readText("\xB0\x41", "none"), "none");
    EXPECT_EQ(config.readText("\xB0\x61", "none"), "lower");
}

TEST_F(ConfigFileTest, LongValuesReadBackWhole) {
    std::string value;
    while (value.size() < 30000) {
        value += Gbk("日志") + "ab";
    }
    ConfigFile config(path_.string());
    config.selectSection("s");
    ASSERT_TRUE(config.writeText("k", value));
    EXPECT_EQ(config.readText("k", ""), value);
}

// The settings file's own path goes with every failure, whichever file the
// write stumbled on.
std::string LineOf(const Result<void>& written) {
    return written ? std::string("written") : written.error().line();
}

TEST_F(ConfigFileTest, FailedWritesSayWhyAndKeepTheFile) {
    const std::string missing = (dir_ / "missing" / "logdesk.ini").string();
    ConfigFile nowhere(missing);
    EXPECT_EQ(LineOf(nowhere.writeText("k", "v")),
              missing + ": cannot create: No such file or directory");
    Put(dir_ / "plain", "x");
    const std::string underPlain = (dir_ / "plain" / "logdesk.ini").string();
    ConfigFile underFile(underPlain);
    EXPECT_EQ(LineOf(underFile.writeBool("k", true)),
              underPlain + ": cannot open: Not a directory");
    fs::create_directory(dir_ / "folder");
    ConfigFile folder((dir_ / "folder").string());
    EXPECT_EQ(folder.readText("k", "d"), "d");
    EXPECT_EQ(LineOf(folder.writeText("k", "v")),
              (dir_ / "folder").string() + ": cannot read: Is a directory");

    const std::string before = "[s]\r\nk=old\r\n";
    Put(path_, before);
    ConfigFile config(path_.string());
    config.selectSection("s");
    EXPECT_EQ(LineOf(config.writeText("a=b", "v")),
              path_.string() + ": the key's name cannot be stored");
    EXPECT_FALSE(config.writeText("", "v"));
    EXPECT_FALSE(config.writeText("x\ny", "v"));
    EXPECT_EQ(LineOf(config.writeText("k", "a\xB0\nb")),
              path_.string() + ": the value cannot be stored");
    config.selectSection("t\r\n");
    EXPECT_EQ(LineOf(config.writeText("k", "v")),
              path_.string() + ": the section's name cannot be stored");
    config.selectSection("s");
    EXPECT_EQ(ReadFile(path_), before);

    // A file size limit makes the write fail part-way, as a full disk does.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Result<void> written = config.writeText("k", std::string(10000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(LineOf(written), path_.string() + ": write failed: File too large");
    EXPECT_EQ(ReadFile(path_), before);
    EXPECT_EQ(filesInDir(), 3U) << "temporary file left behind";
}

// Whatever line end the file's last line has, or lacks, an added line is a
// line of its own and the line before it reads as before.
TEST_F(ConfigFileTest, AddedLinesStayApartWhateverTheLineEnds) {
    struct Case {
        std::string before;
        std::string after;
        std::string a; // how a in [s] reads, before and after
    };
    const std::vector<Case> cases = {
        {"[s]\r\na=1\r", "[s]\r\na=1\r\nb=2\r\n", "1"},
        {"[s]\r\na=1", "[s]\r\na=1\r\nb=2\r\n", "1"},
        {"[s]\r\na=1\r\n", "[s]\r\na=1\r\nb=2\r\n", "1"},
        {"[s]\na=1", "[s]\na=1\nb=2\n", "1"},
        {"[s]\na=1\r", "[s]\na=1\r\nb=2\n", "1"},
        // A CR alone ends a line too, as Windows editors read it; a file of
        // bare CRs gets bare CRs.
        {"[s]\r\na=1\r\r", "[s]\r\na=1\rb=2\r\n\r", "1"},
        {"[s]\r\na=1\rx\r\n", "[s]\r\na=1\rx\r\nb=2\r\n", "1"},
        {"[s]\ra=1\r", "[s]\ra=1\rb=2\r", "1"},
        {"[s]\ra=1\r[t]\rc=5\r", "[s]\ra=1\rb=2\r[t]\rc=5\r", "1"},
        {"[s]\r", "[s]\rb=2\r", "none"},
        {"\r", "\r[s]\rb=2\r", "none"},
        {"[t]\r\na=1\r", "[t]\r\na=1\r\n[s]\r\nb=2\r\n", "none"},
        {"[s]\r\na=1\r\n\r\n[t]\r\nc=3\r", "[s]\r\na=1\r\nb=2\r\n\r\n[t]\r\nc=3\r", "1"},
    };
    ConfigFile config(path_.string());
    for (const Case& c : cases) {
        Put(path_, c.before);
        config.selectSection("s");
        EXPECT_EQ(config.readText("a", "none"), c.a) << c.before;
        ASSERT_TRUE(config.writeText("b", "2")) << c.before;
        EXPECT_EQ(ReadFile(path_), c.after) << c.before;
        EXPECT_EQ(config.readText("b", "none"), "2") << c.before;
        EXPECT_EQ(config.readText("a", "none"), c.a) << c.before;
        config.selectSection("t");
        EXPECT_EQ(config.readText("b", "none"), "none") << c.before;
    }
}

TEST_F(ConfigFileTest, NamesEndingInALeadByteReadBackAndAreWrittenOnce) {
    ConfigFile config(path_.string());
    // "\xE6]" would be one double-byte character and hide the ']'.
    config.selectSection("abc\xE6");
    ASSERT_TRUE(config.writeText("k", "v"));
    ASSERT_TRUE(config.writeText("k", "v"));
    ASSERT_TRUE(config.writeText("key\xE6", "w"));
    ASSERT_TRUE(config.writeText("key\xE6", "w"));
    EXPECT_EQ(ReadFile(path_), "[abc\xE6 ]\r\nk=v\r\nkey\xE6=w\r\n");
    EXPECT_EQ(config.readText("k", ""), "v");
    EXPECT_EQ(config.readText("key\xE6", ""), "w");

    // A header that never read back keeps reading as it did: not a header,
    // so its key belongs to the section above it.
    Put(path_, "[s]\r\n[abc\xE6]\r\nk=old\r\n");
    ASSERT_TRUE(config.writeText("k", "new"));
    EXPECT_EQ(ReadFile(path_), "[s]\r\n[abc\xE6]\r\nk=old\r\n[abc\xE6 ]\r\nk=new\r\n");
    EXPECT_EQ(config.readText("k", ""), "new");
    config.selectSection("s");
    EXPECT_EQ(config.readText("k", ""), "old");
}

TEST_F(ConfigFileTest, ValuesThatCannotReadBackAreRefused) {
    Put(path_, "[s]\r\nk=old\r\n");
    ConfigFile config(path_.string());
    config.selectSection("s");
    // The lead byte would pair with the mark's first byte, and the mark would
    // no longer be found.
    EXPECT_FALSE(config.writeText("k", "x\xE6\r\ny"));
    EXPECT_FALSE(config.writeText("n", "x\xE6\n"));
    EXPECT_EQ(ReadFile(path_), "[s]\r\nk=old\r\n");
    ASSERT_TRUE(config.writeText("k", "x\xE6"));
    EXPECT_EQ(config.readText("k", ""), "x\xE6");
    ASSERT_TRUE(config.writeText("k", "\xE6\x40\r\n\xE6"));
    EXPECT_EQ(config.readText("k", ""), "\xE6\x40\r\n\xE6");
}

// One line of a file as the reader splits it: LF ends a line, and a CR
// before it or at the very end belongs to the break.
struct FileLine {
    std::string text;
    std::string lineBreak;
    bool operator==(const FileLine&) const = default;
};

std::vector<FileLine> LinesOf(const std::string& file) {
    std::vector<FileLine> lines;
    std::size_t begin = 0;
    while (begin < file.size()) {
        // LF, CR LF and a CR alone each end a line.
        const std::size_t end = std::min(file.find_first_of("\r\n", begin), file.size());
        std::size_t next = end;
        if (next < file.size()) {
            next += file.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        }
        lines.push_back({file.substr(begin, end - begin), file.substr(end, next - end)});
        begin = next;
    }
    return lines;
}

// Random files, names and values made of the bytes that trip a reader up:
// lead bytes, ']', '=', ';', blanks, CR and LF. After every write that
// succeeds the key reads back its value, every other key reads as before
// and every other line is unchanged; a failed write changes no byte.
TEST_F(ConfigFileTest, RandomWritesReadBackAndLeaveEverythingElse) {
    const std::vector<std::string> nameBytes = {"a",  "B",  "\x81", "\xE6", "\xFE", "\xB0",
                                                "]",  "[",  "=",    " ",    "\t",   ";",
                                                "\r", "\n", "a",    "B",    "\xE6"};
    const std::vector<std::string> valueBytes = {"x",  "\xE6", "\xB0", " ",       "\t",
                                                 "\r", "\n",   "]",    "\xB0\x5D"};
    const std::vector<std::string> breaks = {"\r\n", "\n", "\r", ""};
    std::mt19937 random(777);
    auto pick = [&](const std::vector<std::string>& from, std::size_t most) {
        std::string text;
        for (std::size_t n = random() % (most + 1); n > 0; --n) {
            text += from[random() % from.size()];
        }
        return text;
    };
    auto trimmed = [](std::string text) {
        text.erase(0, text.find_first_not_of(" \t"));
        text.erase(text.find_last_not_of(" \t") + 1);
        return text;
    };
    auto promised = [&](const std::string& value) {
        std::string text;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\r' || value[i] == '\n') {
                text += "\r\n";
                i += value.compare(i, 2, "\r\n") == 0 ? 1 : 0;
            } else {
                text += value[i];
            }
        }
        return trimmed(text);
    };

    ConfigFile config(path_.string());
    int successes = 0;
    int writes = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> sections = {"", "s"};
        std::vector<std::string> keys = {"k"};
        std::string file;
        for (std::size_t n = random() % 8; n > 0; --n) {
            switch (random() % 4) {
            case 0:
                sections.push_back(pick(nameBytes, 3));
                file += "[" + sections.back() + "]";
                break;
            case 1:
            case 2:
                keys.push_back(pick(nameBytes, 3));
                file += keys.back() + "=" + pick(valueBytes, 3);
                break;
            default:
                file += pick(nameBytes, 4);
            }
            file += breaks[random() % breaks.size()];
        }
        Put(path_, file);
        for (int step = 0; step < 4; ++step, ++writes) {
            const std::string section =
                random() % 3 == 0 ? pick(nameBytes, 3) : sections[random() % sections.size()];
            const std::string key =
                random() % 3 == 0 ? pick(nameBytes, 3) : keys[random() % keys.size()];
            const std::string value = pick(valueBytes, 4);
            const std::string where = "round " + std::to_string(round) + " step " +
                                      std::to_string(step) + " file " +
                                      ::testing::PrintToString(file);
            auto readAll = [&] {
                std::vector<std::string> all;
                for (const std::string& s : sections) {
                    config.selectSection(s);
                    for (const std::string& k : keys) {
                        all.push_back(config.readText(k, "\x01"));
                    }
                }
                return all;
            };
            const std::vector<std::string> before = readAll();
            config.selectSection(section);
            if (!config.writeText(key, value)) {
                ASSERT_EQ(ReadFile(path_), file) << where;
                continue;
            }
            ++successes;
            ASSERT_EQ(config.readText(key, "\x01"), promised(value)) << where;
            const std::string written = ReadFile(path_);
            ASSERT_TRUE(config.writeText(key, value)) << where;
            ASSERT_EQ(ReadFile(path_), written)
                << where << ": the same write again changed the file";

            const std::vector<std::string> after = readAll();
            for (std::size_t s = 0, i = 0; s < sections.size(); ++s) {
                for (std::size_t k = 0; k < keys.size(); ++k, ++i) {
                    if (trimmed(sections[s]) != trimmed(section) ||
                        trimmed(keys[k]) != trimmed(key)) {
                        ASSERT_EQ(after[i], before[i])
                            << where << " section " << ::testing::PrintToString(sections[s])
                            << " key " << ::testing::PrintToString(keys[k]);
                    }
                }
            }

            // Nothing changed (the value was there), one line changed (the
            // key's), or one or two lines were added (the key's, after its
            // header); only the break of the file's last line may have been
            // completed.
            const std::vector<FileLine> old = LinesOf(file);
            const std::vector<FileLine> now = LinesOf(written);
            std::size_t head = 0;
            while (head < old.size() && head < now.size() && old[head].text == now[head].text) {
                ++head;
            }
            std::size_t tail = 0;
            while (tail < old.size() - head && tail < now.size() - head &&
                   old[old.size() - 1 - tail] == now[now.size() - 1 - tail]) {
                ++tail;
            }
            for (std::size_t i = 0; i < head; ++i) {
                if (i + 1 < old.size()) {
                    ASSERT_EQ(now[i].lineBreak, old[i].lineBreak) << where << " line " << i;
                }
            }
            const std::size_t removed = old.size() - head - tail;
            const std::size_t added = now.size() - head - tail;
            ASSERT_TRUE((removed == 0 && added <= 2) || (removed == 1 && added == 1))
                << where << " became " << ::testing::PrintToString(written);
            file = written;
        }
    }
    // Most writes are of names and values that can be stored.
    EXPECT_GT(successes, writes / 3);
}

TEST_F(ConfigFileTest, ReplacingKeepsPermissionsAndSymbolicLinks) {
    Put(dir_ / "real.ini", "[s]\r\nk=1\r\n");
    fs::permissions(dir_ / "real.ini", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(dir_ / "real.ini", path_);
    ConfigFile config(path_.string());
    config.selectSection("s");
    ASSERT_TRUE(config.writeText("k", "2"));
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(ReadFile(dir_ / "real.ini"), "[s]\r\nk=2\r\n");
    EXPECT_EQ(fs::status(dir_ / "real.ini").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConfigFileTest, PathIsBesideTheProgramOnlyWhenThatFolderIsWritable) {
    EXPECT_EQ(ConfigFilePath(dir_.string()), (dir_ / "logdesk.ini").string());

    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedXdg = oldXdg != nullptr ? oldXdg : "";
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    const std::string readOnly = (dir_ / "plain" / "bin").string();
    Put(dir_ / "plain", "x");
    ::setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
    EXPECT_EQ(ConfigFilePath(readOnly), (dir_ / "xdg" / "logdesk" / "logdesk.ini").string());
    EXPECT_TRUE(fs::is_directory(dir_ / "xdg" / "logdesk"));
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", dir_.c_str(), 1);
    EXPECT_EQ(ConfigFilePath(readOnly), (dir_ / ".config" / "logdesk" / "logdesk.ini").string());
    EXPECT_TRUE(fs::is_directory(dir_ / ".config" / "logdesk"));

    if (oldXdg != nullptr) {
        ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    }
    if (oldHome != nullptr) {
        ::setenv("HOME", savedHome.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

} // namespace
} // namespace logdesk
