#include "tables/table_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "io/coding.h"
#include "io/file_io.h"
#include "tables/table_format.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

namespace fmt = table_format;

// Removes a table file and its companion.
void RemoveTable(const std::string& path) {
  const std::string table = TableFilePath(path);
  std::remove(table.c_str());
  std::remove(CompanionFilePath(table).c_str());
}

TableCopy Failed(TableCopy r, const std::string& error) {
  r.status = TableCopy::Status::kFailed;
  r.error = error;
  return r;
}

// Writes each record's id (negative for a marked one) and the next record id
// straight into the file: Append hands out ids of its own.
bool WriteIds(const std::string& path, const std::vector<std::int32_t>& ids, std::int32_t nextId,
              std::int32_t recordSize, std::size_t fieldCount) {
  const int fd = ::open(TableFilePath(path).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  FileIo& io = DefaultFileIo();
  const off_t data = fmt::kDescriptorsOffset + static_cast<off_t>(fmt::kDescriptorSize) * fieldCount;
  bool ok = true;
  char b[4];
  for (std::size_t k = 0; ok && k < ids.size(); ++k) {
    EncodeInt32(b, ids[k]);
    ok = WriteFully(io, fd, b, 4, data + static_cast<off_t>(k) * recordSize).ok();
  }
  EncodeInt32(b, nextId);
  ok = ok && WriteFully(io, fd, b, 4, fmt::kNextIdOffset) && io.Sync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

TableCopy CopyTableRecords(const std::string& from, const std::string& to,
                           const std::vector<FieldSpec>& fields) {
  TableCopy r;
  RecordTable source;
  if (!source.Open(from)) return Failed(r, "cannot open " + from);
  std::vector<int> sourceIndex;
  for (const FieldSpec& f : fields) {
    const int i = source.FieldIndex(f.name);
    if (i < 0) return Failed(r, "field missing in " + from);
    sourceIndex.push_back(i);
  }
  if (!source.Hold(false)) return Failed(r, "cannot lock " + from);
  const std::int32_t count = source.RecordCount();
  const std::int32_t nextId = source.NextRecordId();

  // Every value first: a value too wide is found before anything is written.
  std::vector<FieldValues> rows;
  std::vector<std::int32_t> ids;
  rows.reserve(static_cast<std::size_t>(count));
  if (count > 0) source.GoTo(1);
  for (std::int32_t n = 1; n <= count; ++n, source.Skip()) {
    FieldValues values;
    for (std::size_t k = 0; k < fields.size(); ++k) {
      std::optional<std::string> v = source.ReadTextAt(sourceIndex[k]);
      if (!v) {
        source.Release();
        return Failed(r, "record " + std::to_string(n) + " of " + from + " cannot be read");
      }
      if (fields[k].type == fmt::kFixedText && v->size() > static_cast<std::size_t>(fields[k].width)) {
        source.Release();
        r.status = TableCopy::Status::kTooWide;
        r.recordNumber = n;
        r.field = fields[k].name;
        r.value = *v;
        return r;
      }
      values.push_back(std::move(*v));
    }
    ids.push_back(source.RecordId());
    rows.push_back(std::move(values));
  }
  source.Release();

  RemoveTable(to);
  if (!CreateTable(to, fields)) return Failed(r, "cannot create " + to);
  std::int32_t recordSize = 0;
  {
    RecordTable target;
    bool ok = target.Open(to).ok();
    if (ok) {
      target.SetCutOverlongText(false);
      recordSize = target.RecordSize();
      ok = target.Hold(true).ok();
      target.SetBufferedAppends(true);
      for (std::size_t k = 0; ok && k < rows.size(); ++k) ok = target.Append(rows[k]).ok();
      ok = target.Release() && ok && target.Sync();
    }
    if (!ok) {
      target.Close();
      RemoveTable(to);
      return Failed(r, "cannot write " + to);
    }
  }
  if (!WriteIds(to, ids, nextId, recordSize, fields.size())) {
    RemoveTable(to);
    return Failed(r, "cannot write the record ids into " + to);
  }

  // Read back: the same ids, marks and values in the same order.
  RecordTable check;
  bool same = check.Open(to) && check.RecordCount() == count && check.NextRecordId() == nextId;
  if (same && count > 0) check.GoTo(1);
  for (std::int32_t n = 0; same && n < count; ++n, check.Skip()) {
    same = check.RecordId() == ids[static_cast<std::size_t>(n)];
    for (std::size_t k = 0; same && k < fields.size(); ++k)
      same = check.ReadTextAt(static_cast<int>(k)) == rows[static_cast<std::size_t>(n)][k];
  }
  check.Close();
  if (!same) {
    RemoveTable(to);
    return Failed(r, "the copy in " + to + " does not read back as the source");
  }
  r.status = TableCopy::Status::kCopied;
  r.records = count;
  for (std::int32_t id : ids) r.marked += id <= 0 ? 1 : 0;
  return r;
}

TableHealth CheckTableFile(const std::string& path) {
  TableHealth h;
  RecordTable t;
  if (!t.Open(path)) {
    h.problems.push_back(
        "cannot be opened (missing, damaged header or field list, damaged companion file, or locked)");
    return h;
  }
  h.opened = true;
  if (!t.Hold(false)) {
    h.problems.push_back("cannot be locked");
    return h;
  }
  h.records = t.RecordCount();
  bool blocks = false;
  for (const FieldInfo& f : t.Fields()) blocks = blocks || f.type == fmt::kBytes || f.type == fmt::kLongText;
  if (h.records > 0) t.GoTo(1);
  for (std::int32_t r = 0; r < h.records; ++r, t.Skip()) {
    if (t.RecordId() <= 0) ++h.marked;
    for (std::size_t i = 0; i < t.Fields().size(); ++i) {
      if (!t.ReadValue(static_cast<int>(i)))
        h.problems.push_back("record " + std::to_string(r + 1) + ", field " +
                             GbkToUtf8Lossy(t.Fields()[i].name) +
                             ": value cannot be read (damaged block chain)");
    }
  }
  if (blocks) {
    const std::optional<BlockReport> report = t.CheckBlocks();
    if (!report)
      h.problems.push_back("companion file: the blocks in use cannot be read");
    else
      for (const std::string& p : report->problems)
        h.problems.push_back("companion file: free list damaged: " + p);
  }
  t.Release();
  return h;
}

std::optional<std::vector<std::string>> ReadTableFieldNames(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  FileIo& io = DefaultFileIo();
  std::optional<std::vector<std::string>> names;
  char head[fmt::kDescriptorsOffset];
  if (ReadFully(io, fd, head, sizeof head, 0) &&
      std::string_view(head, 4) == std::string_view(fmt::kTableMagic, 4)) {
    const std::int32_t n = DecodeInt32(head + fmt::kFieldCountOffset);
    if (n > 0 && n <= 4096) {
      std::vector<char> list(static_cast<std::size_t>(n) * fmt::kDescriptorSize);
      if (ReadFully(io, fd, list.data(), list.size(), fmt::kDescriptorsOffset)) {
        names.emplace();
        for (std::int32_t i = 0; i < n; ++i) {
          const char* d = list.data() + static_cast<std::size_t>(i) * fmt::kDescriptorSize;
          std::size_t len = 0;
          while (len < fmt::kNameSize && d[len] != '\0') ++len;
          if (len == fmt::kNameSize) {
            names.reset();
            break;
          }
          names->emplace_back(d, len);
        }
      }
    }
  }
  ::close(fd);
  return names;
}

}  // namespace autodeliver
