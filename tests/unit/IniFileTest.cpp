#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/IniFile.h"
#include "util/FileIo.h"
#include "tests/unit/TestFiles.h"

namespace lumivore {
namespace {

namespace fs = std::filesystem;

using testutil::ReadAll;
using testutil::TempDir;
using testutil::WriteAllText;

std::vector<std::string> DirEntries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class IniFileTest : public ::testing::Test {
 protected:
  fs::path file() const { return dir_.path() / "lumivore.INI"; }
  IniFile ini() const { return IniFile(file().string()); }
  void Given(const std::string& text) const { WriteAllText(file(), text); }

  TempDir dir_;
};

// ---- reading -------------------------------------------------------------------------------

struct IntCase {
  const char* line;  // the text after "k="
  int expected;      // with default -7
};

TEST_F(IniFileTest, ReadInteger_ValueForms) {
  const IntCase cases[] = {
      {"42", 42},
      {"-17", -17},
      {"+5", 5},
      {"0", 0},
      {"0x1F", 31},
      {"0XfF", 255},
      {"$ff", 255},
      {"$FF", 255},
      {" 12 ", 12},
      {"\t7\t", 7},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"0x7FFFFFFF", 2147483647},
      {"\"12\"", 12},
      {"'0x10'", 16},
      // everything below is not a whole number (or not an int32) and gives the default
      {"12abc", -7},
      {"", -7},
      {"abc", -7},
      {"1 2", -7},
      {"1.5", -7},
      {"99999999999", -7},
      {"2147483648", -7},
      {"-2147483649", -7},
      {"0x80000000", -7},
      {"$FFFFFFFF", -7},
      {"-0x10", -7},
      {"-$10", -7},
      {"0x", -7},
      {"$", -7},
      {"0x 1F", -7},
      {"0xG", -7},
      {"-", -7},
      {"+", -7},
      {"--1", -7},
  };
  for (const IntCase& c : cases) {
    Given(std::string("[S]\nk=") + c.line + "\n");
    EXPECT_EQ(ini().ReadInteger("S", "k", -7), c.expected) << "value [" << c.line << "]";
  }
}

TEST_F(IniFileTest, ReadBool_NonZeroIsTrue_NonNumberGivesDefault) {
  struct Case {
    const char* line;
    bool withTrueDefault;
    bool withFalseDefault;
  };
  const Case cases[] = {
      {"1", true, true},    {"0", false, false},   {"2", true, true},
      {"-1", true, true},   {"0x0", false, false}, {"$10", true, true},
      {"yes", true, false}, {"", true, false},     {"true", true, false},
  };
  for (const Case& c : cases) {
    Given(std::string("[S]\nb=") + c.line + "\n");
    EXPECT_EQ(ini().ReadBool("S", "b", true), c.withTrueDefault) << c.line;
    EXPECT_EQ(ini().ReadBool("S", "b", false), c.withFalseDefault) << c.line;
  }
}

TEST_F(IniFileTest, ReadString_TrimsBlanksAndOnePairOfMatchingQuotes) {
  struct Case {
    const char* line;
    const char* expected;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"  two words  ", "two words"},
      {"\"quoted\"", "quoted"},
      {"'single'", "single"},
      {"\"  kept blanks  \"", "  kept blanks  "},
      {"\"\"\"inner\"\"\"", "\"\"inner\"\""},
      {"\"mixed'", "\"mixed'"},
      {"\"", "\""},
      {"''", ""},
      {"a=b=c", "a=b=c"},
      {"C:\\snd\\cap.wav", "C:\\snd\\cap.wav"},
      {"画面キャプチャー", "画面キャプチャー"},
      {"", ""},
  };
  for (const Case& c : cases) {
    Given(std::string("[S]\nk=") + c.line + "\n");
    EXPECT_EQ(ini().ReadString("S", "k", "DEF"), c.expected) << "value [" << c.line << "]";
  }
}

