// The autostart entry under a temporary XDG_CONFIG_HOME: where it goes, its
// Exec line for awkward program paths and shop names, written whole and
// removed, and a failed write leaving the old entry as it was.
#include "app/autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include "im/im_test_support.h"

namespace autodeliver {
namespace {

namespace t = autodeliver::testing;

constexpr char kId[] = "example.autodeliver.AutoDeliver";

// Sets an environment variable for the scope, putting the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string ExecLine(const std::string& entry) {
  const std::size_t at = entry.find("\nExec=");
  if (at == std::string::npos) return std::string();
  return entry.substr(at + 6, entry.find('\n', at + 1) - at - 6);
}

TEST(AutostartTest, FolderFollowsXdgConfigHomeOrTheHomeFolder) {
  ScopedEnv home("HOME", "/home/seller");
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/tmp/cfg");
    EXPECT_EQ(AutostartEntryPath(kId), std::string("/tmp/cfg/autostart/") + kId + ".desktop");
  }
  for (const char* unusable : {static_cast<const char*>(nullptr), "", "relative/cfg"}) {
    ScopedEnv config("XDG_CONFIG_HOME", unusable);
    EXPECT_EQ(AutostartFolder(), "/home/seller/.config/autostart") << (unusable ? unusable : "(unset)");
  }
}

TEST(AutostartTest, ExecNamesTheProgramAndItsShopQuotedAsTheDesktopReadsThem) {
  struct Case {
    const char* program;
    const char* shop;
    const char* exec;
  };
  const Case cases[] = {
      {"/usr/bin/autodeliver", "", "/usr/bin/autodeliver"},
      {"/usr/bin/autodeliver", "店铺A", "/usr/bin/autodeliver --shop 店铺A"},
      {"/opt/my apps/autodeliver", "", "\"/opt/my apps/autodeliver\""},
      {"/opt/a$b/autodeliver", "二 店", "\"/opt/a\\\\$b/autodeliver\" --shop \"二 店\""},
      {"/opt/q\"x/autodeliver", "", "\"/opt/q\\\\\"x/autodeliver\""},
      {"/opt/100%/autodeliver", "", "/opt/100%%/autodeliver"},
  };
  for (const Case& c : cases) {
    const std::string entry = AutostartEntry(kId, c.program, c.shop);
    EXPECT_EQ(ExecLine(entry), c.exec) << c.program << " / " << c.shop;
    EXPECT_EQ(entry.rfind("[Desktop Entry]\nType=Application\n", 0), 0u);
    EXPECT_NE(entry.find(std::string("\nIcon=") + kId + "\n"), std::string::npos);
  }
}

TEST(AutostartTest, WrittenWholeRemovedAndAFailedWriteKeepsTheOldEntry) {
  t::TempDir temp;
  ScopedEnv config("XDG_CONFIG_HOME", (temp.path() + "/config").c_str());
  const std::string path = temp.path() + "/config/autostart/" + kId + ".desktop";
  EXPECT_FALSE(AutostartEntryExists(kId));
  EXPECT_TRUE(RemoveAutostartEntry(kId));  // none there: nothing to do

  // The folder is made; the entry is the one AutostartEntry gives.
  ASSERT_TRUE(WriteAutostartEntry(kId, "/usr/bin/autodeliver", "店铺A"));
  EXPECT_TRUE(AutostartEntryExists(kId));
  EXPECT_EQ(t::ReadFileBytes(path), AutostartEntry(kId, "/usr/bin/autodeliver", "店铺A"));
  // Written again for another program: replaced, no temporary file left.
  ASSERT_TRUE(WriteAutostartEntry(kId, "/opt/autodeliver/bin/autodeliver", ""));
  EXPECT_EQ(t::ReadFileBytes(path), AutostartEntry(kId, "/opt/autodeliver/bin/autodeliver", ""));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path() + "/config/autostart"),
                          std::filesystem::directory_iterator()),
            1);

  // The temporary file cannot be made (a folder stands in its place), or a
  // line break would split Exec: false, and the entry is as it was.
  std::filesystem::create_directory(path + ".tmp");
  EXPECT_FALSE(WriteAutostartEntry(kId, "/usr/bin/other", ""));
  std::filesystem::remove(path + ".tmp");
  EXPECT_FALSE(WriteAutostartEntry(kId, "/usr/bin/auto\ndeliver", ""));
  EXPECT_FALSE(WriteAutostartEntry(kId, "/usr/bin/autodeliver", "a\rb"));
  EXPECT_EQ(t::ReadFileBytes(path), AutostartEntry(kId, "/opt/autodeliver/bin/autodeliver", ""));

  ASSERT_TRUE(RemoveAutostartEntry(kId));
  EXPECT_FALSE(std::filesystem::exists(path));

  // The config folder is a file: nothing can be written.
  t::WriteFile(temp.path() + "/file", "x");
  ScopedEnv blocked("XDG_CONFIG_HOME", (temp.path() + "/file").c_str());
  EXPECT_FALSE(WriteAutostartEntry(kId, "/usr/bin/autodeliver", ""));
}

}  // namespace
}  // namespace autodeliver
