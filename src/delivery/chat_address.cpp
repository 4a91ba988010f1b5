// Nicks that can address a chat; see chat_address.h.
#include "delivery/chat_address.h"

#include <algorithm>

#include "text/gbk.h"

namespace autodeliver {

bool IsPassableChatNick(std::string_view nick) {
  if (nick.empty()) return false;
  // None of these bytes can be the trail byte of a double-byte character
  // (trail bytes are 0x40 and above), so a byte scan finds only real ones.
  const bool unsafeByte = std::any_of(nick.begin(), nick.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F || c == '"' || c == '\'' || c == '&' || c == '?' || c == '#' || c == '%';
  });
  // The command line crosses to the IM client as UTF-8: a nick that does not
  // convert would arrive changed.
  return !unsafeByte && GbkToUtf8(nick).has_value();
}

std::string UnpassableNickNotice(WaitReason reason) {
  switch (reason) {
    case WaitReason::kBuyerNickUnpassable:
      return "买家旺旺名含有无法传递的字符"_gbk;
    case WaitReason::kSellerNickUnpassable:
      return "卖家旺旺名含有无法传递的字符"_gbk;
    default:
      return {};
  }
}

}  // namespace autodeliver