TEST_F(IniFileTest, Read_MissingFileSectionOrKey_GivesDefault) {
  EXPECT_EQ(ini().ReadString("General", "LastDefExt", "BMP"), "BMP");
  EXPECT_EQ(ini().ReadInteger("General", "WinWidth", 220), 220);
  EXPECT_TRUE(ini().ReadBool("General", "ShowSttBar", true));
  EXPECT_FALSE(fs::exists(file())) << "reading must not create the file";

  Given(
      "orphan=1\n"
      "[General]\n"
      "; Commented=2\n"
      "Present=3\n"
      "[Option]\n"
      "Other=4\n");
  EXPECT_EQ(ini().ReadInteger("General", "orphan", -1), -1) << "a key before any section";
  EXPECT_EQ(ini().ReadInteger("General", "Commented", -1), -1);
  EXPECT_EQ(ini().ReadInteger("General", "Other", -1), -1) << "a key of another section";
  EXPECT_EQ(ini().ReadInteger("Sound", "Present", -1), -1) << "a missing section";
  EXPECT_EQ(ini().ReadInteger("General", "Present", -1), 3);
}

TEST_F(IniFileTest, Read_FirstOfDuplicateSectionsAndKeysCounts) {
  Given("[S]\nk=first\nk=second\n[T]\n[S]\nk=third\nonly=here\n");
  EXPECT_EQ(ini().ReadString("S", "k", ""), "first");
  EXPECT_EQ(ini().ReadString("S", "only", "def"), "def");
}

TEST_F(IniFileTest, Read_NamesAreCaseInsensitiveAndTrimmed) {
  Given("[ GeNeRaL ]\r\n  VERSION  =  155  \r\n");
  EXPECT_EQ(ini().ReadInteger("general", "version", 0), 155);
  EXPECT_EQ(ini().ReadInteger("GENERAL", "Version", 0), 155);
  EXPECT_EQ(ini().ReadString("General", "version", ""), "155") << "CR of CRLF is not value";
}

TEST_F(IniFileTest, Read_GarbageLinesAndInvalidUtf8_DoNotDisturbGoodKeys) {
  std::string text =
      "\xEF\xBB\xBFjunk without equals\n"
      "[unterminated\n"
      "=no key\n"
      "[General]\n"
      "]]]]\n"
      "\x01\x02\xFF\xFE\n";
  text += "bin=\xFF\xC3(\x80\n";
  text += std::string("nul=a\0b", 7) + "\n";
  text += "good=12\n";
  Given(text);
  EXPECT_EQ(ini().ReadInteger("General", "good", 0), 12);
  EXPECT_EQ(ini().ReadString("General", "bin", ""), "\xFF\xC3(\x80");
  EXPECT_EQ(ini().ReadString("General", "nul", ""), std::string("a\0b", 3));
  EXPECT_EQ(ini().ReadString("unterminated", "x", "d"), "d");
}

TEST_F(IniFileTest, Read_FolderOrFifoAtThePath_GivesDefaultsWithoutBlocking) {
  fs::create_directory(file());
  EXPECT_EQ(ini().ReadInteger("S", "k", 5), 5);
  fs::remove(file());
  ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
  EXPECT_EQ(ini().ReadInteger("S", "k", 6), 6);
}

TEST_F(IniFileTest, ByteOrderMark_IsSkippedOnReadAndKeptOnWrite) {
  Given("\xEF\xBB\xBF[General]\r\nVersion=120\r\n");
  EXPECT_EQ(ini().ReadInteger("General", "Version", 0), 120);
  ASSERT_TRUE(ini().WriteInteger("General", "Version", 155));
  ASSERT_TRUE(ini().WriteInteger("Option", "HideWait", 100));
  EXPECT_EQ(ReadAll(file()),
            "\xEF\xBB\xBF[General]\r\nVersion=155\r\n[Option]\r\nHideWait=100\r\n");
}

TEST_F(IniFileTest, OversizedFile_GivesDefaultsAndIsNeverRewritten) {
  Given("[S]\nk=1\n");
  ASSERT_EQ(::truncate(file().c_str(), 17 << 20), 0);  // sparse: 17 MiB, the key at the start
  EXPECT_EQ(ini().ReadInteger("S", "k", 9), 9);
  EXPECT_FALSE(ini().WriteInteger("S", "k", 2));
  EXPECT_EQ(fs::file_size(file()), 17u << 20);
  EXPECT_EQ(ReadAll(file()).substr(0, 8), "[S]\nk=1\n");
}

