// The texts the pages put into their boxes: the placeholder of the item name
// box, the card-import hint of the import box and the refusal of an item
// name longer than the tables hold. Each exists only here; the
// main window's layout and the start-up sequence take them from here too.
// Texts are GBK with CR LF line ends (an edit box shows them with "\n").
//
// Thread safety: constants.
#pragma once

#include <cstddef>
#include <string>

namespace autodeliver {

// " → 在此处输入需要添加监视的商品名称"
const std::string& ItemNamePlaceholder();

// " → 在此处输入需要添加入库的卡密以及卡号" and its five lines on the format.
const std::string& CardImportPlaceholder();

// "宝贝名称太长，最多 N 个字节（约 N/2 个汉字），请改短后再试。" for a
// limit of `limitBytes` (ItemNameLimit in store/seller_actions.h).
std::string NameTooLongText(std::size_t limitBytes);

}  // namespace autodeliver
