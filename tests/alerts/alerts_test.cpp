// The alert channels against local imitations on loopback: the exact
// request of each webhook channel over HTTPS with a throw-away certificate
// (the robot's signature computed here, with OpenSSL, and compared), the
// certificate check, mail over STARTTLS with a login, the queue's retries,
// back-off, repeat interval and bound, the secrets file, and whole delivery
// cycles whose IM client refuses every message.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "../delivery/delivery_fixture.h"
#include "alerts/alert_channels.h"
#include "alerts/alert_sender.h"
#include "alerts/alert_settings.h"
#include "alerts/daily_summary.h"
#include "delivery/fan_out.h"
#include "delivery/log.h"
#include "delivery/notification_policy.h"
#include "delivery/notification_settings.h"
#include "http/cookie_store.h"
#include "http/tls_trust.h"
#include "local_servers.h"
#include "store/settings.h"
#include "support/shop_folder.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

namespace fs = std::filesystem;
using testing::FileText;
using testing::LocalServer;
using testing::RecordedRequest;
using testing::RecordedRequests;

std::string LocalTime(std::time_t at) {
  std::tm tm{};
  localtime_r(&at, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string PercentDecoded(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

std::string Base64Decoded(std::string s) {
  std::erase_if(s, [](char c) { return c == '\r' || c == '\n'; });
  std::string out(s.size(), '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(s.data()), static_cast<int>(s.size()));
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  while (!s.empty() && s.back() == '=') {
    out.pop_back();
    s.pop_back();
  }
  return out;
}

// The value of `key` in a query text, as written (not decoded).
std::string QueryValue(const std::string& target, const std::string& key) {
  const std::size_t q = target.find('?');
  if (q == std::string::npos) return {};
  const std::string query = "&" + target.substr(q + 1) + "&";
  const std::size_t at = query.find("&" + key + "=");
  if (at == std::string::npos) return {};
  const std::size_t from = at + key.size() + 2;
  return query.substr(from, query.find('&', from) - from);
}

// The alert every channel test sends.
Alert SampleAlert() {
  Alert a;
  a.kind = "stock_warning";
  a.subject = "点卡";
  a.title = "库存预警";
  a.text = "宝贝“点卡”库存只剩 1 张，请及时补货。";
  a.shop = "小店\"一号\"";
  a.at = 1765416600;
  return a;
}

// A throw-away certificate, the HTTPS webhook imitation and the CA file
// variable pointing at the certificate.
class WebhookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::MakeTestCertificate(dir_)) << "openssl could not make a certificate";
    fs::create_directories(dir_ / "record");
    setenv(kCaFileVariable, (dir_ / "cert.pem").c_str(), 1);
  }
  void TearDown() override { unsetenv(kCaFileVariable); }
  std::unique_ptr<LocalServer> StartWebhooks(int failFirst = 0) {
    return std::make_unique<LocalServer>(
        "webhook_sim.py", std::vector<std::string>{
                              "--record", (dir_ / "record").string(), "--cert", (dir_ / "cert.pem").string(),
                              "--key", (dir_ / "key.pem").string(), "--fail", std::to_string(failFirst)});
  }
  std::vector<RecordedRequest> Requests() const { return RecordedRequests(dir_ / "record"); }

  testing::TempDir temp_;
  fs::path dir_ = temp_.path();
};

TEST_F(WebhookTest, EachChannelSendsItsExactRequest) {
  auto server = StartWebhooks();
  ASSERT_TRUE(server->ok());
  const std::string base = "https://127.0.0.1:" + std::to_string(server->port());
  const Alert alert = SampleAlert();
  const std::string text =
      "【库存预警】宝贝“点卡”库存只剩 1 张，请及时补货。\n店铺：小店\"一号\"\n时间：" + LocalTime(alert.at);
  const std::string jsonText =
      "【库存预警】宝贝“点卡”库存只剩 1 张，请及时补货。\\n店铺：小店\\\"一号\\\"\\n时间：" +
      LocalTime(alert.at);
  const std::string textMessage = "{\"msgtype\":\"text\",\"text\":{\"content\":\"" + jsonText + "\"}}";
  const std::string form = "title=" + PercentEncode("库存预警") + "&body=" + PercentEncode(text);
  const struct {
    AlertChannelKind kind;
    std::string url;
    bool post;
    std::string method, target, contentType, body;  // target without the signature
  } cases[] = {
      {AlertChannelKind::kTextRobot, base + "/robot/send?key=K1", true, "POST", "/robot/send?key=K1",
       "application/json; charset=utf-8", textMessage},
      {AlertChannelKind::kSignedRobot, base + "/robot/send?access_token=T2", true, "POST",
       "/robot/send?access_token=T2", "application/json; charset=utf-8", textMessage},
      {AlertChannelKind::kPushApp, base + "/push/K3.send", false, "GET", "/push/K3.send?" + form, "", ""},
      {AlertChannelKind::kPushApp, base + "/push/K4.send?", true, "POST", "/push/K4.send?",
       "application/x-www-form-urlencoded", form},
      {AlertChannelKind::kJsonWebhook, base + "/events", true, "POST", "/events",
       "application/json; charset=utf-8",
       "{\"kind\":\"stock_warning\",\"title\":\"库存预警\",\"text\":\"宝贝“点卡”库存只剩 1 "
       "张，请及时补货。\","
       "\"item\":\"点卡\",\"shop\":\"小店\\\"一号\\\"\",\"time\":\"" +
           LocalTime(alert.at) + "\",\"timestamp\":1765416600}"},
  };
  const std::string secret = "SECabc+/=123";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    AlertChannel channel;
    channel.kind = c.kind;
    channel.enabled = true;
    channel.url = c.url;
    channel.pushWithPost = c.post;
    channel.signingSecret = c.kind == AlertChannelKind::kSignedRobot ? secret : "";
    const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const ChannelAnswer answer = SendThroughChannel(channel, alert);
    EXPECT_TRUE(answer.ok) << answer.detail;
    const std::vector<RecordedRequest> got = Requests();
    ASSERT_FALSE(got.empty());
    const RecordedRequest& r = got.back();
    EXPECT_EQ(r.method, c.method);
    EXPECT_EQ(r.contentType, c.contentType);
    EXPECT_EQ(r.body, c.body);
    if (c.kind != AlertChannelKind::kSignedRobot) {
      EXPECT_EQ(r.target, c.target);
      continue;
    }
    // "&timestamp=<ms>&sign=<signature>" follows the seller's URL; the
    // signature is the HMAC-SHA256 of "<ms>\n<secret>" keyed with the
    // secret, base64, percent-encoded.
    const std::string stamp = QueryValue(r.target, "timestamp");
    EXPECT_EQ(r.target.substr(0, c.target.size() + 1), c.target + "&");
    ASSERT_FALSE(stamp.empty());
    const long long ms = std::stoll(stamp);
    EXPECT_GE(ms, before);
    EXPECT_LE(ms, before + 60000);
    const std::string toSign = stamp + "\n" + secret;
    unsigned char mac[32];
    unsigned int macLength = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(toSign.data()), toSign.size(), mac, &macLength);
    unsigned char b64[64] = {};
    EVP_EncodeBlock(b64, mac, static_cast<int>(macLength));
    const std::string sign = QueryValue(r.target, "sign");
    EXPECT_EQ(PercentDecoded(sign), std::string(reinterpret_cast<char*>(b64)));
    EXPECT_EQ(sign.find_first_of("+/="), std::string::npos)
        << "the signature must be percent-encoded: " << sign;
  }
  EXPECT_EQ(Requests().size(), std::size(cases));
}

