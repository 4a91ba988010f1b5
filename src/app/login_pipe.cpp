// The login browser's pipe protocol; see login_pipe.h.
#include "app/login_pipe.h"

namespace autodeliver::login_pipe {

QByteArray Line(const QByteArray& word, std::initializer_list<QByteArray> fields) {
  QByteArray line = word;
  for (const QByteArray& field : fields) {
    line += ' ';
    line += field.toBase64();
  }
  line += '\n';
  return line;
}

std::optional<Message> Parse(const QByteArray& line) {
  const QList<QByteArray> parts = line.split(' ');
  if (parts.isEmpty() || parts.front().isEmpty()) return std::nullopt;
  Message message;
  message.word = parts.front();
  for (qsizetype i = 1; i < parts.size(); ++i) {
    auto decoded = QByteArray::fromBase64Encoding(parts[i], QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    message.fields.push_back(*decoded);
  }
  return message;
}

bool LineReader::Append(const QByteArray& bytes) {
  if (failed_) return false;
  buffer_ += bytes;
  // Every line but the last must be complete within the bound; the last
  // may still grow.
  qsizetype start = 0;
  for (qsizetype end = buffer_.indexOf('\n'); end >= 0; end = buffer_.indexOf('\n', start)) {
    if (end - start > kMaxLine) break;
    start = end + 1;
  }
  const qsizetype end = buffer_.indexOf('\n', start);
  if ((end < 0 ? buffer_.size() : end) - start > kMaxLine) {
    failed_ = true;
    buffer_.clear();
  }
  return !failed_;
}

std::optional<QByteArray> LineReader::Next() {
  if (failed_) return std::nullopt;
  const qsizetype end = buffer_.indexOf('\n');
  if (end < 0) return std::nullopt;
  QByteArray line = buffer_.left(end);
  buffer_.remove(0, end + 1);
  return line;
}

bool IsSignInAddress(const QByteArray& address) {
  return address.contains("quicklogin") || address.contains("my_taobao");
}

}  // namespace autodeliver::login_pipe
