// The single-instance marker: one copy per user and display, whatever the
// spelling of the display or the temporary folders of the environment.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/SingleInstance.h"

namespace lumivore {
namespace {

TEST(SingleInstanceDisplayKey, SpellingsOfOneDisplay_GiveOneKey) {
  char self[256] = {};
  gethostname(self, sizeof self - 1);
  const struct {
    std::string display;
    std::string key;
  } cases[] = {
      {":0", "local:0"},
      {":0.0", "local:0"},
      {":0.1", "local:0"},
      {"unix:0", "local:0"},
      {"unix:0.0", "local:0"},
      {"localhost:0", "local:0"},
      {std::string(self) + ":0", "local:0"},
      {":12", "local:12"},
      {"otherhost:10.0", "otherhost:10"},
      {"otherhost:10", "otherhost:10"},
      {"", ""},
      {"nonsense", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SingleInstance::DisplayKey(c.display), c.key) << c.display;
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SingleInstance, SecondMarker_OnAnySpellingOrTempFolder_IsRefused) {
  const std::string name = "LumivoreTest-" + std::to_string(getpid());
  {
    SingleInstance first(name, ":7");
    ASSERT_TRUE(first.acquired());
    EXPECT_EQ(first.path().rfind(SingleInstance::Folder() + "/", 0), 0u) << first.path();
    // The folder is the user's own and closed to others.
    struct stat st;
    ASSERT_EQ(stat(SingleInstance::Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, getuid());
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ScopedEnv tmp("TMPDIR", "/nonexistent-elsewhere");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/nonexistent-elsewhere");
    for (const char* spelling : {":7", ":7.0", "unix:7", "unix:7.1"}) {
      SingleInstance second(name, spelling);
      EXPECT_FALSE(second.acquired()) << spelling;
    }
    SingleInstance otherDisplay(name, ":8");
    EXPECT_TRUE(otherDisplay.acquired());
    std::remove(otherDisplay.path().c_str());
    std::remove(first.path().c_str());
  }
  // Once the first is gone, a new one runs.
  SingleInstance again(name, ":7.0");
  EXPECT_TRUE(again.acquired());
  std::remove(again.path().c_str());
}

}  // namespace
}  // namespace lumivore
