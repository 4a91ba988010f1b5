// The pages' placeholder texts; see page_texts.h.
#include "pages/page_texts.h"

#include <string>

#include "text/gbk.h"

namespace autodeliver {

const std::string& ItemNamePlaceholder() {
  static const std::string kText = " → 在此处输入需要添加监视的商品名称"_gbk;
  return kText;
}

const std::string& CardImportPlaceholder() {
  static const std::string kText =
      " → 在此处输入需要添加入库的卡密以及卡号\r\n格式：\r\n卡密 卡号\r\n卡密1 卡号1\r\n卡密2 卡密2\r\n注：就算没有卡密，也要填0"_gbk;
  return kText;
}

std::string NameTooLongText(std::size_t limitBytes) {
  return "宝贝名称太长，最多 "_gbk + std::to_string(limitBytes) + " 个字节（约 "_gbk +
         std::to_string(limitBytes / 2) + " 个汉字），请改短后再试。"_gbk;
}

}  // namespace autodeliver
