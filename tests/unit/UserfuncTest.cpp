#include <elf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/unit/TestFiles.h"
#include "util/Userfunc.h"

namespace lumivore {
namespace {

namespace fs = std::filesystem;

using testutil::ReadAll;
using testutil::TempDir;
using testutil::WriteAllText;

// ---- text routines -------------------------------------------------------------------------

TEST(TextRoutines, SubStr_CountsFromOneAndStopsAtTheEnds) {
  struct Case {
    int start, count;
    const char16_t* expected;
  };
  const Case cases[] = {
      {1, 3, u"abc"}, {2, 2, u"bc"},  {1, 0, u""},     {7, 1, u""},   {6, 1, u"f"},
      {4, 9, u"def"}, {0, 2, u"ab"},  {-5, 3, u"abc"}, {1, -1, u""},  {3, 1, u"c"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SubStr(u"abcdef", c.start, c.count), c.expected) << c.start << "," << c.count;
  }
  EXPECT_EQ(SubStr(u"", 1, 1), u"");
  EXPECT_EQ(SubStr(u"画像を保存", 2, 2), u"像を");
}

TEST(TextRoutines, StrBeforeAndStrAfter_SplitAtTheFirstOccurrence) {
  struct Case {
    const char16_t* text;
    const char16_t* delimiter;
    const char16_t* before;
    const char16_t* after;
  };
  const Case cases[] = {
      {u"a,b,c", u",", u"a", u"b,c"},     {u"abc", u",", u"abc", u""},
      {u"x=>y=>z", u"=>", u"x", u"y=>z"}, {u",lead", u",", u"", u"lead"},
      {u"trail,", u",", u"trail", u""},   {u"abc", u"", u"abc", u""},
      {u"aBbB", u"b", u"aB", u"B"},       {u"", u",", u"", u""},
      {u"画像|保存", u"|", u"画像", u"保存"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StrBefore(c.text, c.delimiter), c.before);
    EXPECT_EQ(StrAfter(c.text, c.delimiter), c.after);
  }
}

// ---- version numbers -------------------------------------------------------------------------

TEST(VersionNumber, FromText_DropsDotsKeepsThreeCharacters) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"1.5.5.0", 155}, {"2.10.3.1", 210}, {"10.20.30.40", 102}, {"1.2", 12}, {"7", 7},
      {"0.0.9", 9},     {"", 0},           {"...", 0},           {"abc", 0},  {"1.a.3", 0},
      {"1 .5", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(VersionNumberFromText(c.text), c.expected) << c.text;
}

TEST(VersionInfo, EmbeddedFileVersion_ReadsBackFromBuiltExecutable) {
  EXPECT_EQ(GetFileVersionStr(VERSION_PROBE_PATH), "2.10.3.1");
  EXPECT_EQ(VersionNumberFromText(GetFileVersionStr(VERSION_PROBE_PATH)), 210);
}

TEST(VersionInfo, AppVersion_ComesFromThisExecutable) {
  // This test program is built with the project's version information, FileVersion 1.5.5.0.
  EXPECT_EQ(GetFileVersionStr(ExecutablePath()), "1.5.5.0");
  EXPECT_EQ(GetAppVersion(), 155);
}

TEST(VersionInfo, FilesWithoutVersion_GiveEmptyText) {
  TempDir dir;
  WriteAllText(dir.path() / "text.txt", "FileVersion=9.9.9.9\n");
  WriteAllText(dir.path() / "empty", "");
  const std::string files[] = {"/bin/true",
                               (dir.path() / "text.txt").string(),
                               (dir.path() / "empty").string(),
                               (dir.path() / "missing").string(),
                               dir.path().string(),
                               "/dev/null",
                               ""};
  for (const std::string& f : files) {
    EXPECT_EQ(GetFileVersionStr(f), "") << f;
    EXPECT_EQ(VersionNumberFromText(GetFileVersionStr(f)), 0) << f;
  }
}

// Tampers with copies of the probe executable. Finding the fields to damage needs the section
// layout, read here with the system's ELF definitions.
class CorruptElf : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = ReadAll(VERSION_PROBE_PATH);
    ASSERT_GT(image_.size(), sizeof(Elf64_Ehdr));
    std::memcpy(&eh_, image_.data(), sizeof eh_);
    versionHeader_ = SectionHeaderOffset(".lumivore_version");
    ASSERT_TRUE(versionHeader_.has_value());
  }

  Elf64_Shdr SectionAt(std::size_t offset) const {
    Elf64_Shdr s;
    std::memcpy(&s, image_.data() + offset, sizeof s);
    return s;
  }

  std::optional<std::size_t> SectionHeaderOffset(std::string_view name) const {
    const Elf64_Shdr names = SectionAt(eh_.e_shoff + eh_.e_shstrndx * sizeof(Elf64_Shdr));
    for (std::size_t i = 0; i < eh_.e_shnum; ++i) {
      const std::size_t off = eh_.e_shoff + i * sizeof(Elf64_Shdr);
      if (image_.c_str() + names.sh_offset + SectionAt(off).sh_name == name) return off;
    }
    return std::nullopt;
  }

  // The version text of `bytes` written to a file.
  std::string VersionOf(const std::string& bytes) const {
    WriteAllText(path_, bytes);
    return GetFileVersionStr(path_.string());
  }

  template <typename T>
  std::string Patched(std::size_t offset, T value) const {
    std::string copy = image_;
    std::memcpy(copy.data() + offset, &value, sizeof value);
    return copy;
  }

  TempDir dir_;
  fs::path path_ = dir_.path() / "probe";
  std::string image_;
  Elf64_Ehdr eh_{};
  std::optional<std::size_t> versionHeader_;
};

