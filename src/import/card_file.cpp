// Card files: encoding, line breaks, CSV; see card_file.h.
#include "import/card_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "text/gbk.h"

namespace autodeliver {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// One iconv conversion kept open for every line of a file: opening one per
// line would cost more than the conversion itself.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The converted text; nullopt on the first sequence that is invalid or
  // has no counterpart. With `substitute`, such a sequence (of `unit`
  // bytes) becomes `substitute` instead.
  std::optional<std::string> operator()(std::string_view in, std::optional<std::string_view> substitute = {},
                                        std::size_t unit = 1) {
    if (!ok()) return std::nullopt;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char buffer[4096];
    while (inLeft > 0) {
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      std::size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buffer, outPtr - buffer);
      if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
      if (!substitute) return std::nullopt;
      out.append(*substitute);
      std::size_t skip = std::min(unit, inLeft);
      inPtr += skip;
      inLeft -= skip;
    }
    return out;
  }

 private:
  iconv_t cd_;
};

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const unsigned char c = s[i + k];
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

// Code page 936: single bytes 0x00-0x80, pairs of a lead byte 0x81-0xFE and
// a trail byte 0x40-0xFE other than 0x7F.
bool IsWellFormedGbk(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char b = s[i];
    if (b <= 0x80) continue;
    if (b == 0xFF || i + 1 >= s.size()) return false;
    const unsigned char t = s[++i];
    if (t < 0x40 || t == 0x7F || t == 0xFF) return false;
  }
  return true;
}

bool HasZeroByte(const ImportedCard& card) {
  return card.cardNumber.find('\0') != std::string::npos || card.cardPassword.find('\0') != std::string::npos;
}

// The lines of `body` (breaks CR LF, LF or a lone CR); `firstBreak` gets the
// first break met.
std::vector<std::string_view> SplitLines(std::string_view body, std::string* firstBreak) {
  std::vector<std::string_view> lines;
  bool seenBreak = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c != '\r' && c != '\n') continue;
    lines.push_back(body.substr(start, i - start));
    const bool crLf = c == '\r' && i + 1 < body.size() && body[i + 1] == '\n';
    if (!seenBreak) *firstBreak = crLf ? "\r\n" : (c == '\n' ? "\n" : "\r");
    seenBreak = true;
    if (crLf) ++i;
    start = i + 1;
  }
  if (start < body.size()) lines.push_back(body.substr(start));
  return lines;
}

// The fields of one CSV line (GBK: the quote, comma and line-break bytes
// never occur inside a double-byte character). nullopt when a quote does
// not close or is followed by anything but a comma. A field without quotes
// loses the spaces around it ("  DK999002 " is DK999002); quotes keep a
// field as written.
std::optional<std::vector<std::string>> CsvFields(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  for (;;) {
    std::string field;
    if (i < line.size() && line[i] == '"') {
      ++i;
      for (;;) {
        if (i >= line.size()) return std::nullopt;
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += line[i++];
      }
      if (i < line.size() && line[i] != ',') return std::nullopt;
    } else {
      const std::size_t comma = line.find(',', i);
      const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
      field = TrimSpaces(line.substr(i, end - i));
      i = end;
    }
    fields.push_back(std::move(field));
    if (i >= line.size()) return fields;
    ++i;  // the comma
  }
}

// A CSV line as a card: two columns, further columns empty.
std::optional<ImportedCard> CsvCard(std::vector<std::string> fields) {
  while (fields.size() > 2 && fields.back().empty()) fields.pop_back();
  if (fields.size() != 2) return std::nullopt;
  return ImportedCard{std::move(fields[0]), std::move(fields[1])};
}

bool IsCsvHeader(const std::optional<std::vector<std::string>>& fields) {
  static const std::string kNumber = "卡号"_gbk, kPassword = "卡密"_gbk;
  if (!fields || fields->empty()) return false;
  const std::string first = TrimSpaces((*fields)[0]);
  return first == kNumber || first == kPassword;
}

}  // namespace

CardFileLayout LayoutOfFileName(std::string_view fileName) {
  if (fileName.size() < 4) return CardFileLayout::kLines;
  const std::string ext = AsciiLower(fileName.substr(fileName.size() - 4));
  return ext == ".csv" ? CardFileLayout::kCsv : CardFileLayout::kLines;
}

