// The card import's line rules now live in the store (store/card_lines.h),
// where the file import and the duplicate check use them too; the pages
// keep including them under this name.
#pragma once

#include "store/card_lines.h"
