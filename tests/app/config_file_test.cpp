#include "app/config_file.h"
#include "util/gbk_codec.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace logdesk {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

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
    EXPECT_EQ(Slurp(path_), Gbk("[基本配置]\r\n日志路径=D:\\日志\r\n"));
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
    EXPECT_EQ(Slurp(path_), "; made by hand\n"
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
    EXPECT_EQ(Slurp(path_), "[a]\r\nk=1\r\nj=2\r\n[b]\r\nk=1\r\n");
}

TEST_F(ConfigFileTest, LineBreaksAreStoredAsMarks) {
    ConfigFile config(path_.string());
    config.selectSection("s");
    ASSERT_TRUE(config.writeText("k", "one\r\ntwo"));
    EXPECT_EQ(Slurp(path_), "[s]\r\nk=one\xA9\xAE*\xA9\xAEtwo\r\n");
    EXPECT_EQ(config.readText("k", ""), "one\r\ntwo");

    // A lone LF or CR must not split the line; it comes back as CR LF.
    ASSERT_TRUE(config.writeText("k", "a\nb\rc"));
    EXPECT_EQ(Slurp(path_), "[s]\r\nk=a" + Gbk("┊*┊") + "b" + Gbk("┊*┊") + "c\r\n");
    EXPECT_EQ(config.readText("k", ""), "a\r\nb\r\nc");

    EXPECT_EQ(config.readText("missing", "x\r\ny"), "x\r\ny");
    EXPECT_EQ(config.readText("missing", "x" + Gbk("┊*┊") + "y"), "x\r\ny");
}

TEST_F(ConfigFileTest, BooleansAreTrueOnlyForTheTrueCharacter) {
    ConfigFile config(path_.string());
    config.selectSection("s");
    ASSERT_TRUE(config.writeBool("on", true));
    ASSERT_TRUE(config.writeBool("off", false));
    EXPECT_EQ(Slurp(path_), "[s]\r\non=" + Gbk("真") + "\r\noff=" + Gbk("假") + "\r\n");
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

TEST_F(ConfigFileTest, FailedWritesReturnFalseAndKeepTheFile) {
    ConfigFile nowhere((dir_ / "missing" / "logdesk.ini").string());
    EXPECT_FALSE(nowhere.writeText("k", "v"));
    Put(dir_ / "plain", "x");
    ConfigFile underFile((dir_ / "plain" / "logdesk.ini").string());
    EXPECT_FALSE(underFile.writeBool("k", true));
    fs::create_directory(dir_ / "folder");
    ConfigFile folder((dir_ / "folder").string());
    EXPECT_EQ(folder.readText("k", "d"), "d");
    EXPECT_FALSE(folder.writeText("k", "v"));

    const std::string before = "[s]\r\nk=old\r\n";
    Put(path_, before);
    ConfigFile config(path_.string());
    config.selectSection("s");
    EXPECT_FALSE(config.writeText("a=b", "v"));
    EXPECT_FALSE(config.writeText("", "v"));
    EXPECT_FALSE(config.writeText("x\ny", "v"));
    EXPECT_EQ(Slurp(path_), before);

    // A file size limit makes the write fail part-way, as a full disk does.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = config.writeText("k", std::string(10000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(Slurp(path_), before);
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
        {"[s]\r\na=1\r\r", "[s]\r\na=1\r\r\nb=2\r\n", "1\r"},
        {"[s]\r\na=1\rx\r\n", "[s]\r\na=1\rx\r\nb=2\r\n", "1\rx"},
        {"[s]\ra=1\r", "[s]\ra=1\r\nb=2\r\n", "none"},
        {"[s]\r", "[s]\r\nb=2\r\n", "none"},
        {"\r", "\r\n[s]\r\nb=2\r\n", "none"},
        {"[t]\r\na=1\r", "[t]\r\na=1\r\n[s]\r\nb=2\r\n", "none"},
        {"[s]\r\na=1\r\n\r\n[t]\r\nc=3\r", "[s]\r\na=1\r\nb=2\r\n\r\n[t]\r\nc=3\r", "1"},
    };
    ConfigFile config(path_.string());
    for (const Case& c : cases) {
        Put(path_, c.before);
        config.selectSection("s");
        EXPECT_EQ(config.readText("a", "none"), c.a) << c.before;
        ASSERT_TRUE(config.writeText("b", "2")) << c.before;
        EXPECT_EQ(Slurp(path_), c.after) << c.before;
        EXPECT_EQ(config.readText("b", "none"), "2") << c.before;
        EXPECT_EQ(config.readText("a", "none"), c.a) << c.before;
        config.selectSection("t");
        EXPECT_EQ(config.readText("b", "none"), "none") << c.before;
    }
}

TEST_F(ConfigFileTest, ReplacingKeepsPermissionsAndSymbolicLinks) {
    Put(dir_ / "real.ini", "[s]\r\nk=1\r\n");
    fs::permissions(dir_ / "real.ini", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(dir_ / "real.ini", path_);
    ConfigFile config(path_.string());
    config.selectSection("s");
    ASSERT_TRUE(config.writeText("k", "2"));
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(Slurp(dir_ / "real.ini"), "[s]\r\nk=2\r\n");
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