TEST_F(WebhookTest, CertificatesAreCheckedAndRefusalsAreFailures) {
  auto server = StartWebhooks();
  ASSERT_TRUE(server->ok());
  AlertChannel channel;
  channel.kind = AlertChannelKind::kTextRobot;
  channel.enabled = true;
  channel.url = "https://127.0.0.1:" + std::to_string(server->port()) + "/robot";
  // Without the test CA the self-signed certificate is not trusted: nothing
  // reaches the server.
  unsetenv(kCaFileVariable);
  EXPECT_FALSE(SendThroughChannel(channel, SampleAlert()).ok);
  EXPECT_TRUE(Requests().empty());

  const struct {
    HttpOutcome outcome;
    long status;
    std::string body;
    bool ok;
  } answers[] = {
      {HttpOutcome::kAnswered, 200, R"({"errcode":0,"errmsg":"ok"})", true},
      {HttpOutcome::kAnswered, 204, "", true},
      {HttpOutcome::kAnswered, 200, R"({"errcode": 310000, "errmsg":"sign not match"})", false},
      {HttpOutcome::kAnswered, 500, "", false},
      {HttpOutcome::kAnswered, 302, "", false},
      {HttpOutcome::kFailed, 0, "", false},
      {HttpOutcome::kTimedOut, 0, "", false},
  };
  for (const auto& a : answers) {
    HttpSendResult result;
    result.outcome = a.outcome;
    result.status = a.status;
    result.body = a.body;
    EXPECT_EQ(JudgeHttpAnswer(result).ok, a.ok) << a.status << " " << a.body;
  }
}

