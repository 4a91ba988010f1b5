// The message a buyer gets can follow a template of the seller's, one per
// monitored item, for what buyers need beside the cards (how to use them, a
// recharge address). Placeholders, replaced wherever they stand:
//
//   {宝贝名称}  the item's name
//   {订单编号}  the order number
//   {卡密}      the card lines, "卡号：<number> 卡密：<password>" + CR LF each
//   {数量}      the quantity bought
//
// An item without a template gets exactly the usual message
// (DeliveryMessage). The templates live in rows "宝贝消息模板" of the
// settings table, one per item: the item name, a TAB, then the template with
// backslash, TAB, CR and LF written as \\, \t, \r and \n.
//
// The chat window takes at most kMaxChatMessageBytes. A template is refused
// when saved if, filled for its item with a long order number, it leaves
// less than kCardLinesRoom bytes for the card lines; a message that still
// comes out too long at delivery is sent as the usual message instead, so
// the cards always go out.
//
// Thread safety: the settings table takes the store lock; call from any
// thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "delivery/card_delivery.h"
#include "io/status.h"

namespace autodeliver {

class ShopContext;

inline constexpr std::size_t kMaxChatMessageBytes = 4000;
inline constexpr std::size_t kCardLinesRoom = 1000;

// The template filled in (all GBK).
std::string FillMessageTemplate(const std::string& tmpl, const std::string& itemName,
                                const std::string& orderNumber, const std::vector<DeliveredCard>& cards,
                                int quantity);

// The message for the buyer: the item's template filled in, or the usual
// message when the item has none or the filled one is too long.
std::string BuyerMessage(ShopContext& shop, const std::string& itemName, const std::string& orderNumber,
                         const std::vector<DeliveredCard>& cards, int quantity);

// The same with the values of the templates' setting rows already read
// (MessageTemplateSetting), as the delivery reads them in its hold of the
// tables.
std::string BuyerMessage(const std::string& itemName, const std::string& orderNumber,
                         const std::vector<DeliveredCard>& cards, int quantity,
                         const std::vector<std::string>& templateValues);

// The item's template; nullopt when it has none.
std::optional<std::string> MessageTemplateOf(ShopContext& shop, const std::string& itemName);

// The name of the setting rows that hold the templates.
const std::string& MessageTemplateSetting();

enum class TemplateSave { kSaved, kTooLong, kFailed };
// Sets the item's template; an empty template removes it (the usual message
// again). kTooLong leaves the stored template as it was; kFailed puts the
// cause, naming the settings table, into `failure` (when given).
TemplateSave SetMessageTemplate(ShopContext& shop, const std::string& itemName, const std::string& tmpl,
                                Status* failure = nullptr);

}  // namespace autodeliver
