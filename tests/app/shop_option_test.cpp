// The shop options on the program's command line.
#include "app/shop_option.h"

#include <gtest/gtest.h>

#include <vector>

namespace autodeliver {
namespace {

TEST(ShopOption, TakesOneValidShopAndLeavesTheRestToQt) {
  struct Case {
    std::vector<const char*> args;
    const char* name;
    bool choose;
    bool error;
  } cases[] = {
      {{}, "", false, false},
      {{"-platform", "offscreen", "--shop", "二店"}, "二店", false, false},
      {{"--shop=一店"}, "一店", false, false},
      {{"--shop=一店", "--shop", "一店"}, "一店", false, false},
      {{"--choose-shop"}, "", true, false},
      {{"--shop"}, "", false, true},
      {{"--shop", "../x"}, "", false, true},
      {{"--shop="}, "", false, true},
      {{"--shop=一店", "--shop=二店"}, "一店", false, true},
      {{"--shop=一店", "--choose-shop"}, "一店", true, true},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"autodeliver"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ShopOption o = ParseShopOption(static_cast<int>(argv.size()), argv.data());
    const std::string line = argv.size() > 1 ? argv.back() : "(none)";
    EXPECT_EQ(!o.error.empty(), c.error) << line << ": " << o.error;
    if (!c.error) {
      EXPECT_EQ(o.name, c.name) << line;
      EXPECT_EQ(o.choose, c.choose) << line;
    }
  }
}

}  // namespace
}  // namespace autodeliver
