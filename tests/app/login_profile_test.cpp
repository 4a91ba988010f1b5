// The kept login profile's folder and its setting.
#include "app/login_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "store/shop_context.h"
#include "support/shop_folder.h"

namespace autodeliver {
namespace {

namespace fs = std::filesystem;

class LoginProfileTest : public testing::ShopTest {
 protected:
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  }
  const std::string dir_ = shop_.path();
};

TEST_F(LoginProfileTest, TheFolderIsTheOwnersAloneAndNothingElseStandsInItsPlace) {
  const std::string folder = LoginProfileFolder(shop());
  EXPECT_EQ(folder, shop().DataDir() + "/browser");
  // Made 0700 whatever the umask, an existing wider one narrowed.
  const mode_t old = ::umask(0);
  EXPECT_TRUE(PrepareLoginProfileFolder(shop()));
  ::umask(old);
  EXPECT_EQ(ModeOf(folder), 0700u);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  EXPECT_TRUE(PrepareLoginProfileFolder(shop()));
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
    EXPECT_FALSE(PrepareLoginProfileFolder(shop(), &problem));
    EXPECT_FALSE(problem.empty());
  }
  // The link's target was left as it was.
  EXPECT_EQ(ModeOf(dir_ + "/elsewhere"), 0755u);
}

TEST_F(LoginProfileTest, TurningItOffRemovesTheProfileAndIsKept) {
  EXPECT_TRUE(KeepLoginWanted(shop()));  // no row: kept
  ASSERT_TRUE(PrepareLoginProfileFolder(shop()));
  std::ofstream(LoginProfileFolder(shop()) + "/Cookies") << "remember";
  ASSERT_TRUE(SetKeepLogin(shop(), false));
  EXPECT_FALSE(KeepLoginWanted(shop()));
  EXPECT_FALSE(fs::exists(LoginProfileFolder(shop())));
  ASSERT_TRUE(SetKeepLogin(shop(), true));
  EXPECT_TRUE(KeepLoginWanted(shop()));
}

}  // namespace
}  // namespace autodeliver
