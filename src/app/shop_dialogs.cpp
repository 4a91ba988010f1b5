#include "app/shop_dialogs.h"

#include <sys/stat.h>

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/shop_option.h"
#include "store/old_data.h"
#include "store/settings.h"
#include "store/shop_paths.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

const QString kDefaultShop = QStringLiteral("默认店铺");

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

std::optional<std::string> AskForShop(const std::vector<std::string>& shops) {
  QStringList items{kDefaultShop};
  for (const std::string& s : shops) items << Q(s);
  for (;;) {
    bool ok = false;
    const QString chosen = QInputDialog::getItem(
        nullptr, QStringLiteral("选择店铺"),
        QStringLiteral("每个店铺有自己的数据、登录和日志。\n选择要运行的店铺，或输入新店铺的名字："), items,
        0, true, &ok);
    if (!ok) return std::nullopt;
    if (chosen == kDefaultShop) return std::string();
    const std::string name = chosen.toStdString();
    if (IsValidShopName(name)) return name;
    QMessageBox::warning(
        nullptr, QStringLiteral("选择店铺"),
        QStringLiteral("店铺名“%1”不可用：不能为空，不能含“/”，不能以“.”开头或以空格开头结尾。").arg(chosen));
  }
}

void OfferOldDataImport(ShopContext& shop, const std::string& dir) {
  const QString title = QStringLiteral("导入旧数据…");
  if (QMessageBox::question(
          nullptr, title,
          QStringLiteral("这是一个新的数据文件夹。\n要从原来的程序导入旧数据吗？"
                         "（原程序文件夹里的 data 文件夹和 card.mdb；原文件夹不会被改动）")) !=
      QMessageBox::Yes)
    return;
  for (;;) {
    const QString from = QFileDialog::getExistingDirectory(
        nullptr, QStringLiteral("选择原程序的文件夹（或其中的 data 文件夹）"));
    if (from.isEmpty()) return;
    const OldDataReport plan = MigrateShop(from.toStdString(), dir, {.dryRun = true});
    const QString planText = Q(OldDataSummary(plan, true));
    if (plan.status != OldDataReport::Status::kDryRun) {
      if (QMessageBox::warning(nullptr, title, planText + QStringLiteral("\n要选择别的文件夹吗？"),
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        continue;
      return;
    }
    if (QMessageBox::question(nullptr, title, planText + QStringLiteral("\n现在导入吗？")) !=
        QMessageBox::Yes)
      return;
    // The IM client this start found stays in use: the old settings hold the
    // Windows program's path.
    const std::string imKey = Utf8ToGbkLossy("阿里旺旺核心文件路径");
    const std::string imPath = GetSetting(shop, imKey);
    const OldDataReport done = MigrateShop(from.toStdString(), dir, {});
    struct stat st {};
    if (done.status == OldDataReport::Status::kDone && !imPath.empty() &&
        ::stat(GetSetting(shop, imKey).c_str(), &st) != 0)
      SetSetting(shop, imKey, imPath);
    const QString doneText = Q(OldDataSummary(done, false));
    if (done.status == OldDataReport::Status::kDone)
      QMessageBox::information(nullptr, title, doneText + QStringLiteral("\n旧数据已导入。"));
    else
      QMessageBox::critical(nullptr, title, doneText);
    return;
  }
}

}  // namespace autodeliver
