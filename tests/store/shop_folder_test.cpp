// Making the data folder ready: where it is, the first start's copy of the
// template with owner-only modes, later starts that keep the shop's files,
// a copy cut short, a folder held by another copy, and portable folders
// used as they are.
#include "store/shop_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "store/shop_paths.h"
#include "support/temp_dir.h"
#include "table_files.h"

namespace autodeliver {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFu;
}

// A template like the installed one: data/ with tables and their companion
// files, and card.mdb.
class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteFileBytes(base_ / "template/data/配置.edb", "settings table");
    testing::WriteFileBytes(base_ / "template/data/配置.edt", "settings blocks");
    testing::WriteFileBytes(base_ / "template/data/库存卡密.edb", "stock table");
    testing::WriteFileBytes(base_ / "template/card.mdb", "card database");
    templateDir_ = base_ / "template";
    // The modes must not depend on the umask the program was started with.
    oldMask_ = ::umask(0);
  }
  void TearDown() override { ::umask(oldMask_); }

  void ExpectTemplateCopy(const std::string& folder) {
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(folder + "/data"), 0700u);
    for (const char* name : {"data/配置.edb", "data/配置.edt", "data/库存卡密.edb", "card.mdb"}) {
      EXPECT_EQ(testing::ReadFileBytes(folder + "/" + name),
                testing::ReadFileBytes(templateDir_ + "/" + name))
          << name;
      EXPECT_EQ(ModeOf(folder + "/" + name), 0600u) << name;
    }
  }

  testing::TempDir base_;
  std::string templateDir_;
  mode_t oldMask_ = 0;
};

TEST_F(DataFolderTest, TheFirstStartCopiesTheTemplateForItsOwnerOnly) {
  const std::string folder = base_ / "home/.local/share/autodeliver";
  InstanceLock lock;
  DataFolderOpening r = OpenDataFolderAt(folder, templateDir_, lock);
  ASSERT_EQ(r.status, DataFolderOpening::Status::kReady) << r.problem;
  EXPECT_TRUE(r.problem.empty());
  EXPECT_TRUE(lock.held());
  ExpectTemplateCopy(folder);
  // Parent folders made on the way are private too.
  EXPECT_EQ(ModeOf(base_ / "home/.local/share"), 0700u);
  // Nothing but the copy and the lock file.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"autodeliver.lock", "card.mdb", "data"}));
}

TEST_F(DataFolderTest, LaterStartsKeepTheShopsFilesAndAddOnlyMissingEntries) {
  const std::string folder = base_ / "shop";
  testing::WriteFileBytes(folder + "/data/配置.edb", "the shop's settings");
  testing::WriteFileBytes(folder + "/update.ini", "[update]");
  ::chmod(folder.c_str(), 0755);
  InstanceLock lock;
  DataFolderOpening r = OpenDataFolderAt(folder, templateDir_, lock);
  ASSERT_EQ(r.status, DataFolderOpening::Status::kReady) << r.problem;
  EXPECT_EQ(testing::ReadFileBytes(folder + "/data/配置.edb"), "the shop's settings");
  // data/ exists, so nothing is put into it; card.mdb was missing.
  EXPECT_FALSE(fs::exists(folder + "/data/库存卡密.edb"));
  EXPECT_EQ(testing::ReadFileBytes(folder + "/card.mdb"), "card database");
  EXPECT_EQ(ModeOf(folder + "/card.mdb"), 0600u);
  EXPECT_EQ(testing::ReadFileBytes(folder + "/update.ini"), "[update]");
  EXPECT_EQ(ModeOf(folder), 0700u) << "an installed folder is made private again";
}

TEST_F(DataFolderTest, ACopyCutShortIsMadeAnew) {
  const std::string folder = base_ / "shop";
  // A start that died while copying data/ left the partial copy.
  testing::WriteFileBytes(folder + "/.autodeliver-copy-data/配置.edb", "half a tab");
  InstanceLock lock;
  DataFolderOpening r = OpenDataFolderAt(folder, templateDir_, lock);
  ASSERT_EQ(r.status, DataFolderOpening::Status::kReady) << r.problem;
  ExpectTemplateCopy(folder);
  EXPECT_FALSE(fs::exists(folder + "/.autodeliver-copy-data"));
}

TEST_F(DataFolderTest, AFolderHeldByAnotherCopyIsLeftAlone) {
  const std::string folder = base_ / "shop";
  InstanceLock first;
  ASSERT_EQ(OpenDataFolderAt(folder, templateDir_, first).status, DataFolderOpening::Status::kReady);
  fs::remove(folder + "/card.mdb");

  InstanceLock second;
  DataFolderOpening r = OpenDataFolderAt(folder, templateDir_, second);
  EXPECT_EQ(r.status, DataFolderOpening::Status::kInUse);
  EXPECT_EQ(r.holderPid, static_cast<long>(::getpid()));
  EXPECT_FALSE(second.held());
  EXPECT_FALSE(fs::exists(folder + "/card.mdb")) << "a refused start copies nothing";
}

