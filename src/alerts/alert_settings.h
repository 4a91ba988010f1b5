// Where the alert channels' configuration lives.
//
// What is not secret goes into rows of the settings table that the program
// appends on first change (the installed rows and the table's format stay
// as they are); a missing row means the default:
//
//   配置名                   配置数据
//   提醒:店铺名称            the shop's name in every alert (GBK)
//   提醒:同类间隔分钟        minutes between two alerts of one kind and item (30)
//   提醒:每日汇总            "1": send the daily summary ("0")
//   提醒:每日汇总时刻        its hour, 0 to 23 (21)
//   提醒:<channel>:开启      "1": the channel sends ("0")
//   提醒:推送应用:方式       "POST" or "GET" (GET)
//   提醒:邮件:服务器         "smtps://host:465" or "smtp://host:587"
//   提醒:邮件:用户           the mail login
//   提醒:邮件:发件人         the sender's address
//   提醒:邮件:收件人         the receivers' addresses
//
// The secrets (each webhook's URL, which holds its key, the signing
// secret, the mail password) live in a file of their own in the data
// folder, "alert-secrets.conf", readable by the owner only (0600):
//
//   # autodeliver alert secrets
//   signed_robot.url=https://robot.example/send?access_token=...
//   signed_robot.secret=SEC...
//   text_robot.url=...
//   push_app.url=...
//   json_webhook.url=...
//   mail.password=...
//
// one "key=value" a line, UTF-8, with backslash, CR and LF written as \\,
// \r and \n; unknown keys are kept. The file is replaced whole and
// crash-safely (written to "<file>.tmp" with mode 0600, synced, renamed);
// a file found with looser permissions is tightened when read.
//
// Thread safety: as the settings table (each row access takes the store
// lock); the secrets file is read and written whole, under a lock of its
// own.
#pragma once

#include <array>
#include <map>
#include <string>

#include "alerts/alert_channels.h"
#include "io/status.h"

namespace autodeliver {

class ShopContext;

struct AlertSettings {
  std::array<AlertChannel, kAlertChannelCount> channels;  // in kAllAlertChannels order
  std::string shopName;                                   // UTF-8
  int repeatMinutes = 30;
  bool dailySummary = false;
  int summaryHour = 21;

  AlertSettings();
  AlertChannel& channel(AlertChannelKind kind) { return channels[static_cast<std::size_t>(kind)]; }
  const AlertChannel& channel(AlertChannelKind kind) const {
    return channels[static_cast<std::size_t>(kind)];
  }
  bool AnyChannelUsable() const;
};

// shop.DataDir() + "/alert-secrets.conf".
std::string AlertSecretsPath(const ShopContext& shop);

// The secrets file's keys and values; empty when it does not exist or
// cannot be read.
std::map<std::string, std::string> ReadAlertSecrets(const std::string& path);
// Replaces the file with `secrets`; the cause, naming the file, when it
// could not be written (the old file then stays).
Status WriteAlertSecrets(const std::string& path, const std::map<std::string, std::string>& secrets);

// Whether the seller asked for the daily summary (one row read).
bool DailySummaryWanted(ShopContext& shop);

// Reads the rows and the secrets file anew.
AlertSettings LoadAlertSettings(ShopContext& shop);
// Stores the rows and the secrets; the first cause, naming its file, when a
// row or the file could not be written (the rest are still written).
Status StoreAlertSettings(ShopContext& shop, const AlertSettings& settings);

}  // namespace autodeliver
