// The buyers' message templates; see message_template.h.
#include "delivery/message_template.h"

#include <algorithm>

#include "store/escaped_fields.h"
#include "store/settings.h"
#include "store/store_lock.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

const std::string& SettingName() {
  static const std::string kName = "宝贝消息模板"_gbk;
  return kName;
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
  }
  return out;
}

std::string ItemOf(const std::string& value) { return value.substr(0, value.find('\t')); }

}  // namespace

std::string FillMessageTemplate(const std::string& tmpl, const std::string& itemName,
                                const std::string& orderNumber, const std::vector<DeliveredCard>& cards,
                                int quantity) {
  // The card lines are those of the usual message, after its header.
  const std::string usual = DeliveryMessage(std::string(), {});
  const std::string lines = DeliveryMessage(std::string(), cards).substr(usual.size());
  // One pass per placeholder would let a value that holds a placeholder be
  // replaced again; so the template is cut at each placeholder in order.
  static const std::string kItem = "{宝贝名称}"_gbk, kOrder = "{订单编号}"_gbk, kCards = "{卡密}"_gbk,
                           kQuantity = "{数量}"_gbk;
  const std::pair<const std::string*, std::string> values[] = {
      {&kItem, itemName}, {&kOrder, orderNumber}, {&kCards, lines}, {&kQuantity, std::to_string(quantity)}};
  std::string out;
  std::size_t i = 0;
  while (i < tmpl.size()) {
    bool replaced = false;
    for (const auto& [name, value] : values) {
      if (tmpl.compare(i, name->size(), *name) == 0) {
        out += value;
        i += name->size();
        replaced = true;
        break;
      }
    }
    if (replaced) continue;
    // A GBK lead byte takes its trail byte along, so a match never starts
    // inside a character.
    const unsigned char c = static_cast<unsigned char>(tmpl[i]);
    const std::size_t width = c >= 0x81 && c <= 0xFE && i + 1 < tmpl.size() ? 2 : 1;
    out.append(tmpl, i, width);
    i += width;
  }
  return out;
}

namespace {

std::optional<std::string> TemplateIn(const std::vector<std::string>& values, const std::string& itemName) {
  for (const std::string& value : values) {
    const std::size_t tab = value.find('\t');
    if (tab != std::string::npos && value.compare(0, tab, itemName) == 0 && tab == itemName.size())
      return Unescaped(value.substr(tab + 1));
  }
  return std::nullopt;
}

std::string MessageWith(const std::optional<std::string>& tmpl, const std::string& itemName,
                        const std::string& orderNumber, const std::vector<DeliveredCard>& cards,
                        int quantity) {
  if (tmpl) {
    std::string filled = FillMessageTemplate(*tmpl, itemName, orderNumber, cards, quantity);
    if (filled.size() <= kMaxChatMessageBytes) return filled;
  }
  return DeliveryMessage(itemName, cards);
}

}  // namespace

std::string BuyerMessage(ShopContext& shop, const std::string& itemName, const std::string& orderNumber,
                         const std::vector<DeliveredCard>& cards, int quantity) {
  return MessageWith(MessageTemplateOf(shop, itemName), itemName, orderNumber, cards, quantity);
}

std::string BuyerMessage(const std::string& itemName, const std::string& orderNumber,
                         const std::vector<DeliveredCard>& cards, int quantity,
                         const std::vector<std::string>& templateValues) {
  return MessageWith(TemplateIn(templateValues, itemName), itemName, orderNumber, cards, quantity);
}

std::optional<std::string> MessageTemplateOf(ShopContext& shop, const std::string& itemName) {
  return TemplateIn(GetSettingValues(shop, SettingName()), itemName);
}

const std::string& MessageTemplateSetting() { return SettingName(); }

TemplateSave SetMessageTemplate(ShopContext& shop, const std::string& itemName, const std::string& tmpl,
                                Status* failure) {
  if (!tmpl.empty()) {
    const std::string longOrder(20, '9');
    const std::string filled = FillMessageTemplate(tmpl, itemName, longOrder, {}, 9999);
    if (filled.size() + kCardLinesRoom > kMaxChatMessageBytes) return TemplateSave::kTooLong;
  }
  StoreGuard guard(shop);
  std::vector<std::string> values = GetSettingValues(shop, SettingName());
  values.erase(std::remove_if(values.begin(), values.end(),
                              [&](const std::string& v) {
                                return v.find('\t') != std::string::npos && ItemOf(v) == itemName;
                              }),
               values.end());
  if (!tmpl.empty()) values.push_back(itemName + "\t" + EscapeField(tmpl));
  Status stored = ReplaceSettingValues(shop, SettingName(), values);
  if (stored) return TemplateSave::kSaved;
  if (failure) *failure = std::move(stored);
  return TemplateSave::kFailed;
}

}  // namespace autodeliver
