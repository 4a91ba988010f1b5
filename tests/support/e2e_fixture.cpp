#include "support/e2e_fixture.h"

#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "http/answer_text.h"
#include "im/im_test_support.h"
#include "text/gbk.h"

namespace autodeliver::testing {

using namespace std::chrono_literals;

EndToEndTest::EndToEndTest(const std::string& instancePrefix)
    : instance_(instancePrefix + "-" + std::to_string(getpid())) {}

void EndToEndTest::SetUp() {
  ASSERT_TRUE(sim_.ok()) << "the marketplace imitation did not start";
  programDir_ = temp_ / "autodeliver";
  std::filesystem::create_directories(programDir_);
  ASSERT_EQ(WaitProcess(StartProcess({AUTODELIVER_TABLE_TOOL, "init", programDir_}), 60s), 0);
  shop_ = std::make_unique<ShopContext>(programDir_);
  setenv("AUTODELIVER_DIR", programDir_.c_str(), 1);
  setenv("AUTODELIVER_IM_INSTANCE", instance_.c_str(), 1);
  transcript_ = temp_ / "im-transcript.jsonl";
}

void EndToEndTest::TearDown() { unsetenv("AUTODELIVER_DIR"); }

void EndToEndTest::PrivateFolders(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const std::string dir = temp_ / name;
    std::filesystem::create_directories(dir);
    setenv(name, dir.c_str(), 1);
  }
}

demo::DemoSettings EndToEndTest::Settings(int stepTimeoutMs) const {
  demo::DemoSettings settings;
  settings.marketHost = sim_.host();
  settings.transcriptPath = transcript_;
  settings.stepTimeoutMs = stepTimeoutMs;
  return settings;
}

void EndToEndTest::Print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::vector<std::string> EndToEndTest::Transcript() const {
  std::vector<std::string> lines;
  if (!std::filesystem::exists(transcript_)) return lines;
  for (const std::string& line : ReadLines(transcript_)) {
    if (line.empty()) continue;
    const std::string text = JsonField(line, "text");
    EXPECT_EQ(JsonField(line, "textGbkHex"), HexOfBytes(Utf8ToGbkLossy(text))) << line;
    lines.push_back(JsonField(line, "seller") + "|" + JsonField(line, "buyer") + "|" + text);
  }
  return lines;
}

std::vector<std::string> EndToEndTest::SimList(const char* list, const char* field) const {
  std::vector<std::string> out;
  const QJsonObject state = QJsonDocument::fromJson(QByteArray::fromStdString(sim_.State())).object();
  for (const QJsonValue& v : state.value(QLatin1String(list)).toArray())
    out.push_back(v.toObject().value(QLatin1String(field)).toString().toStdString());
  return out;
}

int EndToEndTest::OrderListRequests() const {
  int n = 0;
  for (const std::string& target : SimList("requests", "target"))
    n += target.rfind("/user/order_list_new.htm", 0) == 0 ? 1 : 0;
  return n;
}

std::string EndToEndTest::DeliveryLog() const {
  return ReadFileBytes(programDir_ + "/data/logs/delivery.log");
}

}  // namespace autodeliver::testing
