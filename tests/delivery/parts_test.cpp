// The buyer's message, online-card recognition and the consign form body.
#include <gtest/gtest.h>

#include "delivery/card_delivery.h"
#include "delivery/consign.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

TEST(DeliveryMessageTest, HeaderThenOneLinePerCard) {
  EXPECT_EQ(DeliveryMessage("Q币卡 10元"_gbk, {}), "您购买的 Q币卡 10元 卡号信息如下\r\n\r\n"_gbk);
  EXPECT_EQ(DeliveryMessage("点卡"_gbk, {{"A001", "9x7"}, {"A002", "0"}}),
            "您购买的 点卡 卡号信息如下\r\n\r\n卡号：A001 卡密：9x7\r\n卡号：A002 卡密：0\r\n"_gbk);
}

TEST(DeliveryMessageTest, OnlineCardsAreThoseHoldingHttpInAnyCase) {
  struct Case {
    const char* number;
    bool online;
  } cases[] = {{"http://h/card/1", true},   {"HTTP://h/x", true}, {"xx Http://h", true},
               {"https://h/card/1", false}, {"A001", false},      {"http:/h", false}};
  for (const Case& c : cases) EXPECT_EQ(IsOnlineCard(c.number), c.online) << c.number;
}

TEST(ConsignTest, FormBodyCarriesTheMemoPlaceholderInGbk) {
  const std::string& body = ConsignFormBody();
  const std::string prefix =
      "source=&callUrl=&action=user%2Fconsign_action&event_submit_do_dummy=anything&_fmw.n._0.g=";
  ASSERT_EQ(body.rfind(prefix, 0), 0u);
  // Decoding the memo gives the placeholder sentence.
  std::string memo;
  for (std::size_t i = prefix.size(); i + 2 < body.size() + 1; i += 3) {
    ASSERT_EQ(body[i], '%');
    memo += static_cast<char>(std::stoi(body.substr(i + 1, 2), nullptr, 16));
  }
  EXPECT_EQ(memo, "您可以在此输入备忘信息（仅卖家自己可见）。"_gbk);
}

}  // namespace
}  // namespace autodeliver
