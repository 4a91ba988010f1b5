// The delivery side's IM sender: the client's program path comes from the
// settings table, read anew for every message, and is handed to the IM
// bridge. Stand-in "clients" are scripts that append their name and
// arguments to a log; the window system is a fake that never finds a chat
// window, so each send gives up after a short bound.
#include "delivery/message_sender.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "store/settings.h"
#include "store/shop_paths.h"
#include "store/table_schema.h"
#include "support/shop_folder.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

class NoChatWindows : public WindowSystem {
 public:
  WindowId FindTopLevel(const std::string& className, const std::string& title) override {
    searched.push_back(className + " " + title);
    return 0;
  }
  WindowId Related(WindowId, WindowRelation) override { return 0; }
  bool SetText(WindowId, const std::string&) override { return true; }
  bool PressEnter(WindowId) override { return true; }
  bool Close(WindowId) override { return true; }

  std::vector<std::string> searched;
};

class ImMessageSenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shop_.ok()) << shop_.error();
    log_ = (dir_ / "started.log").string();
  }
  // A stand-in client named `name` that logs "name arguments..." and ends.
  std::string Client(const std::string& name) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> '" << log_ << "'\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }

  std::string Log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static ImSendBounds ShortBounds() {
    ImSendBounds bounds;
    bounds.programWait = std::chrono::seconds(10);
    bounds.searchTimeout = std::chrono::milliseconds(30);
    bounds.searchPause = std::chrono::milliseconds(10);
    return bounds;
  }

  ShopContext& shop() { return shop_.context(); }

  testing::ShopFolder shop_;
  std::filesystem::path dir_ = shop_.path();
  std::string log_;
};

TEST_F(ImMessageSenderTest, StartsTheStoredClientReadAnewForEveryMessage) {
  NoChatWindows windows;
  ImMessageSender sender(shop(), ShortBounds(), &windows);

  // Nothing stored: nothing is started, the chat window is still looked for.
  EXPECT_FALSE(sender.Send("店铺A"_gbk, "买家B"_gbk, "x"));
  EXPECT_EQ(Log(), "");
  ASSERT_FALSE(windows.searched.empty());
  EXPECT_EQ(windows.searched.front(), "StandardFrame " + "买家B - 店铺A"_gbk);

  ASSERT_TRUE(SetSetting(shop(), ImClientPathSetting(), Client("first")));
  EXPECT_FALSE(sender.Send("店铺A"_gbk, "买家B"_gbk, "x"));
  // A path stored between two messages is used from the next one on.
  ASSERT_TRUE(SetSetting(shop(), ImClientPathSetting(), Client("second")));
  EXPECT_FALSE(sender.Send("店铺A"_gbk, "买家C"_gbk, "x"));

  EXPECT_EQ(Log(),
            "first aliim:sendmsg?uid=cntaobao店铺A&touid=cntaobao买家B\n"
            "second aliim:sendmsg?uid=cntaobao店铺A&touid=cntaobao买家C\n");
}

}  // namespace
}  // namespace autodeliver