TEST_F(CorruptElf, UntouchedCopy_StillReads) { EXPECT_EQ(VersionOf(image_), "2.10.3.1"); }

TEST_F(CorruptElf, TruncatedCopies_GiveEmptyText) {
  const Elf64_Shdr v = SectionAt(*versionHeader_);
  const std::size_t lengths[] = {
      0, 4, 16, 63, 64, image_.size() / 2, v.sh_offset + 5, eh_.e_shoff + 10, image_.size() - 1};
  for (std::size_t n : lengths) EXPECT_EQ(VersionOf(image_.substr(0, n)), "") << n;
}

TEST_F(CorruptElf, DamagedHeaders_GiveEmptyText) {
  const std::size_t v = *versionHeader_;
  const std::size_t shstr = eh_.e_shoff + eh_.e_shstrndx * sizeof(Elf64_Shdr);
  const std::string cases[] = {
      Patched(EI_CLASS, std::uint8_t{ELFCLASS32}),
      Patched(EI_DATA, std::uint8_t{ELFDATA2MSB}),
      Patched(0, std::uint8_t{'X'}),
      Patched(offsetof(Elf64_Ehdr, e_shoff), std::uint64_t{~0ull - 8}),
      Patched(offsetof(Elf64_Ehdr, e_shoff), std::uint64_t{image_.size() - 10}),
      Patched(offsetof(Elf64_Ehdr, e_shnum), std::uint16_t{0xFFFF}),
      Patched(offsetof(Elf64_Ehdr, e_shnum), std::uint16_t{0}),
      Patched(offsetof(Elf64_Ehdr, e_shentsize), std::uint16_t{32}),
      Patched(offsetof(Elf64_Ehdr, e_shstrndx), std::uint16_t{0xFFFF}),
      Patched(shstr + offsetof(Elf64_Shdr, sh_size), std::uint64_t{~0ull}),
      Patched(shstr + offsetof(Elf64_Shdr, sh_offset), std::uint64_t{~0ull - 2}),
      Patched(v + offsetof(Elf64_Shdr, sh_size), std::uint64_t{~0ull}),
      Patched(v + offsetof(Elf64_Shdr, sh_size), std::uint64_t{100u << 20}),
      Patched(v + offsetof(Elf64_Shdr, sh_offset), std::uint64_t{image_.size() - 3}),
      Patched(v + offsetof(Elf64_Shdr, sh_type), std::uint32_t{SHT_NOBITS}),
      Patched(v + offsetof(Elf64_Shdr, sh_name), std::uint32_t{0xFFFFFFFF}),
      // the section cut just before the NUL that ends "FileVersion=2.10.3.1"
      Patched(v + offsetof(Elf64_Shdr, sh_size),
              std::uint64_t{std::strlen("FileVersion=2.10.3.1")}),
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(VersionOf(cases[i]), "") << i;
}

TEST_F(CorruptElf, EveryByteOfTheHeadersDamaged_NeverCrashes) {
  const std::size_t shstr = eh_.e_shoff + eh_.e_shstrndx * sizeof(Elf64_Shdr);
  for (std::size_t start : {std::size_t{0}, shstr, *versionHeader_}) {
    const std::size_t end = start + (start == 0 ? sizeof(Elf64_Ehdr) : sizeof(Elf64_Shdr));
    for (std::size_t i = start; i < end; ++i) {
      for (std::uint8_t b : {std::uint8_t{0x00}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
        const std::string got = VersionOf(Patched(i, b));
        EXPECT_TRUE(got.empty() || got == "2.10.3.1") << "byte " << i << " = " << int{b};
      }
    }
  }
}

// ---- file paths ------------------------------------------------------------------------------

TEST(ResolveFilePath, StoredPathsBecomeUsableOrEmpty) {
  TempDir exe;
  const std::string dir = exe.path().string();
  fs::create_directory(exe.path() / "snd");
  WriteAllText(exe.path() / "snd" / "cap.wav", "RIFF");
  fs::create_symlink("cap.wav", exe.path() / "snd" / "link.wav");
  fs::create_symlink("gone.wav", exe.path() / "snd" / "dangling.wav");
  struct Case {
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {"", ""},
      {dir + "/snd/cap.wav", dir + "/snd/cap.wav"},
      {dir + "/snd/none.wav", ""},
      {"snd/cap.wav", dir + "/snd/cap.wav"},
      {"snd/none.wav", ""},
      {"snd/link.wav", dir + "/snd/link.wav"},
      {"snd/dangling.wav", ""},
      {"snd", ""},
      {dir, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveFilePath(c.path, dir), c.expected) << c.path;
}

TEST(ExecutablePath, NamesThisTestProgram) {
  const std::string path = ExecutablePath();
  EXPECT_EQ(fs::path(path).filename(), "unit_tests");
  EXPECT_TRUE(fs::path(path).is_absolute());
  EXPECT_EQ(ExecutableDir() + "/unit_tests", path);
}

}  // namespace
}  // namespace lumivore
