// Whether a nick can address a chat. The IM client is asked to open a chat
// by the command line
//
//   path aliim:sendmsg?uid=cntaobao<seller>&touid=cntaobao<buyer>
//
// which the system splits into arguments at white space and quotes, and
// whose query the IM client reads as a URL. A nick holding white space, a
// quote, "&", "?", "#", "%" or a control byte would split the command line
// or change its query ("x&touid=cntaobaoOTHER" addresses another user);
// such a nick, an empty one and one that is not valid GBK never go on the
// command line. The delivery cycle lets the order wait instead, with no card
// taken, and tells the seller why.
//
// Thread safety: free functions without shared state.
#pragma once

#include <string>
#include <string_view>

#include "delivery/card_delivery.h"

namespace autodeliver {

// True when `nick` (GBK) reaches the IM client as one piece, unchanged.
bool IsPassableChatNick(std::string_view nick);

// What the seller is told (GBK) about an order that waits for
// kBuyerNickUnpassable ("买家旺旺名含有无法传递的字符") or
// kSellerNickUnpassable ("卖家旺旺名含有无法传递的字符"); empty for any
// other reason.
std::string UnpassableNickNotice(WaitReason reason);

}  // namespace autodeliver