TEST_F(DataFolderTest, AnInstalledFolderThatCannotBeMadeFails) {
  testing::WriteFileBytes(base_ / "file", "not a folder");
  InstanceLock lock;
  DataFolderOpening r = OpenDataFolderAt(base_ / "file/autodeliver", templateDir_, lock);
  EXPECT_EQ(r.status, DataFolderOpening::Status::kFailed);
  EXPECT_FALSE(r.problem.empty());
  EXPECT_FALSE(lock.held());
}

TEST_F(DataFolderTest, APortableFolderIsUsedAsItIs) {
  const std::string folder = base_ / "portable";
  fs::create_directories(folder);
  ::chmod(folder.c_str(), 0755);
  InstanceLock lock;
  DataFolderOpening r = OpenDataFolderAt(folder, "", lock);
  ASSERT_EQ(r.status, DataFolderOpening::Status::kReady);
  EXPECT_TRUE(lock.held());
  EXPECT_FALSE(fs::exists(folder + "/data"));
  EXPECT_EQ(ModeOf(folder), 0755u);

  // A portable folder that does not exist: the program runs as before,
  // without the guard, and says why.
  InstanceLock none;
  r = OpenDataFolderAt(base_ / "nowhere", "", none);
  EXPECT_EQ(r.status, DataFolderOpening::Status::kReady);
  EXPECT_FALSE(none.held());
  EXPECT_FALSE(r.problem.empty());
  EXPECT_FALSE(fs::exists(base_ / "nowhere"));
}

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(DataPaths, TheUserDataFolderFollowsTheXdgRules) {
  struct Case {
    const char* xdgDataHome;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/srv/data", "/home/seller", "/srv/data/autodeliver"},
      {"/srv/data/", "/home/seller", "/srv/data/autodeliver"},
      {nullptr, "/home/seller", "/home/seller/.local/share/autodeliver"},
      {"", "/home/seller/", "/home/seller/.local/share/autodeliver"},
      {"relative/data", "/home/seller", "/home/seller/.local/share/autodeliver"},
  };
  for (const Case& c : cases) {
    EnvGuard env;
    env.Set("XDG_DATA_HOME", c.xdgDataHome);
    env.Set("HOME", c.home);
    EXPECT_EQ(UserDataFolder(), c.expected) << (c.xdgDataHome ? c.xdgDataHome : "(unset)");
  }
}

TEST(DataPaths, TheProgramDirectoryComesFromTheEnvironmentOrTheExecutable) {
  EnvGuard env;
  env.Set("AUTODELIVER_DIR", nullptr);
  // A test binary runs from the build tree: no installed template beside it.
  EXPECT_EQ(CurrentProgramDirSource(), ProgramDirSource::kExecutable);
  EXPECT_TRUE(InstalledTemplateDir().empty());
  EXPECT_EQ(ProgramDir(), fs::canonical("/proc/self/exe").parent_path().string());

  env.Set("AUTODELIVER_DIR", "/srv/shop/");
  EXPECT_EQ(CurrentProgramDirSource(), ProgramDirSource::kEnvironment);
  EXPECT_EQ(ProgramDir(), "/srv/shop");
}

TEST(Shops, ANameIsOneFolderNameOfWholeUtf8Text) {
  for (const char* good : {"二店", "shop 2", "a.b", "店-3_x"}) EXPECT_TRUE(IsValidShopName(good)) << good;
  const std::string tooLong(65, 'a');
  for (const std::string& bad :
       {std::string(), std::string("."), std::string(".."), std::string(".hidden"), std::string("a/b"),
        std::string(" a"), std::string("a "), std::string("a\nb"), std::string("\xb6\xfe\xb5\xea"), tooLong})
    EXPECT_FALSE(IsValidShopName(bad)) << bad;
}

TEST(Shops, EachShopHasItsOwnFolderAndLockBesideTheDefaultOne) {
  testing::TempDir base;
  EnvGuard env;
  env.Set("XDG_DATA_HOME", base.path().c_str());
  env.Set("AUTODELIVER_DIR", "/srv/portable");
  EXPECT_TRUE(ListShops().empty());

  SetShop("一店");
  // A shop wins over the portable folder: it was asked for by name.
  EXPECT_EQ(CurrentProgramDirSource(), ProgramDirSource::kShop);
  EXPECT_EQ(ProgramDir(), base.path() + "/autodeliver/shops/一店");
  InstanceLock first, again, other;
  const DataFolderOpening one = OpenDataFolder(first);
  ASSERT_EQ(one.status, DataFolderOpening::Status::kReady) << one.problem;
  EXPECT_TRUE(first.held());
  EXPECT_EQ(fs::status(one.folder).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(OpenDataFolder(again).status, DataFolderOpening::Status::kInUse);

  SetShop("二店");
  const DataFolderOpening two = OpenDataFolder(other);
  EXPECT_EQ(two.status, DataFolderOpening::Status::kReady) << two.problem;
  EXPECT_NE(two.folder, one.folder);

  fs::create_directories(base.path() + "/autodeliver/shops/.partial");
  testing::WriteFileBytes(base.path() + "/autodeliver/shops/notes.txt", "x");
  EXPECT_EQ(ListShops(), (std::vector<std::string>{"一店", "二店"}));

  SetShop("");
  EXPECT_EQ(CurrentProgramDirSource(), ProgramDirSource::kEnvironment);
  EXPECT_EQ(ProgramDir(), "/srv/portable");
}

}  // namespace
}  // namespace autodeliver
