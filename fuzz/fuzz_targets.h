// The fuzz targets: one entry per input the program reads from outside.
// Each takes the bytes of one input, runs the program's own code on them and
// aborts when a property that must hold for every input is broken (the
// sanitizers of the fuzz build catch memory and undefined-behaviour errors
// besides). The same entries run under libFuzzer (one executable per target,
// built with clang) and as ordinary tests that replay each target's corpus
// (fuzz/corpus/<name>).
//
// Thread safety: a target is run by one thread at a time; targets share
// process-wide state (the program directory, the cookie store, the request
// hooks) and set what they use on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace autodeliver::fuzz {

using Entry = int (*)(const std::uint8_t* data, std::size_t size);

struct Target {
  const char* name;  // also the corpus folder's name
  Entry run;
};

// The table files: a record table and its companion, opened, read whole,
// appended to, modified, marked and purged, and as the card stock taken
// from.
int FuzzTableFile(const std::uint8_t* data, std::size_t size);
// The order list page: prepared and scanned; small pages are also searched
// by the plain whole-page search, whose matches the bounded scan must equal.
int FuzzOrderPage(const std::uint8_t* data, std::size_t size);
// The maker's service: the bytes as the body of the notice and the update
// answers, through the real checks (update.ini written and read back).
int FuzzServiceAnswer(const std::uint8_t* data, std::size_t size);
// The INI reader: a section, a key and a file text.
int FuzzIniFile(const std::uint8_t* data, std::size_t size);
// The card import: the text of the import box split into cards.
int FuzzCardImport(const std::uint8_t* data, std::size_t size);
// card.mdb: a damaged or foreign file and an insert statement.
int FuzzCardMdb(const std::uint8_t* data, std::size_t size);
// The answers of the marketplace's web server: the bytes as the raw answers
// to one request (redirects included), over a local socket pair.
int FuzzHttpAnswer(const std::uint8_t* data, std::size_t size);

// Every target, in a fixed order.
const std::vector<Target>& Targets();

// A folder of this process for the files a target writes; created on first
// use, removed when the process ends.
const std::string& ScratchDir();

// Writes `bytes` as the whole file at `path`; aborts when it cannot.
void WriteFile(const std::string& path, std::string_view bytes);
// The whole file at `path`; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Points the program's HTTP client at a local (Unix domain) socket served by
// this process: the i-th connection gets answers[i] as its raw answer,
// whatever it asked, and is closed after it; a connection beyond the list
// is closed at once. Nothing goes to the network.
void ServeAnswers(std::vector<std::string> answers);
// Back to normal connections.
void StopServingAnswers();

// Aborts with `what` on stderr when `holds` is false: a broken property.
void Require(bool holds, const char* what);

}  // namespace autodeliver::fuzz
