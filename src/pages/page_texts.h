// The texts the pages put into their boxes: the placeholder of the item name
// box and the card-import hint of the import box. Each exists only here; the
// main window's layout and the start-up sequence take them from here too.
// Texts are GBK with CR LF line ends (an edit box shows them with "\n").
//
// Thread safety: constants.
#pragma once

#include <string>

namespace autodeliver {

// " → 在此处输入需要添加监视的商品名称"
const std::string& ItemNamePlaceholder();

// " → 在此处输入需要添加入库的卡密以及卡号" and its five lines on the format.
const std::string& CardImportPlaceholder();

}  // namespace autodeliver