// The sender with a recorded back-off and a clock the test moves.
class SenderTest : public ::testing::Test {
 protected:
  AlertSender::Hooks Hooks(std::vector<AlertChannel> usable) {
    AlertSender::Hooks hooks;
    hooks.settings = [usable] {
      AlertSettings s;
      s.shopName = "小店";
      for (const AlertChannel& c : usable) s.channel(c.kind) = c;
      return s;
    };
    hooks.now = [this] { return now_.load(); };
    hooks.wait = [this](std::chrono::milliseconds pause, const std::function<bool()>&) {
      std::lock_guard<std::mutex> lock(mutex_);
      waits_.push_back(pause);
    };
    hooks.log = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(line);
    };
    hooks.trouble = [this](const std::string& names) {
      std::lock_guard<std::mutex> lock(mutex_);
      trouble_.push_back(names);
    };
    return hooks;
  }
  static AlertChannel Channel(AlertChannelKind kind, std::string url) {
    AlertChannel c;
    c.kind = kind;
    c.enabled = true;
    c.url = std::move(url);
    return c;
  }
  static Notification Note(NotificationKind kind, std::string subject) {
    return {kind, "标题", "正文", std::move(subject)};
  }

  std::atomic<std::time_t> now_{1765416600};
  std::mutex mutex_;
  std::vector<std::chrono::milliseconds> waits_;
  std::vector<std::string> log_;
  std::vector<std::string> trouble_;
};

TEST_F(SenderTest, AFailedSendIsRetriedWithBackOffOnTheRealChannel) {
  const testing::TempDir temp;
  const fs::path dir = temp.path();
  ASSERT_TRUE(testing::MakeTestCertificate(dir));
  setenv(kCaFileVariable, (dir / "cert.pem").c_str(), 1);
  {
    LocalServer server("webhook_sim.py", {"--record", dir.string(), "--cert", (dir / "cert.pem").string(),
                                          "--key", (dir / "key.pem").string(), "--fail", "2"});
    ASSERT_TRUE(server.ok());
    AlertSender sender(Hooks({Channel(AlertChannelKind::kTextRobot,
                                      "https://127.0.0.1:" + std::to_string(server.port()) + "/r")}));
    sender.Notify(Note(NotificationKind::kImFailed, ""));
    ASSERT_TRUE(sender.WaitIdle(std::chrono::seconds(60)));
    EXPECT_EQ(sender.delivered(), 1);
    EXPECT_EQ(sender.givenUp(), 0);
    EXPECT_EQ(RecordedRequests(dir).size(), 3u);  // two answered 500, the third taken
  }
  unsetenv(kCaFileVariable);
  using ms = std::chrono::milliseconds;
  EXPECT_EQ(waits_, (std::vector<ms>{ms(10000), ms(30000)}));
  EXPECT_TRUE(log_.empty());
  EXPECT_TRUE(trouble_.empty());
}

