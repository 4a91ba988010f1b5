// The preview of a card import, shown before anything is written: how many
// cards go into which item, how many lines will not be imported for each
// reason, and those lines one by one with their reason ("库存中已有",
// "已发过", "本次重复", "格式不对"). One tick lets the duplicates in, for
// cards that are reusable codes; a line that is not a card never goes in.
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

class ImportPreviewDialog : public QDialog {
  Q_OBJECT

 public:
  // objectNames of the parts, for tests and the demo.
  static constexpr char kSummary[] = "导入摘要";
  static constexpr char kReasons[] = "原因统计";
  static constexpr char kKeptLines[] = "未导入的行";
  static constexpr char kDuplicatesBox[] = "导入重复卡密";

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
  // Cards that "导入" writes with the tick as it is.
  std::size_t cardsToImport() const;

  QCheckBox* duplicatesBox() const { return duplicatesBox_; }
  QPushButton* importButton() const { return importButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  QTableView* keptLinesView() const { return keptView_; }

 private:
  void ShowCounts();

  const std::string itemName_;
  const ImportPlan& plan_;
  const std::size_t lineCount_;
  QLabel* summary_ = nullptr;
  QCheckBox* duplicatesBox_ = nullptr;
  QPushButton* importButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QTableView* keptView_ = nullptr;
  KeptLinesModel* keptModel_ = nullptr;
};

}  // namespace autodeliver
