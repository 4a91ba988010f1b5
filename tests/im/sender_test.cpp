// The sender's sequence over a fake window system: the walk to the input
// box, the order of the window operations, and what happens when the client
// does not take the text or the tree is not the expected one.
#include <gtest/gtest.h>

#include <map>

#include "im/im_sender.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

class FakeWindows : public WindowSystem {
 public:
  // A chat window 1 whose input box 32 sits where the walk ends; every
  // other window is a decoy the walk must pass by.
  void AddChatWindow(const std::string& title, int frameChildren = 7) {
    topLevels_[title] = 1;
    for (int i = 0; i < frameChildren; ++i) Add(1, 10 + i);
    Add(16, 20);
    Add(16, 21);
    Add(21, 30);
    Add(21, 31);
    Add(21, 32);
  }

  WindowId FindTopLevel(const std::string& className, const std::string& title) override {
    if (className != "StandardFrame") return 0;
    auto it = topLevels_.find(title);
    return it == topLevels_.end() ? 0 : it->second;
  }
  WindowId Related(WindowId window, WindowRelation relation) override {
    if (relation == WindowRelation::kFirstChild) {
      auto it = children_.find(window);
      return it == children_.end() || it->second.empty() ? 0 : it->second.front();
    }
    auto parent = parent_.find(window);
    if (parent == parent_.end()) return 0;
    const std::vector<WindowId>& siblings = children_[parent->second];
    for (size_t i = 0; i + 1 < siblings.size(); ++i) {
      if (siblings[i] == window) return siblings[i + 1];
    }
    return 0;
  }
  bool SetText(WindowId window, const std::string& text) override {
    log.push_back("SetText " + std::to_string(window) + " " + text);
    return takesText;
  }
  bool PressEnter(WindowId window) override {
    log.push_back("Enter " + std::to_string(window));
    return true;
  }
  bool Close(WindowId window) override {
    log.push_back("Close " + std::to_string(window));
    return true;
  }

  std::vector<std::string> log;
  bool takesText = true;

 private:
  void Add(WindowId parent, WindowId child) {
    children_[parent].push_back(child);
    parent_[child] = parent;
  }
  std::map<std::string, WindowId> topLevels_;
  std::map<WindowId, std::vector<WindowId>> children_;
  std::map<WindowId, WindowId> parent_;
};

ImSendOptions FakeOptions(FakeWindows& windows) {
  ImSendOptions options("");  // nothing to start
  options.windows = &windows;
  options.bounds.searchTimeout = std::chrono::milliseconds(200);
  options.bounds.searchPause = std::chrono::milliseconds(20);
  return options;
}

TEST(ImSenderSequenceTest, SetsTextAndPressesEnterInTheInputBoxThenClosesTheChat) {
  FakeWindows windows;
  windows.AddChatWindow("买家B - 店铺A"_gbk);
  EXPECT_TRUE(SendImMessage("店铺A"_gbk, "买家B"_gbk, "x\r\ny", FakeOptions(windows)));
  EXPECT_EQ(windows.log, (std::vector<std::string>{"SetText 32 x\r\ny", "Enter 32", "Close 1"}));
}

TEST(ImSenderSequenceTest, TextNotTakenIsNeverSentButTheChatIsClosed) {
  FakeWindows windows;
  windows.AddChatWindow("买家B - 店铺A"_gbk);
  windows.takesText = false;
  EXPECT_FALSE(SendImMessage("店铺A"_gbk, "买家B"_gbk, "x", FakeOptions(windows)));
  EXPECT_EQ(windows.log, (std::vector<std::string>{"SetText 32 x", "Close 1"}));
}

TEST(ImSenderSequenceTest, ATreeWhereTheWalkEndsNowhereSendsNothing) {
  FakeWindows windows;
  windows.AddChatWindow("买家B - 店铺A"_gbk, /*frameChildren=*/6);
  EXPECT_FALSE(SendImMessage("店铺A"_gbk, "买家B"_gbk, "x", FakeOptions(windows)));
  EXPECT_TRUE(windows.log.empty());
}

}  // namespace
}  // namespace autodeliver
