// The controls of the main window that the management pages work with, as
// typed pointers, one group per page. The main window fills the struct once,
// when it builds its layout; each page takes its group when it is built.
// Every pointer of a group a page is given must be set.
//
// Thread safety: plain pointers; the widgets are used on the GUI thread only.
#pragma once

class QChartView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;
class QTreeView;
class QTreeWidget;

namespace autodeliver {

// The monitored-items page.
struct ItemsPageControls {
  QLineEdit* nameBox = nullptr;           // the item name to add, with its placeholder
  QPushButton* addButton = nullptr;       // "添加到列表"
  QTreeWidget* itemsList = nullptr;       // one row per item, a check box per row
  QPushButton* renameButton = nullptr;    // "更改名称"
  QPushButton* deleteButton = nullptr;    // "删除商品"
  QLineEdit* remarkBox = nullptr;         // the selected item's remark
  QLineEdit* limitBox = nullptr;          // its purchase limit
  QCheckBox* needsCardBox = nullptr;      // whether it needs cards
  QSpinBox* warningLevelBox = nullptr;    // its stock warning level
  QPushButton* templateButton = nullptr;  // "消息模板": its buyers' message template (optional)
  QPushButton* rulesButton = nullptr;     // "发货规则…" (optional): the order rules' dialog
};

// The card-stock page with the card import.
struct StockPageControls {
  QComboBox* itemChooser = nullptr;          // the item whose stock is shown
  QPlainTextEdit* importBox = nullptr;       // pasted card lines, with the import hint
  QPushButton* importButton = nullptr;       // "增加入库"
  QPushButton* fileImportButton = nullptr;   // "从文件导入…"
  QTreeView* stockList = nullptr;            // the chosen item's cards (model set by the page)
  QPushButton* deleteStockButton = nullptr;  // "删除库存"
  QPushButton* exportButton = nullptr;       // "导出…" (stock_export.h; optional)
};

// The sent-cards page. The grid must be set; the search and action bar is
// optional (a page without it only shows the grid).
struct SentCardsPageControls {
  QTableView* grid = nullptr;              // one row per delivered card (model set by the page)
  QLineEdit* searchBox = nullptr;          // the search over the grid
  QCheckBox* undeliveredBox = nullptr;     // "只看未送达"
  QLabel* countLabel = nullptr;            // "共 N 条"
  QPushButton* resendButton = nullptr;     // "重新发送"
  QPushButton* resendAllButton = nullptr;  // "补发全部未送达"
  QPushButton* exportButton = nullptr;     // "导出…"
  QLabel* noteLabel = nullptr;             // what the last resend or export did
};

// The deliveries plot (its own page): cards delivered per day over the last
// 30 days.
struct DeliveriesPlotControls {
  QComboBox* itemChooser = nullptr;  // "全部宝贝" or one item
  QChartView* chart = nullptr;       // the plot (chart set by the page)
  QLabel* totalLabel = nullptr;      // the sums over the days
};

// The auto-delivery settings box of the first page.
struct DeliverySwitchControls {
  QCheckBox* switchBox = nullptr;      // "开启自动发货"
  QLineEdit* intervalBox = nullptr;    // the scan interval in seconds
  QPushButton* applyButton = nullptr;  // "设置"
  QLabel* statusLabel = nullptr;       // the status text
  QCheckBox* autostartBox = nullptr;   // "登录桌面时启动" (the program's, not the switch's)
  QTimer* timer = nullptr;             // the delivery timer
};

// The log page "运行日志", the fourth page.
struct LogPageControls {
  QLineEdit* filterBox = nullptr;         // order number, buyer or item to keep
  QLabel* countLabel = nullptr;           // how many lines are shown
  QTableView* logView = nullptr;          // the recent lines, newest first (model set by the page)
  QPushButton* settingsButton = nullptr;  // "通知设置"
  QCheckBox* warningsOnlyBox = nullptr;   // "只看警告"; none: every level shown
};

// The status line under the page control.
struct StatusLineControls {
  QLabel* text = nullptr;                // the figures of the delivery
  QPushButton* reLoginButton = nullptr;  // "重新登录", shown when the login looks expired
};

struct PageControls {
  ItemsPageControls items;
  StockPageControls stock;
  SentCardsPageControls sentCards;
  DeliverySwitchControls deliverySwitch;
  DeliveriesPlotControls deliveriesPlot;
  LogPageControls log;
  StatusLineControls statusLine;
};

}  // namespace autodeliver
