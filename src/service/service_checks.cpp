// The notice and update checks; see service_checks.h.
#include "service/service_checks.h"

#include "http/answer_text.h"
#include "http/http_request.h"
#include "market/hosts.h"
#include "service/ini_file.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

// The key the update query is signed with.
constexpr char kAccessKey[] = "9f3a61c0e84b27d5a0c6e19f4b83d72e";

std::string AskService(const std::string& url) {
  return DecodeServiceAnswer(HttpRequest(url, "GET", {}, {}, kServiceAnswerLimit));
}

}  // namespace

std::string NoticeUrl() { return "http://" + ServiceHost() + "/plugin.php?id=network_ver:msg"; }

std::string UpdateUrl() {
  return "http://" + ServiceHost() + "/plugin.php?id=network_ver:updata&key=" + ShortDigest(kAccessKey) +
         "&t=" + TimeToken();
}

std::string ForumUrl() { return "http://" + ServiceHost() + "/thread-51-1-1.html"; }

void CheckNotice(Prompts& prompts) {
  const std::string answer = AskService(NoticeUrl());
  const std::string flag = TextBetween(answer, "[check]", "[check]");
  // An unreachable service or an unreadable answer leaves the flag empty:
  // there is nothing to tell the user then.
  if (flag.empty() || flag == "no_msg") return;
  const std::string text = ReplaceText(TextBetween(answer, "[msg]", "[msg]"), "\\n", "\r\n");
  prompts.ShowBox(text, "通知"_gbk, BoxKind::kInformation);
}

bool CheckUpdate(Prompts& prompts, const std::string& programDir) {
  const std::string answer = AskService(UpdateUrl());
  const std::string info = ReplaceText(TextBetween(answer, "[msg]", "[msg]"), "<br />", "\r\n");
  const std::string path = programDir + "/update.ini";
  WriteWholeFile(path, info);
  if (const std::string ver = ReadIniValue(path, "update", "ver"); ver.empty() || ver == kLocalVersion) {
    return true;
  }
  const std::string changes = ReplaceText(ReadIniValue(path, "update", "gx"), "\\n", "\r\n");
  const std::string ver = ReadIniValue(path, "update", "ver");
  const std::string text = "发现新版本"_gbk + ver + "\r\n\r\n" + changes + "\r\n\r\n" +
                           "是否立即在线更新"_gbk + "\r\n" +
                           "注:如果不更新继续使用版本可能会导致未知错误"_gbk;
  if (prompts.ShowBox(text, "检测更新"_gbk, BoxKind::kQuestion) != BoxAnswer::kYes) return true;
  prompts.OpenPage(ForumUrl());
  prompts.EndProgram(0);
  return false;
}

}  // namespace autodeliver
