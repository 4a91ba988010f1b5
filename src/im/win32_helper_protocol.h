// The line protocol between the IM bridge (Linux) and its Win32 helper
// (autodeliver-imhelper64.exe / autodeliver-imhelper32.exe), which runs
// under Wine inside the IM client's prefix and makes the Win32 calls on the
// client's windows. Shared by both sides: plain C++, no system header.
//
// The bridge starts the helper once per delivery session with the client's
// prefix in WINEPREFIX and speaks to it over the helper's stdin and stdout.
// Every request and every answer is one line of printable ASCII ended by a
// line feed; fields are separated by one space; a text field carries GBK
// bytes as upper-case hex (two digits per byte, empty for an empty text),
// so that no byte of a text can end a line or split a field. Window handles
// are hex numbers; 0 is "no window".
//
//   helper, once started:          READY <bits>        (32 or 64)
//
//   PING                           OK
//   FIND <class> <title>           OK <hwnd>           FindWindowW, the
//                                                      texts converted from
//                                                      GBK (code page 936)
//   RELATED <hwnd> CHILD           OK <hwnd>           GetWindow GW_CHILD
//   RELATED <hwnd> NEXT            OK <hwnd>           GetWindow GW_HWNDNEXT
//   SETTEXT <hwnd> <text>          OK | FAIL           WM_SETTEXT, wide text
//   ENTER <hwnd>                   OK | FAIL           WM_KEYDOWN, WM_KEYUP
//                                                      of VK_RETURN
//   CLOSE <hwnd>                   OK | FAIL           WM_CLOSE; OK once the
//                                                      window is gone
//   START <ms> <command line>      OK 1 | OK 0         CreateProcessW (the
//                                                      line converted from
//                                                      GBK), then a wait of
//                                                      at most <ms> for it
//                                                      to end; 1: started
//   QUIT                           (the helper ends)
//
// A request the helper cannot read is answered "ERR <reason>". Window
// messages go with SendMessageTimeoutW bounded by the helper's
// --handled-ms argument, so a hung client makes an operation fail instead
// of holding the helper; the bridge bounds every answer wait as well.
#pragma once

#include <string>
#include <vector>

namespace autodeliver::helper_protocol {

inline constexpr char kReady[] = "READY";
inline constexpr char kPing[] = "PING";
inline constexpr char kFind[] = "FIND";
inline constexpr char kRelated[] = "RELATED";
inline constexpr char kChild[] = "CHILD";
inline constexpr char kNext[] = "NEXT";
inline constexpr char kSetText[] = "SETTEXT";
inline constexpr char kEnter[] = "ENTER";
inline constexpr char kClose[] = "CLOSE";
inline constexpr char kStart[] = "START";
inline constexpr char kQuit[] = "QUIT";
inline constexpr char kOk[] = "OK";
inline constexpr char kFail[] = "FAIL";
inline constexpr char kError[] = "ERR";

// The helper's option that bounds each window message, in milliseconds.
inline constexpr char kHandledOption[] = "--handled-ms";

inline std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of a hex field; false when it is not an even run of hex digits.
inline bool FromHex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  bytes->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

// A window handle or a number as a hex field, and back; false when the
// field is empty, not hex or too long for 64 bits.
inline std::string NumberField(unsigned long long value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 0x0F]);
    value >>= 4;
  } while (value != 0);
  return out;
}

inline bool ParseNumberField(const std::string& field, unsigned long long* value) {
  if (field.empty() || field.size() > 16) return false;
  unsigned long long v = 0;
  for (char c : field) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<unsigned>(d);
  }
  *value = v;
  return true;
}

// The fields of a line (without its line feed), split at every single
// space: two spaces in a row give an empty field (an empty text).
inline std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t space = line.find(' ', start);
    fields.push_back(line.substr(start, space == std::string::npos ? std::string::npos : space - start));
    if (space == std::string::npos) break;
    start = space + 1;
  }
  return fields;
}

}  // namespace autodeliver::helper_protocol
