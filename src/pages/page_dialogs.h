// The message boxes and the input box of the management pages, behind a
// small interface so that tests can answer them without a modal dialog.
// Texts are GBK.
//
// Thread safety: called on the window's thread only.
#pragma once

#include <optional>
#include <string>

#include "service/prompts.h"

namespace autodeliver {

class PageDialogs {
 public:
  virtual ~PageDialogs() = default;
  // An application-modal message box; returns when the seller has answered.
  virtual BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) = 0;
  // An input box with `prompt` and `caption` and no initial text. Returns
  // the typed text (possibly empty), or nullopt when the seller cancels.
  virtual std::optional<std::string> AskText(const std::string& prompt, const std::string& caption) = 0;
};

// An application-modal QMessageBox without an owner window, with the icon
// and buttons of `kind`; CR LF line ends are shown as line breaks. Used by
// the pages and by the window's start-up prompts.
BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxKind kind);

// The real dialogs: QMessageBox and QInputDialog without an owner window.
class QtPageDialogs : public PageDialogs {
 public:
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override;
  std::optional<std::string> AskText(const std::string& prompt, const std::string& caption) override;
};

}  // namespace autodeliver
