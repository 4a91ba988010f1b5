// The text-to-integer rule shared by the stored purchase limit, the order
// quantities of the order page and the interval box.
//
// Full-width characters are first folded to their ASCII forms; then the
// leading decimal digits are read, with an optional sign; a text without
// leading digits reads as 0. Leading ASCII blanks are skipped, as the C
// library's integer conversion does.
#pragma once

#include <string>
#include <string_view>

namespace autodeliver {

// Folds the GBK full-width forms of ASCII (A3 A1 .. A3 FE) and the
// full-width space (A1 A1) to their single-byte forms; everything else is
// kept as it is.
std::string FoldFullWidth(std::string_view text);

// The integer that `text` starts with, by the rule above. Values beyond the
// range of int are clamped to it.
int TextToInt(std::string_view text);

}  // namespace autodeliver