TEST_F(IniFileTest, ReadString_CutsLongValuesToCodePointsNotBytes) {
  struct Case {
    std::string value;
    std::string expected;
  };
  const std::string a(3000, 'a');
  std::string hiragana;  // 3 bytes each
  for (int i = 0; i < 3000; ++i) hiragana += "あ";
  std::string emoji;  // 4 bytes each
  for (int i = 0; i < 2100; ++i) emoji += "\xF0\x9F\x93\xB7";
  const std::string straddle = std::string(2046, 'x') + "あい";
  const std::string invalid(3000, '\xFF');
  const Case cases[] = {
      {a, a.substr(0, 2047)},
      {std::string(2047, 'b'), std::string(2047, 'b')},
      {hiragana, hiragana.substr(0, 2047 * 3)},
      {emoji, emoji.substr(0, 2047 * 4)},
      {straddle, std::string(2046, 'x') + "あ"},
      {invalid, invalid.substr(0, 2047)},
  };
  for (const Case& c : cases) {
    Given("[S]\nk=" + c.value + "\n");
    const std::string got = ini().ReadString("S", "k", "");
    EXPECT_EQ(got.size(), c.expected.size());
    EXPECT_EQ(got, c.expected);
  }
}

// ---- writing -------------------------------------------------------------------------------

TEST_F(IniFileTest, Write_FirstRun_KeepsOrderOfFirstWrite) {
  struct Write {
    const char* section;
    const char* key;
    const char* value;
  };
  // At creation the version; at close placement, view, and the sections in closing order;
  // then a second close rewrites keys in place and nothing moves.
  const Write writes[] = {
      {"General", "Version", "155"},
      {"General", "WinState", "0"},
      {"General", "WinLeft", "850"},
      {"General", "WinTop", "420"},
      {"General", "WinWidth", "220"},
      {"General", "WinHeight", "240"},
      {"General", "ShowClsName", "1"},
      {"General", "ShowWndText", "1"},
      {"General", "ShowSttBar", "0"},
      {"General", "LastDir", ""},
      {"General", "LastDefExt", "BMP"},
      {"General", "ImgBgColor", "255"},
      {"General", "ColValFmt", "0"},
      {"Option", "HideWait", "100"},
      {"Option", "CaptureWait", "3000"},
      {"Option", "JpegQuality", "100"},
      {"Option", "ScaleOpt", "0"},
      {"Option", "ExtAllIcon", "1"},
      {"Sound", "ChgImage", ""},
      {"Sound", "CapImage", "/opt/lumivore/snd/cap.wav"},
      {"OnCopy", "ActWndClass", "gedit"},
      {"OnCopy", "ActWndTitle", ""},
      {"OnCopy", "ActWndTitleR", "メモ帳"},
      {"OnCopy", "CmdLine", ""},
      {"OnCopy", "SendKey", "^V"},
      {"OnSave", "CmdLine", "viewer \"$F\""},
      {"General", "WinState", "2"},
      {"Option", "HideWait", "-5"},
  };
  IniFile f = ini();
  for (const Write& w : writes) ASSERT_TRUE(f.WriteString(w.section, w.key, w.value)) << w.key;

  EXPECT_EQ(ReadAll(file()),
            "[General]\n"
            "Version=155\n"
            "WinState=2\n"
            "WinLeft=850\n"
            "WinTop=420\n"
            "WinWidth=220\n"
            "WinHeight=240\n"
            "ShowClsName=1\n"
            "ShowWndText=1\n"
            "ShowSttBar=0\n"
            "LastDir=\n"
            "LastDefExt=BMP\n"
            "ImgBgColor=255\n"
            "ColValFmt=0\n"
            "[Option]\n"
            "HideWait=-5\n"
            "CaptureWait=3000\n"
            "JpegQuality=100\n"
            "ScaleOpt=0\n"
            "ExtAllIcon=1\n"
            "[Sound]\n"
            "ChgImage=\n"
            "CapImage=/opt/lumivore/snd/cap.wav\n"
            "[OnCopy]\n"
            "ActWndClass=gedit\n"
            "ActWndTitle=\n"
            "ActWndTitleR=メモ帳\n"
            "CmdLine=\n"
            "SendKey=^V\n"
            "[OnSave]\n"
            "CmdLine=viewer \"$F\"\n");
  EXPECT_EQ(f.ReadString("OnSave", "CmdLine", ""), "viewer \"$F\"");
  EXPECT_EQ(f.ReadString("OnCopy", "CmdLine", "x"), "");
  EXPECT_EQ(DirEntries(dir_.path()), std::vector<std::string>{"lumivore.INI"}) << "no temp left";
}

