#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/SettingsLocation.h"
#include "tests/OrdinaryUser.h"
#include "tests/unit/TestFiles.h"

namespace lumivore {
namespace {

namespace fs = std::filesystem;

using testutil::TempDir;
using testutil::WriteAllText;

// Sets an environment variable (or unsets it, for nullopt) for one test.
class EnvGuard {
 public:
  EnvGuard(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvGuard() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Folders the ordinary user should write are made writable for everyone
// (0777), others 0555.
SettingsLocation LocateAsOrdinaryUser(const std::string& exe) {
  const std::optional<std::string> text = testutil::AsOrdinaryUser([&] {
    const SettingsLocation l = LocateSettings(exe);
    return l.folder + '\n' + l.iniFile + '\n' + l.helpFile + '\n';
  });
  EXPECT_TRUE(text) << "the check as an ordinary user did not finish";
  if (!text) return {};
  SettingsLocation l;
  std::size_t a = text->find('\n'), b = text->find('\n', a + 1);
  if (a == std::string::npos || b == std::string::npos) return {};
  l.folder = text->substr(0, a);
  l.iniFile = text->substr(a + 1, b - a - 1);
  l.helpFile = text->substr(b + 1, text->size() - b - 2);
  return l;
}

class SettingsLocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The ordinary user must reach the folders below the test's own.
    fs::permissions(tmp_.path(), fs::perms(0755));
    fs::create_directories(program());
    fs::create_directories(config());
    fs::permissions(config(), fs::perms(0777));
  }
  void TearDown() override {
    // Restore write access so the temp folder can be removed by its owner.
    std::error_code ec;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(tmp_.path(), ec))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }

  fs::path program() const { return tmp_.path() / "opt" / "lumivore"; }
  fs::path config() const { return tmp_.path() / "config"; }

  TempDir tmp_;
};

TEST_F(SettingsLocationTest, BesideTheExecutableOnlyWhenThatFileCanBeWritten) {
  const EnvGuard xdg("XDG_CONFIG_HOME", config().string());
  const fs::path xdgIni = config() / "lumivore" / "lumivore.INI";
  struct Case {
    const char* what;
    unsigned folderMode;
    std::optional<unsigned> iniMode;  // nullopt: no file yet
    bool beside;
  };
  const Case cases[] = {
      {"no file, writable folder", 0777, std::nullopt, true},
      {"writable file, writable folder", 0777, 0666, true},
      {"read-only file, writable folder", 0777, 0444, false},
      {"no file, read-only folder", 0555, std::nullopt, false},
      // The file is replaced through a temporary file beside it, which this folder refuses.
      {"writable file, read-only folder", 0555, 0666, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::permissions(program(), fs::perms(0777));
    fs::remove(program() / "lumivore.INI");
    if (c.iniMode) {
      WriteAllText(program() / "lumivore.INI", "[General]\n");
      fs::permissions(program() / "lumivore.INI", fs::perms(*c.iniMode));
    }
    fs::permissions(program(), fs::perms(c.folderMode));

    const SettingsLocation l = LocateAsOrdinaryUser((program() / "lumivore").string());
    const fs::path folder = c.beside ? program() : config() / "lumivore";
    EXPECT_EQ(l.folder, folder.string());
    EXPECT_EQ(l.iniFile, (folder / "lumivore.INI").string());
    EXPECT_EQ(l.helpFile, (folder / "lumivore.CHM").string());
    EXPECT_EQ(fs::exists(config() / "lumivore"), !c.beside) << "made only when chosen";
    fs::remove_all(config() / "lumivore");
  }
}

// Root may write into /usr/bin, yet an installed copy run by root keeps its
// settings in root's own folder, like any other user's.
TEST_F(SettingsLocationTest, InstalledCopy_NeverBesideItEvenForRoot) {
  const EnvGuard xdg("XDG_CONFIG_HOME", config().string());
  for (const char* exe : {"/usr/bin/lumivore", "/usr/local/bin/lumivore", "/bin/lumivore",
                          "/usr/lib/lumivore/../../bin/lumivore"}) {
    SCOPED_TRACE(exe);
    const SettingsLocation l = LocateSettings(exe);
    EXPECT_EQ(l.iniFile, (config() / "lumivore" / "lumivore.INI").string());
    EXPECT_FALSE(fs::exists(fs::path(exe).parent_path() / "lumivore.INI"));
  }
  // A folder of the program's own elsewhere keeps it beside, for root too.
  fs::permissions(program(), fs::perms(0777));
  const fs::path usrLike = tmp_.path() / "usrlocal";
  fs::create_directories(usrLike);
  EXPECT_EQ(LocateSettings((usrLike / "lumivore").string()).iniFile,
            (usrLike / "lumivore.INI").string());
}

TEST_F(SettingsLocationTest, BesideTheExecutable_NamedAfterIt) {
  fs::permissions(program(), fs::perms(0777));
  const SettingsLocation l = LocateAsOrdinaryUser((program() / "snap.shot").string());
  EXPECT_EQ(l.iniFile, (program() / "snap.INI").string());
  EXPECT_EQ(l.helpFile, (program() / "snap.CHM").string());
}

TEST_F(SettingsLocationTest, UserConfigFolder_FromXdgConfigHomeOrHome_MadePrivate) {
  fs::permissions(program(), fs::perms(0555));
  const fs::path home = tmp_.path() / "home";
  fs::create_directories(home);
  fs::permissions(home, fs::perms(0777));
  const EnvGuard homeVar("HOME", home.string());
  struct Case {
    std::optional<std::string> xdg;
    fs::path expected;
  };
  const Case cases[] = {
      {config().string(), config() / "lumivore"},
      // Deeper folders that do not exist yet are made as well.
      {(config() / "a" / "b").string(), config() / "a" / "b" / "lumivore"},
      {std::nullopt, home / ".config" / "lumivore"},
      {"", home / ".config" / "lumivore"},
      // A relative XDG_CONFIG_HOME is ignored.
      {"relative/config", home / ".config" / "lumivore"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xdg.value_or("(unset)"));
    const EnvGuard xdg("XDG_CONFIG_HOME", c.xdg);
    const SettingsLocation l = LocateAsOrdinaryUser((program() / "lumivore").string());
    EXPECT_EQ(l.folder, c.expected.string());
    EXPECT_EQ(l.iniFile, (c.expected / "lumivore.INI").string());
    struct stat st;
    ASSERT_EQ(::stat(c.expected.c_str(), &st), 0) << "the folder is made at once";
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(fs::exists(c.expected / "lumivore.INI")) << "the file waits for a write";
  }
}

}  // namespace
}  // namespace lumivore
