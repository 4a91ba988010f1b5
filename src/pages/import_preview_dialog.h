// The preview of a card import, shown before anything is written: how many
// cards go into which item, the first cards as they will be stored (卡号 |
// 卡密), how many lines will not be imported for each reason, and those
// lines one by one with their reason ("库存中已有", "已发过", "本次重复",
// "格式不对", "卡号或卡密为空"). One tick lets the duplicates in, for cards that
// are reusable codes; another the cards with an empty side; a line
// that is not a card never goes in. "交换卡号/卡密" asks the page to swap
// number and password in every line of the import (swapToggled); the page
// checks the swapped cards again and calls Refresh.
// "导入" accepts the dialog, "取消" rejects it; the page then writes the
// plan for the tick (PlanImport, import/import_check.h), or nothing.
//
// The lines are shown through a model that makes a row's text only when
// the view asks for it, so a preview of 100,000 lines opens at once.
//
// Thread safety: a QDialog; GUI thread only. `lines`, `plan` and
// `lineNumbers` must outlive the dialog and stay unchanged.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "import/card_lines.h"
#include "import/import_check.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

namespace autodeliver {

class KeptLinesModel;
class CardsModel;

class ImportPreviewDialog : public QDialog {
  Q_OBJECT

 public:
  // objectNames of the parts, for tests and the demo.
  static constexpr char kSummary[] = "导入摘要";
  static constexpr char kReasons[] = "原因统计";
  static constexpr char kKeptLines[] = "未导入的行";
  static constexpr char kDuplicatesBox[] = "导入重复卡密";
  static constexpr char kNoPasswordBox[] = "导入空卡号或空卡密";
  static constexpr char kSwapBox[] = "交换卡号卡密";
  static constexpr char kCardsToStore[] = "将入库的卡密";
  // Rows of the cards to store shown at most.
  static constexpr int kCardRowsShown = 200;

  // `itemName` (GBK) is the item the cards go to; `source` says where the
  // lines come from ("输入框", or the file's name and encoding);
  // `keptNote` what becomes of the lines that are not imported.
  // `lineNumbers`, when not empty, gives each line's number in its file.
  ImportPreviewDialog(const std::string& itemName, const QString& source, const std::vector<CardLine>& lines,
                      const ImportPlan& plan, const std::vector<std::size_t>& lineNumbers,
                      const QString& keptNote, QWidget* parent = nullptr);
  ~ImportPreviewDialog() override;

  // The tick "仍然导入重复的卡密".
  bool allowDuplicates() const;
  // The tick "仍然导入卡号或卡密为空的行".
  bool allowNoPassword() const;
  // The choice "交换卡号/卡密".
  bool swapped() const;

  // The lines or the plan changed (a swap was checked again): shows them
  // anew and gives the controls back.
  void Refresh();
  // While the swapped cards are checked, nothing can be chosen.
  void SetChecking(bool checking);
  // Cards that "导入" writes with the tick as it is.
  std::size_t cardsToImport() const;

  QCheckBox* duplicatesBox() const { return duplicatesBox_; }
  QCheckBox* noPasswordBox() const { return noPasswordBox_; }
  QCheckBox* swapBox() const { return swapBox_; }
  QTableView* cardsView() const { return cardsView_; }
  QPushButton* importButton() const { return importButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  QTableView* keptLinesView() const { return keptView_; }

 signals:
  void swapToggled(bool swapped);

 private:
  void ShowCounts();

  const std::string itemName_;
  const ImportPlan& plan_;
  const std::size_t lineCount_;
  QLabel* summary_ = nullptr;
  QCheckBox* duplicatesBox_ = nullptr;
  QCheckBox* noPasswordBox_ = nullptr;
  QCheckBox* swapBox_ = nullptr;
  QLabel* reasons_ = nullptr;
  QTableView* cardsView_ = nullptr;
  CardsModel* cardsModel_ = nullptr;
  QPushButton* importButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QTableView* keptView_ = nullptr;
  KeptLinesModel* keptModel_ = nullptr;
};

}  // namespace autodeliver
