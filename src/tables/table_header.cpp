#include "tables/table_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "io/coding.h"
#include "tables/field_codec.h"
#include "tables/table_format.h"

namespace autodeliver {

namespace fmt = table_format;

namespace {

// Largest record size and field count accepted: anything beyond is damage,
// and refusing it keeps allocations bounded.
constexpr std::int32_t kMaxRecordSize = 1 << 24;
constexpr std::int32_t kMaxFieldCount = 4096;

}  // namespace

std::string TableFilePath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string_view last = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  if (!last.empty() && last.back() == '.') return path + "EDB";
  if (last.find('.') == std::string_view::npos) return path + ".EDB";
  return path;
}

std::string CompanionFilePath(const std::string& tablePath) {
  std::string path = TableFilePath(tablePath);
  std::size_t dot = path.rfind('.');
  std::string ext = path.substr(dot + 1);
  bool lower =
      !ext.empty() && std::none_of(ext.begin(), ext.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  return path.substr(0, dot + 1) + (lower ? "edt" : "EDT");
}

bool ReadTableHeader(FileIo& io, int fd, TableHeader* h) {
  char header[fmt::kHeaderSize + 4];
  if (!ReadFully(io, fd, header, sizeof header, 0)) return false;
  if (std::memcmp(header, fmt::kTableMagic, 4) != 0) return false;
  h->version = DecodeInt32(header + fmt::kVersionOffset);
  h->recordSize = DecodeInt32(header + fmt::kRecordSizeOffset);
  h->recordCount = DecodeInt32(header + fmt::kRecordCountOffset);
  h->nextId = DecodeInt32(header + fmt::kNextIdOffset);
  if (h->version > fmt::kVersion || h->recordSize < fmt::kIdSize || h->recordSize > kMaxRecordSize ||
      h->recordCount < 0 || h->nextId <= 0)
    return false;
  std::int32_t n = DecodeInt32(header + fmt::kFieldCountOffset);
  if (n <= 0 || n > kMaxFieldCount) return false;
  std::vector<char> desc(static_cast<std::size_t>(n) * fmt::kDescriptorSize);
  if (!ReadFully(io, fd, desc.data(), desc.size(), fmt::kDescriptorsOffset)) return false;
  h->fields.clear();
  h->hasBlocks = false;
  for (std::int32_t i = 0; i < n; ++i) {
    const char* d = desc.data() + static_cast<std::size_t>(i) * fmt::kDescriptorSize;
    const void* zero = std::memchr(d, 0, fmt::kNameSize);
    if (!zero) return false;
    FieldInfo f;
    f.name.assign(d, static_cast<const char*>(zero) - d);
    f.type = DecodeInt32(d + fmt::kTypeOffset);
    f.offset = DecodeInt32(d + fmt::kFieldOffsetOffset);
    f.width = DecodeInt32(d + fmt::kWidthOffset);
    if (f.offset < 0 || f.type < fmt::kByte || f.type > fmt::kLongText) return false;
    if (f.type == fmt::kFixedText && f.width <= 0) return false;
    if (f.type != fmt::kFixedText) f.width = 0;
    // A field must lie inside the record and behind the id; anything else
    // would read or overwrite bytes that are not the field's.
    std::int64_t end = static_cast<std::int64_t>(f.offset) + fmt::FieldBytes(f.type, f.width);
    if (f.offset < fmt::kIdSize || end > h->recordSize) return false;
    if (IsStoredInBlocks(f.type)) h->hasBlocks = true;
    h->fields.push_back(std::move(f));
  }
  h->dataOffset = fmt::kDescriptorsOffset + static_cast<std::int64_t>(n) * fmt::kDescriptorSize;
  return true;
}

bool FitToWholeRecords(FileIo& io, int fd, const TableHeader& header, std::int32_t* count) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  std::int64_t whole = (st.st_size - header.dataOffset) / header.recordSize;
  if (whole < *count) {
    // The header names records that were never written whole.
    *count = static_cast<std::int32_t>(whole);
    char b[4];
    EncodeInt32(b, *count);
    if (!WriteFully(io, fd, b, 4, fmt::kRecordCountOffset)) return false;
  }
  std::int64_t wanted = header.dataOffset + static_cast<std::int64_t>(*count) * header.recordSize;
  return st.st_size <= wanted || io.Truncate(fd, wanted) == 0;
}

bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields) {
  if (fields.empty() || static_cast<std::int32_t>(fields.size()) > kMaxFieldCount) return false;
  std::int64_t offset = fmt::kIdSize;
  std::vector<char> desc(fields.size() * fmt::kDescriptorSize, 0);
  bool blocks = false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = fields[i];
    if (f.name.empty() || f.name.size() > fmt::kMaxNameBytes || f.name.find('\0') != std::string::npos ||
        f.type < fmt::kByte || f.type > fmt::kLongText || (f.type == fmt::kFixedText && f.width <= 0))
      return false;
    char* d = desc.data() + i * fmt::kDescriptorSize;
    std::memcpy(d, f.name.data(), f.name.size());
    std::int32_t width = f.type == fmt::kFixedText ? f.width : 0;
    EncodeInt32(d + fmt::kTypeOffset, f.type);
    EncodeInt32(d + fmt::kFieldOffsetOffset, static_cast<std::int32_t>(offset));
    EncodeInt32(d + fmt::kWidthOffset, width);
    offset += fmt::FieldBytes(f.type, width);
    if (offset > kMaxRecordSize) return false;
    if (IsStoredInBlocks(f.type)) blocks = true;
  }
  char header[fmt::kHeaderSize + 4] = {};
  std::memcpy(header, fmt::kTableMagic, 4);
  EncodeInt32(header + fmt::kVersionOffset, fmt::kVersion);
  EncodeInt32(header + fmt::kRecordCountOffset, 0);
  EncodeInt32(header + fmt::kNextIdOffset, 1);
  EncodeInt32(header + fmt::kRecordSizeOffset, static_cast<std::int32_t>(offset));
  EncodeInt32(header + fmt::kFieldCountOffset, static_cast<std::int32_t>(fields.size()));
  std::string file = TableFilePath(path);
  FileIo& io = DefaultFileIo();
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteFully(io, fd, header, sizeof header, 0) &&
            WriteFully(io, fd, desc.data(), desc.size(), sizeof header);
  ::close(fd);
  if (ok && blocks) {
    char block0[fmt::kBlockSize] = {};
    std::memcpy(block0, fmt::kBlockMagic, 4);
    EncodeInt32(block0 + fmt::kVersionOffset, fmt::kVersion);
    EncodeInt32(block0 + fmt::kBlockCountOffset, 1);
    int bfd = ::open(CompanionFilePath(file).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ok = bfd >= 0 && WriteFully(io, bfd, block0, sizeof block0, 0);
    if (bfd >= 0) ::close(bfd);
  }
  if (!ok) ::unlink(file.c_str());
  return ok;
}

}  // namespace autodeliver
