// The start-up questions to the maker's service: is there a notice to show,
// and is there a newer version.
//
// Thread safety: run on the window's thread during start-up; no state
// besides update.ini.
#pragma once

#include <cstddef>
#include <string>

#include "service/prompts.h"
#include "version.h"

namespace autodeliver {

// The longest answer of the maker's service that is read; a notice or an
// update description is a few lines of text.
inline constexpr std::size_t kServiceAnswerLimit = std::size_t{256} << 10;

// The program's own version, compared with the update answer's.
inline constexpr const char* kLocalVersion = kProgramVersion;

// Asks for a notice and shows it (caption "通知", information box) when the
// answer's "[check]" flag is non-empty and not "no_msg"; an unreachable
// service, an unreadable answer or one longer than kServiceAnswerLimit shows
// nothing. "\n" (backslash, n) in the
// notice becomes a line break.
void CheckNotice(Prompts& prompts);

// Asks for the newest version, writes the answer's "[msg]" part (with
// "<br />" as line breaks) as the whole of update.ini in `programDir`, and
// when its [update] ver is non-empty and differs from kLocalVersion offers
// the update. On Yes the forum page is opened and the program is ended
// (returns false: start-up must not go on); otherwise returns true.
bool CheckUpdate(Prompts& prompts, const std::string& programDir);

// The URLs of the two questions and of the forum page.
std::string NoticeUrl();
std::string UpdateUrl();
std::string ForumUrl();

}  // namespace autodeliver