TEST_F(IniFileTest, Write_ExistingFile_KeepsCommentsUnknownLinesAndLineEnds) {
  Given(
      "; Lumivore settings\r\n"
      "[general]\r\n"
      "version = 120 \r\n"
      "; keep me\r\n"
      "\r\n"
      "garbage line\r\n"
      "[Plugin]\r\n"
      "Unknown=yes\r\n"
      "Version=9");
  IniFile f = ini();
  ASSERT_TRUE(f.WriteInteger("General", "Version", 155));
  ASSERT_TRUE(f.WriteString("GENERAL", "LastDefExt", "PNG"));
  ASSERT_TRUE(f.WriteString("plugin", "New", "1"));
  ASSERT_TRUE(f.WriteString("Option", "HideWait", "100"));
  EXPECT_EQ(ReadAll(file()),
            "; Lumivore settings\r\n"
            "[general]\r\n"
            "Version=155\r\n"
            "LastDefExt=PNG\r\n"
            "; keep me\r\n"
            "\r\n"
            "garbage line\r\n"
            "[Plugin]\r\n"
            "Unknown=yes\r\n"
            "Version=9\r\n"
            "New=1\r\n"
            "[Option]\r\n"
            "HideWait=100\r\n");
}

TEST_F(IniFileTest, WriteIntegerAndBool_UseDecimalAndOneZero) {
  IniFile f = ini();
  ASSERT_TRUE(f.WriteInteger("S", "neg", -2147483647 - 1));
  ASSERT_TRUE(f.WriteInteger("S", "color", 0xFF));
  ASSERT_TRUE(f.WriteBool("S", "yes", true));
  ASSERT_TRUE(f.WriteBool("S", "no", false));
  EXPECT_EQ(ReadAll(file()), "[S]\nneg=-2147483648\ncolor=255\nyes=1\nno=0\n");
  EXPECT_EQ(f.ReadInteger("S", "neg", 0), -2147483647 - 1);
}

TEST_F(IniFileTest, Write_LineBreaksInValue_CannotSplitTheLine) {
  IniFile f = ini();
  ASSERT_TRUE(f.WriteString("OnCopy", "SendKey", "^V\r\n[General]\nVersion=999"));
  ASSERT_TRUE(f.WriteString("OnCopy", "After", std::string("a\0b", 3)));
  EXPECT_EQ(ReadAll(file()), "[OnCopy]\nSendKey=^V  [General] Version=999\nAfter=a b\n");
  EXPECT_EQ(f.ReadInteger("General", "Version", 0), 0);
}

TEST_F(IniFileTest, Write_ValuesReadingWouldAlter_RoundTripExactly) {
  const std::string values[] = {" leading", "trailing\t", "\"quoted\"", "'single'",
                                "\"",       "",           "a \"b\" c",  "  "};
  IniFile f = ini();
  for (const std::string& v : values) {
    ASSERT_TRUE(f.WriteString("S", "k", v));
    EXPECT_EQ(f.ReadString("S", "k", "DEF"), v);
  }
}

