// The IM client's command line, the chat title, and the Windows rules for
// splitting a command line into a program and its arguments.
#include <gtest/gtest.h>

#include "im/im_sender.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

TEST(ImCommandLineTest, InsertsNicksAsTheyAreAfterOneSpace) {
  EXPECT_EQ(ImCommandLine("C:\\AliWangWang\\AliIM.exe", "店铺A"_gbk, "买家B"_gbk),
            "C:\\AliWangWang\\AliIM.exe aliim:sendmsg?uid=cntaobao店铺A&touid=cntaobao买家B"_gbk);
  EXPECT_EQ(ImChatTitle("店铺A"_gbk, "买家B"_gbk), "买家B - 店铺A"_gbk);
}

struct SplitCase {
  const char* commandLine;
  std::vector<std::string> pieces;
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.commandLine; }

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsAsWindowsDoes) {
  EXPECT_EQ(SplitCommandLine(GetParam().commandLine), GetParam().pieces) << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineTest,
    ::testing::Values(SplitCase{"", {}},
                      SplitCase{"C:\\Ali\\AliIM.exe aliim:sendmsg?uid=cntaobaoA&touid=cntaobaoB",
                                {"C:\\Ali\\AliIM.exe", "aliim:sendmsg?uid=cntaobaoA&touid=cntaobaoB"}},
                      // The program name: quotes removed, backslashes plain, even before a quote.
                      SplitCase{"\"C:\\Program Files\\Ali\\\" x", {"C:\\Program Files\\Ali\\", "x"}},
                      SplitCase{"\"a b\"c d", {"a bc", "d"}},
                      // Arguments: white space, quotes, doubled quotes and backslash runs.
                      SplitCase{"p  a\tb ", {"p", "a", "b"}}, SplitCase{"p \"a b\" c", {"p", "a b", "c"}},
                      SplitCase{"p \"\"", {"p", ""}}, SplitCase{"p \"a\"\"b\"", {"p", "a\"b"}},
                      SplitCase{"p a\\\\\\\"b", {"p", "a\\\"b"}},
                      SplitCase{"p a\\\\\"b c\"", {"p", "a\\b c"}},
                      SplitCase{"p a\\b\\\\c", {"p", "a\\b\\\\c"}},
                      // A quoted path cut at its first space, as a stored path may be.
                      SplitCase{"\"C:\\Program aliim:sendmsg?uid=cntaobaoA",
                                {"C:\\Program aliim:sendmsg?uid=cntaobaoA"}}));

}  // namespace
}  // namespace autodeliver
