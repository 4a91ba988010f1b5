// Fuzz target: the maker's service answers. The bytes are the body of both
// the notice and the update answer, served over a local socket; the
// real checks run on them, update.ini is written and read back, and the
// prompts they would show are taken by a stand-in.
#include "fuzz_targets.h"
#include "http/http_request.h"
#include "service/ini_file.h"
#include "service/service_checks.h"
#include "text/gbk.h"

namespace autodeliver::fuzz {
namespace {

class TakenPrompts : public Prompts {
 public:
  BoxAnswer ShowBox(const std::string& text, const std::string&, BoxKind kind) override {
    // Every text shown comes out of GB2312 conversion or the INI file.
    Require(GbkToUtf8(text).has_value(), "a prompt's text is GBK");
    return kind == BoxKind::kQuestion ? BoxAnswer::kNo : BoxAnswer::kOk;
  }
  void OpenPage(const std::string&) override {}
  void EndProgram(int) override {}
};

}  // namespace

int FuzzServiceAnswer(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n" + body;
  SetHttpTimeoutForTesting(std::chrono::seconds(5));
  TakenPrompts prompts;
  ServeAnswers({answer});
  CheckNotice(prompts);
  ServeAnswers({answer});
  CheckUpdate(prompts, ScratchDir());
  StopServingAnswers();
  SetHttpTimeoutForTesting(std::chrono::milliseconds(0));
  const std::string ini = ScratchDir() + "/update.ini";
  Require(ReadIniValue(ini, "update", "ver").size() <= kIniValueLimit, "an INI value is bounded");
  return 0;
}

}  // namespace autodeliver::fuzz