TEST_F(IniFileTest, Write_NamesThatWouldBreakTheFile_AreRefused) {
  Given("[S]\nk=1\n");
  IniFile f = ini();
  EXPECT_FALSE(f.WriteString("", "k", "v"));
  EXPECT_FALSE(f.WriteString("  ", "k", "v"));
  EXPECT_FALSE(f.WriteString("a]b", "k", "v"));
  EXPECT_FALSE(f.WriteString("a\nb", "k", "v"));
  EXPECT_FALSE(f.WriteString("S", "", "v"));
  EXPECT_FALSE(f.WriteString("S", "a=b", "v"));
  EXPECT_FALSE(f.WriteString("S", ";k", "v"));
  EXPECT_FALSE(f.WriteString("S", "[k", "v"));
  EXPECT_FALSE(f.WriteString("S", "k\r", "v"));
  EXPECT_EQ(ReadAll(file()), "[S]\nk=1\n");
}

TEST_F(IniFileTest, Write_LongestFileName_StillWrites) {
  const fs::path longName = dir_.path() / (std::string(251, 'n') + ".INI");  // 255 bytes
  IniFile f(longName.string());
  ASSERT_TRUE(f.WriteInteger("S", "k", 1));
  EXPECT_EQ(ReadAll(longName), "[S]\nk=1\n");
}

TEST_F(IniFileTest, Write_UnwritablePlace_ReturnsFalseAndChangesNothing) {
  // Root ignores permission bits, so these places fail for everyone: a folder that is a
  // regular file, a folder that does not exist, and the kernel's process file system.
  WriteAllText(dir_.path() / "notadir", "content");
  const std::string paths[] = {(dir_.path() / "notadir" / "lumivore.INI").string(),
                               (dir_.path() / "missing" / "lumivore.INI").string(),
                               "/proc/self/lumivore.INI", ""};
  for (const std::string& p : paths) {
    IniFile f(p);
    EXPECT_FALSE(f.WriteInteger("General", "Version", 155)) << p;
    EXPECT_EQ(f.ReadInteger("General", "Version", -1), -1) << p;
  }
  EXPECT_EQ(ReadAll(dir_.path() / "notadir"), "content");
  EXPECT_EQ(DirEntries(dir_.path()), std::vector<std::string>{"notadir"});
}

TEST_F(IniFileTest, Write_FolderAtThePath_ReturnsFalseAndLeavesNoTemp) {
  fs::create_directory(file());
  EXPECT_FALSE(ini().WriteInteger("General", "Version", 155));
  EXPECT_TRUE(fs::is_directory(file()));
  EXPECT_EQ(DirEntries(dir_.path()), std::vector<std::string>{"lumivore.INI"});
}