TEST_F(SenderTest, AChannelThatKeepsFailingIsReportedOnceAndLoggedWithoutItsKey) {
  const AlertChannel broken = Channel(AlertChannelKind::kPushApp, "https://push.example/KEY-123.send");
  const AlertChannel working = Channel(AlertChannelKind::kJsonWebhook, "https://hook.example/in");
  std::atomic<bool> brokenWorks{false};
  std::atomic<int> attempts{0};
  AlertSender::Hooks hooks = Hooks({broken, working});
  hooks.send = [&](const AlertChannel& c, const Alert&) -> ChannelAnswer {
    if (c.kind == AlertChannelKind::kPushApp) ++attempts;
    if (c.kind == AlertChannelKind::kPushApp && !brokenWorks)
      return {false, "failed: Could not resolve host push.example for https://push.example/KEY-123.send"};
    return {true, "HTTP 200"};
  };
  AlertSender sender(hooks);
  sender.Notify(Note(NotificationKind::kImFailed, ""));
  sender.Notify(Note(NotificationKind::kLoginExpired, ""));
  ASSERT_TRUE(sender.WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(attempts, 8);  // 4 attempts for each alert
  EXPECT_EQ(sender.delivered(), 2);
  EXPECT_EQ(sender.givenUp(), 2);
  EXPECT_EQ(trouble_, std::vector<std::string>{"推送应用"});
  // The program hands the report to the status figures; the line says it.
  DeliveryStatus status;
  status.SetAlertChannelsFailing(trouble_.back());
  EXPECT_EQ(StatusLineText(status.Figures(), -1),
            "手机提醒发送失败：推送应用 | 尚未扫描 | 今日发货 0 笔 | 等待补货 0 笔 | 自动发货未开启");
  ASSERT_EQ(log_.size(), 2u);  // one line per alert given up
  for (const std::string& line : log_) {
    EXPECT_NE(line.find("推送应用"), std::string::npos) << line;
    EXPECT_EQ(line.find("KEY-123"), std::string::npos) << line;
  }
  brokenWorks = true;
  sender.Notify(Note(NotificationKind::kPageUnpaired, ""));
  ASSERT_TRUE(sender.WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(trouble_, (std::vector<std::string>{"推送应用", ""}));
  EXPECT_NE(log_.back().find("已恢复"), std::string::npos);
}

TEST_F(SenderTest, RepeatsOfOneKindAndItemWithinTheIntervalAreHeldBack) {
  std::mutex sentMutex;
  std::vector<std::string> sent;
  AlertSender::Hooks hooks = Hooks({Channel(AlertChannelKind::kTextRobot, "https://r.example/x")});
  hooks.send = [&](const AlertChannel&, const Alert& a) -> ChannelAnswer {
    std::lock_guard<std::mutex> lock(sentMutex);
    sent.push_back(a.kind + "/" + a.subject);
    return {true, ""};
  };
  AlertSender sender(hooks);
  using K = NotificationKind;
  const struct {
    int minute;
    K kind;
    std::string subject;
    bool sent;
  } steps[] = {
      {0, K::kImFailed, "", true},          {1, K::kImFailed, "", false},
      {2, K::kStockWarning, "点卡", true},  {3, K::kStockWarning, "Q币", true},
      {4, K::kStockWarning, "点卡", false}, {29, K::kImFailed, "", false},
      {30, K::kImFailed, "", true},         {33, K::kStockWarning, "点卡", true},
  };
  const std::time_t start = now_;
  std::size_t expected = 0;
  for (const auto& s : steps) {
    now_ = start + s.minute * 60;
    sender.Notify(Note(s.kind, s.subject));
    ASSERT_TRUE(sender.WaitIdle(std::chrono::seconds(20)));
    if (s.sent) ++expected;
    std::lock_guard<std::mutex> lock(sentMutex);
    EXPECT_EQ(sent.size(), expected) << "minute " << s.minute;
  }
  EXPECT_EQ(sender.heldBack(), 3);
  // The daily summary and the test message are never held back.
  EXPECT_TRUE(sender.Send(DailySummaryAlert({}, now_)));
  EXPECT_TRUE(sender.Send(DailySummaryAlert({}, now_)));
  ASSERT_TRUE(sender.WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(sender.delivered(), static_cast<int>(expected) + 2);
}

TEST_F(SenderTest, TheQueueIsBoundedAndNeverHoldsTheCallerBack) {
  std::mutex gateMutex;
  std::condition_variable gateOpened;
  bool open = false;
  AlertSender::Hooks hooks = Hooks({Channel(AlertChannelKind::kTextRobot, "https://r.example/x")});
  hooks.send = [&](const AlertChannel&, const Alert&) -> ChannelAnswer {
    std::unique_lock<std::mutex> lock(gateMutex);
    gateOpened.wait_for(lock, std::chrono::seconds(30), [&] { return open; });
    return {true, ""};
  };
  AlertSender sender(hooks);
  // The first is taken by the thread (which then waits at the gate), the
  // next kQueueBound wait, the rest are dropped, while Notify returns at once.
  const int total = 1 + static_cast<int>(AlertSender::kQueueBound) + 3;
  sender.Notify(Note(NotificationKind::kStockWarning, "item-0"));
  EXPECT_FALSE(sender.WaitIdle(std::chrono::milliseconds(50)));
  for (int i = 1; i < total; ++i)
    sender.Notify(Note(NotificationKind::kStockWarning, "item-" + std::to_string(i)));
  EXPECT_EQ(sender.dropped(), 3);
  {
    std::lock_guard<std::mutex> lock(gateMutex);
    open = true;
  }
  gateOpened.notify_all();
  ASSERT_TRUE(sender.WaitIdle(std::chrono::seconds(30)));
  EXPECT_EQ(sender.delivered(), total - 3);
}

// A temporary program directory with the tables.
class AlertStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(shop_.ok()) << shop_.error(); }
  ShopContext& shop() { return shop_.context(); }

  testing::ShopFolder shop_;
  fs::path dir_ = shop_.path();
};

TEST_F(AlertStoreTest, SecretsLiveInAnOwnerOnlyFileAndNotInTheSettingsTable) {
  AlertSettings s;
  s.shopName = "小店";
  s.repeatMinutes = 45;
  s.dailySummary = true;
  s.summaryHour = 8;
  s.channel(AlertChannelKind::kSignedRobot).enabled = true;
  s.channel(AlertChannelKind::kSignedRobot).url = "https://r.example/send?access_token=TOKEN-1";
  s.channel(AlertChannelKind::kSignedRobot).signingSecret = "SEC-2";
  s.channel(AlertChannelKind::kPushApp).enabled = true;
  s.channel(AlertChannelKind::kPushApp).url = "https://p.example/KEY-3.send";
  s.channel(AlertChannelKind::kPushApp).pushWithPost = true;
  AlertChannel& mail = s.channel(AlertChannelKind::kMail);
  mail.enabled = true;
  mail.mailServer = "smtps://mail.example:465";
  mail.mailUser = "seller";
  mail.mailPassword = "line1\nPASS\\4";
  mail.mailFrom = "seller@example.com";
  mail.mailTo = "a@example.com, b@example.com";
  ASSERT_TRUE(StoreAlertSettings(shop(), s));

  struct stat st {};
  ASSERT_EQ(::stat(AlertSecretsPath(shop()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string table = FileText(shop().SettingsTablePath());
  for (const char* secret : {"TOKEN-1", "SEC-2", "KEY-3", "PASS"}) {
    EXPECT_EQ(table.find(secret), std::string::npos) << secret;
    EXPECT_NE(FileText(AlertSecretsPath(shop())).find(secret), std::string::npos) << secret;
  }
  const AlertSettings back = LoadAlertSettings(shop());
  EXPECT_EQ(back.shopName, "小店");
  EXPECT_EQ(back.repeatMinutes, 45);
  EXPECT_TRUE(back.dailySummary);
  EXPECT_EQ(back.summaryHour, 8);
  for (std::size_t i = 0; i < kAlertChannelCount; ++i) {
    const AlertChannel& a = s.channels[i];
    const AlertChannel& b = back.channels[i];
    EXPECT_EQ(std::tie(a.enabled, a.url, a.signingSecret, a.pushWithPost, a.mailServer, a.mailUser,
                       a.mailPassword, a.mailFrom, a.mailTo),
              std::tie(b.enabled, b.url, b.signingSecret, b.pushWithPost, b.mailServer, b.mailUser,
                       b.mailPassword, b.mailFrom, b.mailTo))
        << AlertChannelCaption(a.kind);
  }
  // Stored twice, the rows are not added again.
  const std::size_t rows = GetSettingValues(shop(), Utf8ToGbkLossy("提醒:店铺名称")).size();
  ASSERT_TRUE(StoreAlertSettings(shop(), back));
  EXPECT_EQ(GetSettingValues(shop(), Utf8ToGbkLossy("提醒:店铺名称")).size(), rows);
  // A secrets file left readable by others is tightened when read.
  ASSERT_EQ(::chmod(AlertSecretsPath(shop()).c_str(), 0644), 0);
  LoadAlertSettings(shop());
  ASSERT_EQ(::stat(AlertSecretsPath(shop()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(AlertStoreTest, TheDailySummaryGoesOutOncePerDay) {
  std::mutex sentMutex;
  std::vector<std::string> sent;
  AlertSender::Hooks hooks;
  hooks.send = [&](const AlertChannel&, const Alert& a) -> ChannelAnswer {
    std::lock_guard<std::mutex> lock(sentMutex);
    sent.push_back(a.text);
    return {true, ""};
  };
  hooks.settings = [this] { return LoadAlertSettings(shop()); };  // the table's
  AlertSender sender(hooks);
  AlertSettings settings;
  settings.dailySummary = true;
  settings.summaryHour = 0;
  settings.channel(AlertChannelKind::kTextRobot).enabled = true;
  settings.channel(AlertChannelKind::kTextRobot).url = "https://r.example/x";
  ASSERT_TRUE(StoreAlertSettings(shop(), settings));
  ASSERT_TRUE(DailySummaryWanted(shop()));
  DeliveryStatusFigures figures;
  figures.deliveredToday = 7;
  const std::time_t now = std::time(nullptr);
  EXPECT_TRUE(SendDailySummaryIfDue(shop(), sender, LoadAlertSettings(shop()), figures, now));
  EXPECT_FALSE(
      SendDailySummaryIfDue(shop(), sender, LoadAlertSettings(shop()), figures, now + 60));  // the same day
  EXPECT_EQ(LastDailySummaryDay(shop()), LocalDay(now));
  ASSERT_TRUE(sender.WaitIdle(std::chrono::seconds(20)));
  std::lock_guard<std::mutex> lock(sentMutex);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].rfind("今日发货 7 笔；未送达买家 0 笔；等待补货 0 笔；库存偏低：", 0), 0u) << sent[0];
}

TEST(DailySummaryTest, DueOncePerDayFromTheChosenHour) {
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 11;
  tm.tm_mday = 11;
  tm.tm_hour = 20;
  tm.tm_min = 59;
  tm.tm_isdst = -1;
  const std::time_t before = std::mktime(&tm);
  const std::time_t at = before + 60;
  EXPECT_FALSE(DailySummaryDue(before, 21, ""));
  EXPECT_TRUE(DailySummaryDue(at, 21, ""));
  EXPECT_TRUE(DailySummaryDue(at, 21, "2026-12-10"));
  EXPECT_FALSE(DailySummaryDue(at, 21, "2026-12-11"));
  EXPECT_EQ(DailySummaryAlert({12, 1, 2, {{"点卡10元", 2}, {"Q币", 0}}}, at).text,
            "今日发货 12 笔；未送达买家 1 笔；等待补货 2 笔；库存偏低：点卡10元（剩 2 张）、Q币（剩 0 张）");
}

// The mail server with STARTTLS and a login.
class MailTest : public WebhookTest {
 protected:
  std::unique_ptr<LocalServer> StartMail(const std::string& mode = "starttls") {
    fs::create_directories(dir_ / "mail");
    return std::make_unique<LocalServer>(
        "mail_sim.py",
        std::vector<std::string>{"--outdir", (dir_ / "mail").string(), "--cert", (dir_ / "cert.pem").string(),
                                 "--key", (dir_ / "key.pem").string(), "--user", "seller", "--password",
                                 "MAILPASS-9", "--mode", mode});
  }
  AlertChannel MailChannel(int port) {
    AlertChannel c;
    c.kind = AlertChannelKind::kMail;
    c.enabled = true;
    c.mailServer = "smtp://127.0.0.1:" + std::to_string(port);
    c.mailUser = "seller";
    c.mailPassword = "MAILPASS-9";
    c.mailFrom = "shop@example.com";
    c.mailTo = "phone@example.com; boss@example.com";
    return c;
  }
};

TEST_F(MailTest, TheAlertArrivesOverStartTlsWithTheLogin) {
  auto server = StartMail();
  ASSERT_TRUE(server->ok()) << "the mail server did not start (python3-aiosmtpd)";
  AlertChannel channel = MailChannel(server->port());
  const ChannelAnswer answer = SendThroughChannel(channel, SampleAlert());
  ASSERT_TRUE(answer.ok) << answer.detail;
  const std::string mail = FileText(dir_ / "mail" / "1.eml");
  EXPECT_EQ(FileText(dir_ / "mail" / "1.env"),
            "from shop@example.com\nto phone@example.com\nto boss@example.com\n");
  EXPECT_NE(mail.find("Subject: =?UTF-8?B?" + Base64("[自动发货] 库存预警") + "?="), std::string::npos)
      << mail;
  EXPECT_NE(mail.find("To: phone@example.com, boss@example.com"), std::string::npos);
  const std::size_t bodyAt = mail.find("\r\n\r\n");
  ASSERT_NE(bodyAt, std::string::npos);
  EXPECT_EQ(Base64Decoded(mail.substr(bodyAt + 4)),
            "【库存预警】宝贝“点卡”库存只剩 1 张，请及时补货。\n店铺：小店\"一号\"\n时间：" +
                LocalTime(SampleAlert().at));
  EXPECT_EQ(mail.find("MAILPASS"), std::string::npos);

  // A wrong password, or no trust in the server's certificate, sends nothing.
  channel.mailPassword = "wrong";
  EXPECT_FALSE(SendThroughChannel(channel, SampleAlert()).ok);
  channel.mailPassword = "MAILPASS-9";
  unsetenv(kCaFileVariable);
  EXPECT_FALSE(SendThroughChannel(channel, SampleAlert()).ok);
  EXPECT_FALSE(fs::exists(dir_ / "mail" / "2.eml"));
}

// An "smtps://" server is spoken to in TLS from the start; a server that
// offers no TLS gets neither the login nor the mail.
TEST_F(MailTest, MailGoesOnlyOverTls) {
  const struct {
    std::string mode, scheme;
    bool sent;
  } cases[] = {{"implicit", "smtps://", true}, {"plain", "smtp://", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    fs::remove_all(dir_ / "mail");
    auto server = StartMail(c.mode);
    ASSERT_TRUE(server->ok());
    AlertChannel channel = MailChannel(server->port());
    channel.mailServer = c.scheme + "127.0.0.1:" + std::to_string(server->port());
    const ChannelAnswer answer = SendThroughChannel(channel, SampleAlert());
    EXPECT_EQ(answer.ok, c.sent) << answer.detail;
    EXPECT_EQ(fs::exists(dir_ / "mail" / "1.eml"), c.sent);
  }
}

// Whole delivery cycles on the marketplace imitation with an IM client that
// takes no message, every channel configured.
class AlertDeliveryTest : public testing::DeliveryFixture {
 protected:
  void SetUp() override {
    DeliveryFixture::SetUp();
    ASSERT_TRUE(testing::MakeTestCertificate(certDir_));
    setenv(kCaFileVariable, (certDir_ / "cert.pem").c_str(), 1);
  }
  void TearDown() override {
    unsetenv(kCaFileVariable);
    DeliveryFixture::TearDown();
  }
  testing::TempDir certTemp_;
  fs::path certDir_ = certTemp_.path();
};

TEST_F(AlertDeliveryTest, AnImClientThatTakesNothingGivesOneAlertPerChannelNotOnePerCycle) {
  fs::create_directories(certDir_ / "record");
  fs::create_directories(certDir_ / "mail");
  const std::string cert = (certDir_ / "cert.pem").string(), key = (certDir_ / "key.pem").string();
  LocalServer hooks("webhook_sim.py",
                    {"--record", (certDir_ / "record").string(), "--cert", cert, "--key", key});
  LocalServer mail("mail_sim.py", {"--outdir", (certDir_ / "mail").string(), "--cert", cert, "--key", key,
                                   "--user", "seller", "--password", "MAILPASS-9"});
  ASSERT_TRUE(hooks.ok() && mail.ok());
  const std::string base = "https://127.0.0.1:" + std::to_string(hooks.port());
  AlertSettings settings;
  settings.shopName = "测试小店";
  auto enable = [&](AlertChannelKind kind, const std::string& url) {
    settings.channel(kind).enabled = true;
    settings.channel(kind).url = url;
  };
  enable(AlertChannelKind::kSignedRobot, base + "/signed?access_token=TOKEN-A");
  settings.channel(AlertChannelKind::kSignedRobot).signingSecret = "SIGNSECRET-B";
  enable(AlertChannelKind::kTextRobot, base + "/text?key=KEY-C");
  enable(AlertChannelKind::kPushApp, base + "/push/KEY-D.send");
  enable(AlertChannelKind::kJsonWebhook, base + "/json/HOOK-E");
  AlertChannel& m = settings.channel(AlertChannelKind::kMail);
  m.enabled = true;
  m.mailServer = "smtp://127.0.0.1:" + std::to_string(mail.port());
  m.mailUser = "seller";
  m.mailPassword = "MAILPASS-9";
  m.mailFrom = "shop@example.com";
  m.mailTo = "phone@example.com";
  ASSERT_TRUE(StoreAlertSettings(shop(), settings));

  DeliveryLog::Options logOptions;
  logOptions.path = (dir_ / "logs" / "delivery.log").string();
  DeliveryLog log(logOptions);
  AlertSender::Hooks senderHooks;
  senderHooks.log = [&log](const std::string& line) { log.Write(LineLevel::kWarning, line); };
  // The settings from the table and the secrets file, real channels.
  senderHooks.settings = [this] { return LoadAlertSettings(shop()); };
  AlertSender alerts(senderHooks);
  NotificationPolicy policy(&alerts, StoredNotificationSwitches(shop()));
  DeliveryEventsFanOut events;
  events.Add(&log);
  events.Add(&policy);

  const std::string card = "点卡"_gbk;
  Monitor(card);
  // Enough stock that no warning joins in: the one problem is the IM client.
  Stock(card, {{"CARDNO-1", "CARDPW-1"},
               {"CARDNO-2", "CARDPW-2"},
               {"CARDNO-3", "CARDPW-3"},
               {"CARDNO-4", "CARDPW-4"}});
  sender_.handedOver = false;
  for (int cycle = 0; cycle < 3; ++cycle) {
    PlaceOrder("点卡", 1, "买家" + std::to_string(cycle));
    RunDeliveryCycle(shop(), sender_, stop_, &events);
  }
  ASSERT_EQ(sender_.sent.size(), 3u) << "each cycle should have tried one message";
  ASSERT_TRUE(alerts.WaitIdle(std::chrono::seconds(60)));
  EXPECT_EQ(alerts.givenUp(), 0);

  const std::vector<RecordedRequest> requests = RecordedRequests(certDir_ / "record");
  std::vector<std::string> paths;
  for (const RecordedRequest& r : requests) paths.push_back(r.target.substr(0, r.target.find_first_of("?.")));
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"/json/HOOK-E", "/push/KEY-D", "/signed", "/text"}));
  EXPECT_TRUE(fs::exists(certDir_ / "mail" / "1.eml"));
  EXPECT_FALSE(fs::exists(certDir_ / "mail" / "2.eml"));

  // The alert names the problem; nothing secret is in any request, the mail
  // or the log.
  std::string everything;
  for (const RecordedRequest& r : requests) {
    everything += r.target + "\n" + r.body + "\n";
    if (r.target.rfind("/json", 0) == 0) {
      EXPECT_NE(r.body.find("\"kind\":\"im_failed\""), std::string::npos) << r.body;
    }
  }
  const std::string mailText = FileText(certDir_ / "mail" / "1.eml");
  EXPECT_NE(Base64Decoded(mailText.substr(mailText.find("\r\n\r\n") + 4)).find("店铺：测试小店"),
            std::string::npos);
  everything += mailText;
  log.Flush();
  const std::string logText = FileText(dir_ / "logs" / "delivery.log");
  ASSERT_FALSE(logText.empty());
  const std::string cookie = CookieStore::Global().CookieLineFor("127.0.0.1", "/", false);
  ASSERT_FALSE(cookie.empty());
  for (const std::string& secret : {std::string("CARDPW-"), std::string("CARDNO-"), cookie}) {
    EXPECT_EQ(everything.find(secret), std::string::npos) << secret;
    EXPECT_EQ(logText.find(secret), std::string::npos) << secret;
  }
  for (const char* secret : {"TOKEN-A", "SIGNSECRET-B", "KEY-C", "KEY-D", "HOOK-E", "MAILPASS-9"})
    EXPECT_EQ(logText.find(secret), std::string::npos) << secret;
}

}  // namespace
}  // namespace autodeliver
