// Where each control of the main window's design layout sits: its layout
// name (layout_names.h) and its rectangle in its parent, in pixels, at the
// window's design size. The window places its controls from this table
// (main_window.cpp); a re-layout later moves and stretches some of them with
// the window's size, and the log page and the status line are laid out by
// layout managers, so they are not here.
//
// Controls on a page are placed relative to the page control, captions
// included (PageControl).
//
// Thread safety: constants.
#pragma once

#include <cstring>

#include "app/layout_names.h"

namespace autodeliver::layout {

struct Place {
  const char* name;
  int x, y, width, height;
};

inline constexpr Place kPlaces[] = {
    // Top level.
    {kBanner, 0, 0, 808, 104},
    {kPageControl, 0, 104, 794, 414},

    // Page 0: the monitored items.
    {kNoticeLabel, 8, 34, 551, 22},
    {kNameLabelFrame, 8, 61, 74, 22},
    {kNameLabel, 1, 1, 72, 20},
    {kNameBoxFrame, 81, 61, 392, 22},
    {kNameBox, 1, 1, 390, 20},
    {kAddButtonFrame, 478, 61, 81, 22},
    {kAddButton, 1, 1, 79, 20},
    {kItemsFrame, 8, 88, 551, 287},
    {kItemsList, 1, 1, 549, 285},
    {kRenameButtonFrame, 388, 380, 82, 22},
    {kRenameButton, 2, 1, 79, 20},
    {kDeleteButtonFrame, 477, 380, 82, 22},
    {kDeleteButton, 1, 1, 79, 20},
    {kWelcomeLabel, 1, 381, 383, 22},

    // Page 0: the attributes box.
    {kAttributesFrame, 564, 61, 223, 155},
    {kAttributesHeaderFrame, 0, 0, 223, 22},
    {kAttributesHeader, 1, 1, 221, 20},
    {kAttributeNames, 10, 39, 60, 92},
    {kRemarkBox, 72, 37, 148, 20},
    {kLimitBox, 72, 73, 36, 20},
    {kNeedsCardBox, 74, 111, 16, 13},
    {kWarningLevelLabel, 10, 130, 60, 20},
    {kWarningLevelBox, 72, 130, 80, 20},
    {kTemplateButton, 158, 130, 60, 20},

    // Page 0: the auto-delivery settings box.
    {kSettingsFrame, 564, 221, 223, 181},
    {kSettingsHeaderFrame, 0, 0, 223, 22},
    {kSettingsHeader, 1, 1, 221, 20},
    {kIntervalLabel, 10, 28, 104, 24},
    {kIntervalBox, 116, 30, 48, 20},
    {kDeliverySwitch, 10, 63, 100, 24},
    {kAutostartBox, 112, 63, 108, 24},
    {kStatusGroup, 4, 90, 216, 56},
    {kStatusLabel, 11, 20, 197, 24},
    {kApplyButtonFrame, 136, 152, 82, 22},
    {kApplyButton, 2, 1, 79, 20},
    {kRulesButtonFrame, 48, 152, 82, 22},
    {kRulesButton, 2, 1, 79, 20},

    // Page 0: the login browser; the holder starts below the visible area
    // until the first re-layout brings it over the page.
    {kBrowserHolder, 1, 1000, 792, 380},
    {kLoginBrowser, -64, -64, 1008, 904},

    // Page 1: the sent cards.
    {kGridFrame, 1, 54, 792, 338},
    {kSentCardsGrid, 1, 1, 790, 336},
    {kSentSearchBox, 4, 29, 220, 22},
    {kUndeliveredOnlyBox, 232, 29, 96, 22},
    {kSentCountLabel, 332, 29, 166, 22},
    {kResendAllButtonFrame, 502, 29, 110, 22},
    {kResendAllButton, 1, 1, 108, 20},
    {kResendButtonFrame, 618, 29, 82, 22},
    {kResendButton, 1, 1, 80, 20},
    {kSentExportButtonFrame, 706, 29, 82, 22},
    {kSentExportButton, 1, 1, 80, 20},
    {kSentNoteLabel, 4, 393, 786, 20},

    // Page 2: the card stock and the card import.
    {kChooserLabel, 9, 35, 56, 24},
    {kItemChooser, 65, 38, 369, 20},
    {kImportFrame, 5, 67, 429, 341},
    {kImportHeaderFrame, 0, 0, 429, 22},
    {kImportHeader, 1, 1, 426, 20},  // a pixel narrower than its strip
    {kImportBox, 1, 23, 426, 287},
    {kImportButtonFrame, 340, 313, 82, 22},
    {kImportButton, 2, 1, 79, 20},
    {kFileImportButtonFrame, 252, 313, 82, 22},
    {kFileImportButton, 2, 1, 79, 20},
    {kStockFrame, 439, 34, 353, 374},
    {kStockHeaderFrame, 0, 0, 353, 22},
    {kStockHeader, 1, 1, 351, 20},
    {kStockList, 1, 22, 351, 320},
    {kDeleteStockButtonFrame, 52, 346, 82, 22},
    {kDeleteStockButton, 2, 1, 79, 20},
    {kNumberButtonFrame, 141, 347, 82, 22},
    {kNumberButton, 2, 1, 79, 20},
    {kPasswordButtonFrame, 230, 347, 82, 22},
    {kPasswordButton, 2, 1, 79, 20},
    {kStockExportButton, 291, 1, 61, 20},

    // Page 3: the deliveries plot.
    {kPlotItemLabel, 8, 31, 40, 24},
    {kPlotItemChooser, 48, 33, 300, 20},
    {kPlotTotalLabel, 360, 31, 428, 24},
    {kPlotFrame, 1, 60, 792, 352},
    {kPlotChart, 1, 1, 790, 350},
};

// The place of the control named `name`; null when the table has none.
inline const Place* FindPlace(const char* name) {
  for (const Place& place : kPlaces) {
    if (std::strcmp(place.name, name) == 0) return &place;
  }
  return nullptr;
}

}  // namespace autodeliver::layout