TEST_F(IniFileTest, Write_DiskFull_KeepsOldFileAndLeavesNoTemp) {
  const std::string old = "[General]\nVersion=120\n; " + std::string(200, 'c') + "\n";
  Given(old);
  // A file-size limit makes write() fail like a full disk does, for root too. It is set in a
  // child process so the test runner's own files are not limited.
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{64, 64};
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(2);
    IniFile f(file().string());
    ::_exit(f.WriteString("General", "LastDir", std::string(500, 'd')) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write must report false";
  EXPECT_EQ(ReadAll(file()), old);
  EXPECT_EQ(DirEntries(dir_.path()), std::vector<std::string>{"lumivore.INI"});
}

TEST_F(IniFileTest, Write_RemovesTempFilesOfKilledWrites_AndNothingElse) {
  Given("[General]\nVersion=155\n");
  // Writers killed in the middle of writing: a file-size limit makes the kernel end each one
  // with SIGXFSZ inside write(), after its temporary file was made.
  for (int i = 0; i < 3; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const rlimit noCore{0, 0}, small{16, 16};
      ::setrlimit(RLIMIT_CORE, &noCore);
      ::setrlimit(RLIMIT_FSIZE, &small);
      IniFile(file().string()).WriteString("General", "LastDir", std::string(100, 'x'));
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
  }
  std::vector<std::string> stale;
  for (const std::string& name : DirEntries(dir_.path())) {
    if (name.starts_with(".lumivore.INI.tmp-")) stale.push_back(name);
  }
  // Each killed writer had already removed what the one before it left.
  ASSERT_EQ(stale.size(), 1u);

  // Look-alikes that are not ours to remove: a link, other names, another file's temporaries,
  // and the temporary file of a writer that is still at work.
  WriteAllText(dir_.path() / "target", "t");
  fs::create_symlink("target", dir_.path() / ".lumivore.INI.tmp-0000abcd");
  const std::vector<std::string> others = {".lumivore.INI.tmp-keep", ".lumivore.INI.tmp-0000abcd0",
                                           ".other.INI.tmp-00001234", "lumivore.INI.tmp-00001234"};
  for (const std::string& name : others) WriteAllText(dir_.path() / name, "x");
  TempFile live;
  ASSERT_TRUE(live.create(file().string()));

  ASSERT_TRUE(ini().WriteInteger("General", "Version", 156));
  std::vector<std::string> expected = others;
  for (const char* name : {".lumivore.INI.tmp-0000abcd", "lumivore.INI", "target"}) {
    expected.push_back(name);
  }
  expected.push_back(fs::path(live.path()).filename().string());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(DirEntries(dir_.path()), expected);
  EXPECT_EQ(ini().ReadInteger("General", "Version", 0), 156);
}

TEST_F(IniFileTest, Write_ThatWouldPassTheReadLimit_IsRefused) {
  const std::string big(9 << 20, 'a');
  ASSERT_TRUE(ini().WriteString("S", "first", big));
  // Two such values would make a file over 16 MiB, which reading refuses: every setting
  // would be lost. The second write fails and the file stays readable.
  EXPECT_FALSE(ini().WriteString("S", "second", big));
  EXPECT_LE(fs::file_size(file()), 16u << 20);
  EXPECT_TRUE(ini().WriteInteger("S", "k", 5));
  EXPECT_EQ(ini().ReadInteger("S", "k", 0), 5);
  EXPECT_EQ(ini().ReadString("S", "second", "none"), "none");
}

TEST_F(IniFileTest, Write_KeepsPermissionsOfExistingFile_NewFileFollowsUmask) {
  for (mode_t mode : {0640u, 0604u, 0600u}) {
    Given("[S]\nk=1\n");
    ASSERT_EQ(::chmod(file().c_str(), mode), 0);
    ASSERT_TRUE(ini().WriteInteger("S", "k", 2));
    struct stat st;
    ASSERT_EQ(::stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(ini().ReadInteger("S", "k", 0), 2);
  }
  fs::remove(file());
  const mode_t oldMask = ::umask(027);
  const bool written = ini().WriteInteger("S", "k", 3);
  ::umask(oldMask);
  ASSERT_TRUE(written);
  struct stat st;
  ASSERT_EQ(::stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniFileTest, Write_ThroughSymlink_ReplacesTargetAndKeepsLink) {
  fs::create_directory(dir_.path() / "real");
  const fs::path target = dir_.path() / "real" / "settings.ini";
  WriteAllText(target, "[S]\nk=1\n");
  fs::create_symlink("real/settings.ini", file());  // relative, resolved from the link's folder
  ASSERT_TRUE(ini().WriteInteger("S", "k", 2));
  EXPECT_TRUE(fs::is_symlink(file()));
  EXPECT_EQ(ReadAll(target), "[S]\nk=2\n");
  EXPECT_EQ(DirEntries(dir_.path() / "real"), std::vector<std::string>{"settings.ini"});

  // A dangling link gets its target created.
  const fs::path link2 = dir_.path() / "dangling.ini";
  fs::create_symlink(dir_.path() / "real" / "new.ini", link2);
  ASSERT_TRUE(IniFile(link2.string()).WriteInteger("S", "k", 3));
  EXPECT_TRUE(fs::is_symlink(link2));
  EXPECT_EQ(ReadAll(dir_.path() / "real" / "new.ini"), "[S]\nk=3\n");

  // A link loop fails cleanly.
  fs::create_symlink("loop2", dir_.path() / "loop1");
  fs::create_symlink("loop1", dir_.path() / "loop2");
  EXPECT_FALSE(IniFile((dir_.path() / "loop1").string()).WriteInteger("S", "k", 4));
}

}  // namespace
}  // namespace lumivore
