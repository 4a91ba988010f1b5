// The program's start-up sequence, run on the window's thread once the main
// window and all its controls exist, before the first user input:
//
//   1. the maker's notice, then the update check (which may end the program)
//   2. the compilation of the order-page patterns
//   3. the version in the window title
//   4. the login page in the login browser
//   5. the alternating row colours of the monitored-items and stock lists
//   6. the card-import hint in the import box
//   7. the sent-cards grid header
//   8. the check that the seller's IM client is installed (which may end the
//      program)
//
// Thread safety: GUI thread only.
#pragma once

#include <QString>
#include <optional>

#include "app/locate_im_client.h"
#include "service/prompts.h"

namespace autodeliver {

class MainWindow;

// "<version> (Build <release date> Release)" from the project's version
// (version.h), so "1.0.0.1007 (Build 2012-11-20 Release)"; put into the
// title.
QString VersionText();
// The hint written into the card-import box (line ends as "\n").
QString CardImportHint();

struct StartupOptions {
  // Where the IM client check reads and writes; the settings table and the
  // desktop's handler when not given.
  std::optional<ImClientLookup> imClientLookup;
};

// Runs the sequence above. Returns false when a step ended the program
// (the prompts were asked to end it); the remaining steps are not run.
bool RunStartupSequence(MainWindow& window, Prompts& prompts, const StartupOptions& options = {});

// What the program does at its start: shows the window, runs the sequence
// above with the re-layout held back, and only once it has returned
// re-lays the window out, which brings the browser holder over page 0. So
// the login page is not seen while the notice, update and missing-client
// boxes are up. Returns as RunStartupSequence; after a false the hold is
// left in place (the program is ending).
bool ShowAndRunStartup(MainWindow& window, Prompts& prompts, const StartupOptions& options = {});

}  // namespace autodeliver