CardFile ReadCardFile(std::string_view bytes, CardFileLayout layout) {
  CardFile file;
  file.layout = layout;
  std::string converted;  // the UTF-16 file as UTF-8
  std::string_view body = bytes;
  if (body.substr(0, 3) == kUtf8Bom) {
    file.encoding = CardFileEncoding::kUtf8WithBom;
    body.remove_prefix(3);
  } else if (body.size() >= 2 &&
             ((body[0] == '\xFF' && body[1] == '\xFE') || (body[0] == '\xFE' && body[1] == '\xFF'))) {
    file.encoding = CardFileEncoding::kUtf16;
    // "UTF-16" reads the mark and drops it. A broken pair becomes U+FFFD,
    // which GBK lacks, so its line is kept rather than imported.
    Converter fromUtf16("UTF-8", "UTF-16");
    converted = fromUtf16(body, "\xEF\xBF\xBD", 2).value_or(std::string());
    body = converted;
  } else {
    file.encoding = IsValidUtf8(body) ? CardFileEncoding::kUtf8 : CardFileEncoding::kGbk;
  }
  const bool gbk = file.encoding == CardFileEncoding::kGbk;
  Converter toGbk("CP936", "UTF-8");

  bool firstLine = true;
  std::size_t lineNumber = 0;
  for (std::string_view source : SplitLines(body, &file.lineBreak)) {
    ++lineNumber;
    // The line in GBK; a line that has no GBK form is shown as near as can
    // be and is never a card.
    std::optional<std::string> text;
    if (gbk) {
      if (IsWellFormedGbk(source)) text = std::string(source);
    } else {
      text = toGbk(source);
    }
    const bool readable = text.has_value();
    if (!readable) text = gbk ? std::string(source) : Utf8ToGbkLossy(source);

    std::optional<CardLine> line = ReadCardLine(*text);
    if (!line) continue;  // blank
    if (layout == CardFileLayout::kCsv) {
      std::optional<std::vector<std::string>> fields = CsvFields(line->text);
      if (firstLine && IsCsvHeader(fields)) {
        firstLine = false;
        file.skippedHeader = true;
        continue;
      }
      line->card = fields ? CsvCard(std::move(*fields)) : std::nullopt;
    }
    firstLine = false;
    if (!readable || (line->card && HasZeroByte(*line->card))) line->card.reset();
    file.lines.push_back(std::move(*line));
    file.sourceLines.emplace_back(source);
    file.lineNumbers.push_back(lineNumber);
  }
  return file;
}

std::optional<CardFile> LoadCardFile(const std::string& path, std::size_t maxBytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<std::uint64_t>(size) > maxBytes) return std::nullopt;
  in.seekg(0);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in.read(bytes.data(), size)) return std::nullopt;
  return ReadCardFile(bytes, LayoutOfFileName(std::filesystem::path(path).filename().string()));
}

std::string KeptLinesFileBytes(const CardFile& file, const std::vector<std::size_t>& indexes) {
  std::string out;
  if (file.encoding == CardFileEncoding::kUtf8WithBom || file.encoding == CardFileEncoding::kUtf16)
    out += kUtf8Bom;
  for (std::size_t i : indexes) {
    if (i >= file.sourceLines.size()) continue;
    out += file.sourceLines[i];
    out += file.lineBreak;
  }
  return out;
}

std::optional<std::string> WriteKeptLinesFile(const std::string& sourcePath, const CardFile& file,
                                              const std::vector<std::size_t>& indexes) {
  const std::filesystem::path source(sourcePath);
  const std::string stem = source.stem().string();
  const std::string ext = source.extension().string();
  const std::string bytes = KeptLinesFileBytes(file, indexes);
  for (int n = 1; n < 1000; ++n) {
    const std::string name = stem + ".未导入" + (n == 1 ? std::string() : "-" + std::to_string(n)) + ext;
    const std::string path = (source.parent_path() / name).string();
    // The lines hold card passwords: readable by the seller only.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return std::nullopt;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      done += static_cast<std::size_t>(w);
    }
    const bool closed = ::close(fd) == 0;
    if (done != bytes.size() || !closed) {
      ::unlink(path.c_str());
      return std::nullopt;
    }
    return path;
  }
  return std::nullopt;
}

}  // namespace autodeliver
