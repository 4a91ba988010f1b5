// The kept login profile's folder and its setting.
#include "app/login_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "store/table_schema.h"

namespace autodeliver {
namespace {

namespace fs = std::filesystem;

class LoginProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/login-profile-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_TRUE(CreateDataTables(dir_));
    SetProgramDir(dir_);
  }
  void TearDown() override {
    SetProgramDir("");
    fs::remove_all(dir_);
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  }
  std::string dir_;
};

TEST_F(LoginProfileTest, TheFolderIsTheOwnersAloneAndNothingElseStandsInItsPlace) {
  const std::string folder = LoginProfileFolder();
  EXPECT_EQ(folder, ProgramShop().DataDir() + "/browser");
  // Made 0700 whatever the umask, an existing wider one narrowed.
  const mode_t old = ::umask(0);
  EXPECT_TRUE(PrepareLoginProfileFolder());
  ::umask(old);
  EXPECT_EQ(ModeOf(folder), 0700u);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  EXPECT_TRUE(PrepareLoginProfileFolder());
  EXPECT_EQ(ModeOf(folder), 0700u);

  // A file or a symbolic link in its place is refused, never followed.
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link);
    fs::remove_all(folder);
    if (link) {
      fs::create_directory(dir_ + "/elsewhere");
      ASSERT_EQ(::chmod((dir_ + "/elsewhere").c_str(), 0755), 0);
      fs::create_directory_symlink(dir_ + "/elsewhere", folder);
    } else {
      std::ofstream(folder) << "x";
    }
    std::string problem;
    EXPECT_FALSE(PrepareLoginProfileFolder(&problem));
    EXPECT_FALSE(problem.empty());
  }
  // The link's target was left as it was.
  EXPECT_EQ(ModeOf(dir_ + "/elsewhere"), 0755u);
}

TEST_F(LoginProfileTest, TurningItOffRemovesTheProfileAndIsKept) {
  EXPECT_TRUE(KeepLoginWanted());  // no row: kept
  ASSERT_TRUE(PrepareLoginProfileFolder());
  std::ofstream(LoginProfileFolder() + "/Cookies") << "remember";
  ASSERT_TRUE(SetKeepLogin(false));
  EXPECT_FALSE(KeepLoginWanted());
  EXPECT_FALSE(fs::exists(LoginProfileFolder()));
  ASSERT_TRUE(SetKeepLogin(true));
  EXPECT_TRUE(KeepLoginWanted());
}

}  // namespace
}  // namespace autodeliver
