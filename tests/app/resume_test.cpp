// A start after a run with the delivery switched on: the login browser's
// kept profile signs in again by itself (the marketplace's "remember me"
// cookie), and the delivery resumes with no action in the window; without
// the kept profile the sign-in is not recognised and the seller is told.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>

#include "app/application.h"
#include "app/login_browser.h"
#include "app/login_profile.h"
#include "app_test_support.h"
#include "delivery/remembered_switch.h"
#include "http/cookie_store.h"
#include "store/settings.h"
#include "support/program_env.h"

namespace autodeliver {
namespace {

using testing_support::WaitFor;

template <typename T = QWidget>
T* Find(QWidget& window, const char* name) {
  T* found = window.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// How many times the marketplace was asked for the order list.
int OrderListRequests(const testing::MarketSim& sim) {
  int count = 0;
  const QJsonObject state = QJsonDocument::fromJson(QByteArray::fromStdString(sim.State())).object();
  for (const QJsonValue& v : state.value(QLatin1String("requests")).toArray()) {
    if (v.toObject().value(QLatin1String("target")).toString().startsWith("/user/order_list_new.htm"))
      ++count;
  }
  return count;
}

bool LogSays(Application& program, const QString& text) {
  LogModel& model = program.watch().logPage.model();
  for (int r = 0; r < model.rowCount(); ++r) {
    if (model.entry(r).text.contains(text)) return true;
  }
  return false;
}

class ResumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(env_.problem(), "");
    // An IM client that exists: the start-up check takes the stored path.
    ASSERT_TRUE(SetSetting(shop(), ImClientPathSetting(), "/bin/true"));
  }

  ShopContext& shop() { return env_.shop(); }

  // The first run: the seller signs in with "记住我" and switches the
  // delivery on every `seconds`.
  void FirstRun(int seconds) {
    Application program(shop());
    ASSERT_TRUE(program.Start());
    MainWindow& window = program.window();
    LoginBrowserHost* browser = window.LoginBrowser();
    ASSERT_TRUE(WaitFor([&] { return browser->embedded() && !browser->url().isEmpty(); }, 60000));
    bool formSeen = false;
    ASSERT_TRUE(WaitFor(
        [&] {
          if (formSeen) return true;
          browser->RunScript("!!document.querySelector('[name=remember_me]')",
                             [&](const QJsonValue& v) { formSeen = v.toBool(); });
          return WaitFor([&] { return formSeen; }, 500);
        },
        60000));
    browser->RunScript(
        "document.querySelector('[name=TPL_username]').value = '测试卖家';"
        "document.querySelector('[name=TPL_password]').value = 'sim123';"
        "document.querySelector('[name=remember_me]').checked = true;"
        "document.querySelector('[name=TPL_username]').form.submit();");
    ASSERT_TRUE(WaitFor([&] { return window.PagesPrepared(); }, 60000));
    const auto child = static_cast<pid_t>(browser->processId());
    Find<QCheckBox>(window, "选择框2")->click();
    Find<QLineEdit>(window, "编辑框2")->setText(QString::number(seconds));
    Find<QPushButton>(window, "超级按钮4")->click();
    ASSERT_TRUE(WaitFor([&] { return Find<QTimer>(window, "自动发货时钟")->isActive(); }, 5000));
    // The browser ended by itself after the sign-in, its profile written.
    ASSERT_TRUE(WaitFor([&] { return child <= 0 || ::kill(child, 0) != 0; }, 40000));
  }

  testing::ProgramEnv env_;
  testing::MarketSim& sim_ = env_.sim();
};

TEST_F(ResumeTest, ARestartWithTheSwitchRememberedResumesDeliveriesByItself) {
  constexpr int kSeconds = 5;
  ASSERT_NO_FATAL_FAILURE(FirstRun(kSeconds));
  // The profile is the seller's alone.
  const QFileInfo profile(QString::fromStdString(LoginProfileFolder(shop())));
  ASSERT_TRUE(profile.isDir());
  EXPECT_EQ(profile.permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
  EXPECT_TRUE(LoadRememberedSwitch(shop()).on);

  // The program's end took its cookies along; the next start knows only
  // what the kept profile holds.
  CookieStore::Global().Clear();
  const int scansBefore = OrderListRequests(sim_);
  Application program(shop());
  ASSERT_TRUE(program.Start());
  MainWindow& window = program.window();
  ASSERT_TRUE(WaitFor([&] { return window.PagesPrepared(); }, 60000)) << "the kept profile did not sign in";
  const auto signedIn = std::chrono::steady_clock::now();
  auto* timer = Find<QTimer>(window, "自动发货时钟");
  EXPECT_TRUE(WaitFor([&] { return timer->isActive() || program.controller().IsCycleRunning(); }, 3000));
  EXPECT_TRUE(Find<QCheckBox>(window, "选择框2")->isChecked());
  EXPECT_EQ(Find<QLineEdit>(window, "编辑框2")->text(), QString::number(kSeconds));
  // The first scan comes within the interval (and a little for the cycle's
  // own start), with the login the profile brought back.
  ASSERT_TRUE(WaitFor([&] { return OrderListRequests(sim_) > scansBefore; }, kSeconds * 1000 + 3000));
  EXPECT_LE(std::chrono::steady_clock::now() - signedIn, std::chrono::seconds(kSeconds + 3));
  ASSERT_TRUE(WaitFor([&] { return !program.controller().IsCycleRunning() && timer->isActive(); }, 30000));
  program.watch().statusLine.Refresh();
  EXPECT_FALSE(program.watch().statusLine.loginLooksExpired());
  EXPECT_FALSE(LogSays(program, "未能自动登录"));
}

// "记住登录" unticked: the profile goes, and the next start is not signed in
// by itself; the seller is told once, in the log and as a notification.
TEST_F(ResumeTest, WithoutTheKeptProfileTheSellerIsToldTheSignInDidNotComeBack) {
  ASSERT_NO_FATAL_FAILURE(FirstRun(5));
  {
    Application program(shop());
    auto* keep = Find<QCheckBox>(program.window(), "选择框记住登录");
    EXPECT_TRUE(keep->isChecked());
    keep->click();
    EXPECT_FALSE(KeepLoginWanted(shop()));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(LoginProfileFolder(shop()))));
  }
  CookieStore::Global().Clear();
  Application program(shop());
  EXPECT_FALSE(Find<QCheckBox>(program.window(), "选择框记住登录")->isChecked());
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(WaitFor([&] { return LogSays(program, "未能自动登录淘宝"); }, 60000));
  EXPECT_FALSE(program.window().PagesPrepared());
  EXPECT_FALSE(Find<QTimer>(program.window(), "自动发货时钟")->isActive());
  const std::optional<std::string> told = env_.bus().NextNotification();
  ASSERT_TRUE(told);
  EXPECT_EQ(testing::JsonStrings(*told, "summary"), std::vector<std::string>{"自动登录未成功"});
  // A private profile leaves nothing in the data folder.
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(LoginProfileFolder(shop()))));
}

}  // namespace
}  // namespace autodeliver
