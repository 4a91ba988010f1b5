// The main window: builds every control of the layout (and the pages'
// typed pointers to theirs), re-lays it out on size changes and runs the
// login check of the browser.
#include "app/main_window.h"

#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/layout_names.h"
#include "app/layout_places.h"
#include "app/layout_widgets.h"
#include "app/login_browser.h"
#include "app/startup.h"
#include "market/hosts.h"
#include "pages/page_texts.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "text/gbk.h"

// The banner lives in the library's resources, which a static library
// must register itself.
static void InitWindowResources() { Q_INIT_RESOURCE(app); }

namespace autodeliver {

namespace {

// Colours of the layout (COLORREF values).
constexpr std::uint32_t kBannerBackground = 0xFDB313;
constexpr std::uint32_t kFrameBorder = 0xDCC5AB;
constexpr std::uint32_t kFrameBackground = 0xF7F0EA;
constexpr std::uint32_t kPlaceholderText = 0xC0C0C0;
constexpr std::uint32_t kGridBackground = 0xF6EFE8;
constexpr std::uint32_t kDisabledCaption = 0x808080;
constexpr std::uint32_t kWhite = 0xFFFFFF;
// The page control's own background; the odd rows of the two lists take it.
constexpr std::uint32_t kPageBackground = 0xFFFFFF;

// The client area the layout was drawn for: the window's outer size of
// 800 x 546 less a three-pixel border and a 25-pixel caption.
constexpr int kClientWidth = 794;
constexpr int kClientHeight = 518;

// Sets a colour of `w`; a background (Window, Base) takes its text colour
// along (FixTextColourFor), so a placeholder's colour is set after it.
void SetColours(QWidget* w, QPalette::ColorRole role, QColor colour) {
  QPalette pal = w->palette();
  pal.setColor(role, colour);
  if (role == QPalette::Window || role == QPalette::Base) FixTextColourFor(pal, role);
  w->setPalette(pal);
}

// The design rectangle of a control, from the layout's table.
QRect At(const char* name) {
  const layout::Place* place = layout::FindPlace(name);
  if (place == nullptr) qFatal("no place in the layout for %s", name);
  return QRect(place->x, place->y, place->width, place->height);
}

template <typename T>
T* Make(QWidget* parent, const char* name) {
  auto* w = new T(parent);
  w->setObjectName(QString::fromUtf8(name));
  w->setGeometry(At(name));
  return w;
}

ShapeBox* Frame(QWidget* parent, const char* name, QRect geometry,
                std::uint32_t background = kFrameBackground) {
  auto* box = new ShapeBox(parent, ColorRef(kFrameBorder), ColorRef(background));
  box->setObjectName(QString::fromUtf8(name));
  box->setGeometry(geometry);
  return box;
}

ShapeBox* Frame(QWidget* parent, const char* name, std::uint32_t background = kFrameBackground) {
  return Frame(parent, name, At(name), background);
}

QLabel* Label(QWidget* parent, const char* name, const char* text) {
  auto* label = Make<QLabel>(parent, name);
  label->setText(QString::fromUtf8(text));
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

// A header strip: a label inside a frame at the top of a box.
void HeaderStrip(QWidget* box, const char* frameName, const char* labelName, const char* text) {
  Label(Frame(box, frameName), labelName, text);
}

// A button inside its own frame.
QPushButton* FramedButton(QWidget* parent, const char* frameName, const char* buttonName, const char* text) {
  auto* button = Make<QPushButton>(Frame(parent, frameName), buttonName);
  button->setText(QString::fromUtf8(text));
  return button;
}

QLineEdit* LineEdit(QWidget* parent, const char* name) {
  auto* edit = Make<QLineEdit>(parent, name);
  edit->setFrame(true);
  return edit;
}

}  // namespace

MainWindow::MainWindow(ShopContext& shop, QWidget* parent) : QWidget(parent), shop_(shop) {
  InitWindowResources();
  setWindowTitle(DesignTitle());
  // The window's own background shows nowhere but behind the controls.
  BuildLayout();
  BuildLogPageAndStatusLine();
  BuildBrowser();
  AnchorControls();
  BindKeysAndNames();
  move(50, 50);
  resize(kClientWidth, kClientHeight + kStatusLineHeight);
}

MainWindow::~MainWindow() = default;

QString MainWindow::DesignTitle() { return QStringLiteral("自动发货系统 - {版本号}"); }

void MainWindow::BuildLayout() {
  auto* banner = Make<QLabel>(this, layout::kBanner);
  banner->setAutoFillBackground(true);
  SetColours(banner, QPalette::Window, ColorRef(kBannerBackground));
  banner->setPixmap(QPixmap(QStringLiteral(":/autodeliver/banner.png")));
  banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* tabs = new PageControl(this);
  tabs->setObjectName(QString::fromUtf8(layout::kPageControl));
  tabs->setGeometry(At(layout::kPageControl));
  SetColours(tabs, QPalette::Window, ColorRef(kPageBackground));
  {
    QPalette pal = tabs->tabBar()->palette();
    pal.setColor(QPalette::Disabled, QPalette::WindowText, ColorRef(kDisabledCaption));
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, ColorRef(kDisabledCaption));
    pal.setColor(QPalette::Disabled, QPalette::Text, ColorRef(kDisabledCaption));
    tabs->tabBar()->setPalette(pal);
  }
  QWidget* pages[3];
  const char* captions[3] = {"登陆淘宝帐号(支持旺旺在线一键登录)", "已发卡密", "卡密管理"};
  for (int i = 0; i < 3; ++i) {
    pages[i] = new QWidget;
    pages[i]->setObjectName(QStringLiteral("page%1").arg(i));
    pages[i]->setAutoFillBackground(true);
    SetColours(pages[i], QPalette::Window, ColorRef(kPageBackground));
    tabs->addTab(pages[i], QString::fromUtf8(captions[i]));
  }
  tabs->setTabEnabled(1, false);

  // Page 0: the monitored items, the attributes box, the auto-delivery
  // settings box and the browser holder on top of them.
  QWidget* p0 = pages[0];
  Label(p0, layout::kNoticeLabel,
        "★ 注意：添加到列表的商品名称必须与您店铺中的商品名称完全一致，否则将不能正常发货");
  Label(Frame(p0, layout::kNameLabelFrame), layout::kNameLabel, "商品名称：");
  {
    QLineEdit* name = controls_.items.nameBox = LineEdit(Frame(p0, layout::kNameBoxFrame), layout::kNameBox);
    name->setText(QString::fromStdString(GbkToUtf8Lossy(ItemNamePlaceholder())));
    SetColours(name, QPalette::Base, ColorRef(kWhite));
    SetColours(name, QPalette::Text, ColorRef(kPlaceholderText));
  }
  controls_.items.addButton = FramedButton(p0, layout::kAddButtonFrame, layout::kAddButton, "添加到列表");
  {
    ShapeBox* frame2 = Frame(p0, layout::kItemsFrame);
    auto* items = controls_.items.itemsList = Make<QTreeWidget>(frame2, layout::kItemsList);
    items->setRootIsDecorated(false);
    items->setUniformRowHeights(true);
    items->setSelectionMode(QAbstractItemView::SingleSelection);
    items->setColumnCount(2);
    items->setHeaderLabels(
        {QStringLiteral("自动发货商品名称(勾选后将自动发货)"), QStringLiteral("监视状态")});
    items->header()->setStretchLastSection(false);
    items->header()->resizeSection(0, 435);
    items->header()->resizeSection(1, 90);
    SetColours(items, QPalette::Base, ColorRef(kFrameBackground));
    auto* timer = controls_.deliverySwitch.timer = new QTimer(frame2);
    timer->setObjectName(QString::fromUtf8(layout::kDeliveryTimer));
  }
  controls_.items.renameButton =
      FramedButton(p0, layout::kRenameButtonFrame, layout::kRenameButton, "更改名称");
  controls_.items.deleteButton =
      FramedButton(p0, layout::kDeleteButtonFrame, layout::kDeleteButton, "删除商品");
  {
    const QString forum = QStringLiteral("http://") + QString::fromStdString(ServiceHost());
    QLabel* welcome = Label(p0, layout::kWelcomeLabel, "");
    welcome->setText(QStringLiteral(" ★ 欢迎各位卖家一起完善“自动发货系统”,论坛:") + forum);
    // The layout's width cuts the address: the hover text holds all of it.
    welcome->setToolTip(welcome->text().trimmed());
  }
  {
    ShapeBox* attributes = Frame(p0, layout::kAttributesFrame);
    HeaderStrip(attributes, layout::kAttributesHeaderFrame, layout::kAttributesHeader, " 宝贝属性设置");
    // Seven lines twelve pixels apart: the three names stand beside the
    // remark box, the limit box and the needs-card box.
    auto* fields = new PitchedLabel(attributes, 12);
    fields->setObjectName(QString::fromUtf8(layout::kAttributeNames));
    fields->setGeometry(At(layout::kAttributeNames));
    fields->setText(QStringLiteral("宝贝备注：\n\n\n限拍数量：\n\n\n需要卡密："));
    controls_.items.remarkBox = LineEdit(attributes, layout::kRemarkBox);
    controls_.items.limitBox = LineEdit(attributes, layout::kLimitBox);
    // A caption-less check box of 16 x 13: a small indicator that fits it.
    controls_.items.needsCardBox = Make<QCheckBox>(attributes, layout::kNeedsCardBox);
    controls_.items.needsCardBox->setStyleSheet(
        QStringLiteral("QCheckBox::indicator { width: 11px; height: 11px; }"));
    // The stock warning level of the item, below the three attributes.
    Label(attributes, layout::kWarningLevelLabel, "库存预警：");
    auto* level = controls_.items.warningLevelBox = Make<QSpinBox>(attributes, layout::kWarningLevelBox);
    level->setSuffix(QStringLiteral(" 张"));
    level->setToolTip(QStringLiteral("库存卡密不多于这个数时提醒；0 为不提醒"));
    // The buyers' message of the item, beside its warning level.
    auto* templateButton = controls_.items.templateButton =
        Make<QPushButton>(attributes, layout::kTemplateButton);
    templateButton->setText(QStringLiteral("消息模板"));
    templateButton->setToolTip(QStringLiteral("发给买家的消息模板：使用说明、充值地址等"));
  }
  {
    ShapeBox* settings = Frame(p0, layout::kSettingsFrame);
    HeaderStrip(settings, layout::kSettingsHeaderFrame, layout::kSettingsHeader, " 自动发货设置");
    Label(settings, layout::kIntervalLabel, "订单扫描间隔(秒)：");
    controls_.deliverySwitch.intervalBox = LineEdit(settings, layout::kIntervalBox);
    controls_.deliverySwitch.intervalBox->setEnabled(false);
    controls_.deliverySwitch.switchBox = Make<QCheckBox>(settings, layout::kDeliverySwitch);
    controls_.deliverySwitch.switchBox->setText(QStringLiteral("开启自动发货"));
    controls_.deliverySwitch.autostartBox = Make<QCheckBox>(settings, layout::kAutostartBox);
    controls_.deliverySwitch.autostartBox->setText(QStringLiteral("登录桌面时启动"));
    controls_.deliverySwitch.autostartBox->setToolTip(
        QStringLiteral("登录桌面后自动启动本程序；开启自动发货后，下次启动会自动登录并恢复发货"));
    auto* group = Make<QGroupBox>(settings, layout::kStatusGroup);
    group->setTitle(QStringLiteral("状态"));
    controls_.deliverySwitch.statusLabel = Label(group, layout::kStatusLabel, "未开启自动发货功能");
    controls_.deliverySwitch.applyButton =
        FramedButton(settings, layout::kApplyButtonFrame, layout::kApplyButton, "设置");
    controls_.items.rulesButton =
        FramedButton(settings, layout::kRulesButtonFrame, layout::kRulesButton, "发货规则…");
  }
  {
    // The browser holder starts below the visible area; the first re-layout
    // brings it over page 0.
    auto* holder = Make<QFrame>(p0, layout::kBrowserHolder);
    holder->setFrameShape(QFrame::NoFrame);
    holder->setAutoFillBackground(true);
    SetColours(holder, QPalette::Window, ColorRef(kWhite));
    holder->raise();
  }

  // Page 1: the sent-cards grid, with the search and action bar above it
  // and the note line below.
  {
    ShapeBox* frame1 = Frame(pages[1], layout::kGridFrame);
    auto* grid = controls_.sentCards.grid = Make<QTableView>(frame1, layout::kSentCardsGrid);
    grid->verticalHeader()->setVisible(false);
    grid->verticalHeader()->setDefaultSectionSize(22);
    grid->horizontalHeader()->setDefaultSectionSize(60);
    grid->horizontalHeader()->setStretchLastSection(false);
    SetColours(grid, QPalette::Base, ColorRef(kGridBackground));
  }
  {
    QWidget* p1 = pages[1];
    SentCardsPageControls& sent = controls_.sentCards;
    sent.searchBox = LineEdit(p1, layout::kSentSearchBox);
    sent.undeliveredBox = Make<QCheckBox>(p1, layout::kUndeliveredOnlyBox);
    sent.undeliveredBox->setText(QStringLiteral("只看未送达"));
    sent.countLabel = Label(p1, layout::kSentCountLabel, "");
    sent.resendAllButton =
        FramedButton(p1, layout::kResendAllButtonFrame, layout::kResendAllButton, "补发全部未送达");
    sent.resendButton = FramedButton(p1, layout::kResendButtonFrame, layout::kResendButton, "重新发送");
    sent.exportButton = FramedButton(p1, layout::kSentExportButtonFrame, layout::kSentExportButton, "导出…");
    sent.noteLabel = Label(p1, layout::kSentNoteLabel, "");
  }

  // Page 2: the card stock and the card import.
  QWidget* p2 = pages[2];
  Label(p2, layout::kChooserLabel, "发货宝贝：");
  controls_.stock.itemChooser = Make<QComboBox>(p2, layout::kItemChooser);
  controls_.stock.itemChooser->setEditable(false);
  {
    ShapeBox* importBox = Frame(p2, layout::kImportFrame);
    HeaderStrip(importBox, layout::kImportHeaderFrame, layout::kImportHeader, " 卡密入库设置");
    auto* edit = controls_.stock.importBox = Make<QPlainTextEdit>(importBox, layout::kImportBox);
    SetColours(edit, QPalette::Base, ColorRef(kFrameBackground));
    SetColours(edit, QPalette::Text, ColorRef(kPlaceholderText));
    controls_.stock.importButton =
        FramedButton(importBox, layout::kImportButtonFrame, layout::kImportButton, "增加入库");
    controls_.stock.fileImportButton =
        FramedButton(importBox, layout::kFileImportButtonFrame, layout::kFileImportButton, "从文件导入…");
  }
  {
    ShapeBox* stockBox = Frame(p2, layout::kStockFrame);
    HeaderStrip(stockBox, layout::kStockHeaderFrame, layout::kStockHeader, " 库存卡密管理");
    auto* stock = controls_.stock.stockList = Make<QTreeView>(stockBox, layout::kStockList);
    stock->setRootIsDecorated(false);
    stock->setUniformRowHeights(true);
    stock->setSelectionMode(QAbstractItemView::ExtendedSelection);
    SetColours(stock, QPalette::Base, ColorRef(kFrameBackground));
    controls_.stock.deleteStockButton =
        FramedButton(stockBox, layout::kDeleteStockButtonFrame, layout::kDeleteStockButton, "删除库存");
    FramedButton(stockBox, layout::kNumberButtonFrame, layout::kNumberButton, "修改卡号");
    FramedButton(stockBox, layout::kPasswordButtonFrame, layout::kPasswordButton, "修改卡密");
  }
  {
    // The stock export: a small button at the right end of the stock box's
    // header strip.
    auto* stockBox = p2->findChild<ShapeBox*>(QString::fromUtf8(layout::kStockFrame));
    auto* button = controls_.stock.exportButton = Make<QPushButton>(stockBox, layout::kStockExportButton);
    button->setText(QStringLiteral("导出…"));
    button->raise();
  }

  // Page 3: the deliveries plot, usable after sign-in like page 1.
  {
    auto* p3 = new QWidget;
    p3->setObjectName(QString::fromUtf8(layout::kPlotPage));
    p3->setAutoFillBackground(true);
    SetColours(p3, QPalette::Window, ColorRef(kPageBackground));
    const int index = tabs->addTab(p3, QStringLiteral("发货统计"));
    tabs->setTabEnabled(index, false);
    Label(p3, layout::kPlotItemLabel, "宝贝：");
    DeliveriesPlotControls& plot = controls_.deliveriesPlot;
    plot.itemChooser = Make<QComboBox>(p3, layout::kPlotItemChooser);
    plot.totalLabel = Label(p3, layout::kPlotTotalLabel, "");
    ShapeBox* frame = Frame(p3, layout::kPlotFrame, kWhite);
    plot.chart = Make<QChartView>(frame, layout::kPlotChart);
  }
}

void MainWindow::BuildLogPageAndStatusLine() {
  // Page 3, the log page: beyond the design layout, so it is laid out by a
  // layout manager and grows with the window.
  auto* tabs = findChild<QTabWidget*>(QString::fromUtf8(layout::kPageControl));
  auto* page = new QWidget;
  page->setObjectName(QString::fromUtf8(layout::kLogPage));
  page->setAutoFillBackground(true);
  SetColours(page, QPalette::Window, ColorRef(kPageBackground));
  tabs->addTab(page, QStringLiteral("运行日志"));
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(4, PageControl::kCaptionHeight + 6, 4, 4);
  column->setSpacing(5);
  auto* row = new QHBoxLayout;
  auto* filterLabel = new QLabel(QStringLiteral("筛选："), page);
  filterLabel->setObjectName(QString::fromUtf8(layout::kLogFilterLabel));
  row->addWidget(filterLabel);
  LogPageControls& log = controls_.log;
  log.filterBox = new QLineEdit(page);
  log.filterBox->setObjectName(QString::fromUtf8(layout::kLogFilterBox));
  log.filterBox->setFixedWidth(300);
  row->addWidget(log.filterBox);
  filterLabel->setBuddy(log.filterBox);
  log.warningsOnlyBox = new QCheckBox(QStringLiteral("只看警告"), page);
  log.warningsOnlyBox->setObjectName(QString::fromUtf8(layout::kLogWarningsOnlyBox));
  row->addWidget(log.warningsOnlyBox);
  log.countLabel = new QLabel(page);
  log.countLabel->setObjectName(QString::fromUtf8(layout::kLogCountLabel));
  row->addWidget(log.countLabel, 1);
  log.settingsButton = new QPushButton(QStringLiteral("通知设置"), page);
  log.settingsButton->setObjectName(QString::fromUtf8(layout::kNotificationSettingsButton));
  row->addWidget(log.settingsButton);
  auto* about = new QPushButton(QStringLiteral("关于…"), page);
  about->setObjectName(QString::fromUtf8(layout::kAboutButton));
  about->setToolTip(QStringLiteral("版本、数据文件夹和许可（F1）"));
  connect(about, &QPushButton::clicked, this, &MainWindow::ShowAbout);
  row->addWidget(about);
  column->addLayout(row);
  ShapeBox* frame = Frame(page, layout::kLogFrame, QRect());
  auto* inFrame = new QVBoxLayout(frame);
  inFrame->setContentsMargins(1, 1, 1, 1);
  log.logView = new QTableView(frame);
  log.logView->setObjectName(QString::fromUtf8(layout::kLogView));
  inFrame->addWidget(log.logView);
  column->addWidget(frame, 1);

  // The status line under the page control (placed by Relayout).
  ShapeBox* strip =
      Frame(this, layout::kStatusLineFrame, QRect(0, kClientHeight, kClientWidth, kStatusLineHeight));
  auto* line = new QHBoxLayout(strip);
  line->setContentsMargins(6, 1, 1, 1);
  StatusLineControls& status = controls_.statusLine;
  status.text = new QLabel(strip);
  status.text->setObjectName(QString::fromUtf8(layout::kStatusLineText));
  line->addWidget(status.text, 1);
  // Beside the sign-in: whether the login browser keeps its profile, so
  // that the next start signs in by itself.
  auto* keepLogin = new QCheckBox(QStringLiteral("记住登录"), strip);
  keepLogin->setObjectName(QString::fromUtf8(layout::kKeepLoginBox));
  keepLogin->setToolTip(
      QStringLiteral("在数据文件夹中保留登录浏览器的资料（仅本用户可读），下次启动时自动登录淘宝；"
                     "取消勾选将删除保留的资料"));
  line->addWidget(keepLogin);
  status.reLoginButton = new QPushButton(QStringLiteral("重新登录"), strip);
  status.reLoginButton->setObjectName(QString::fromUtf8(layout::kReLoginButton));
  status.reLoginButton->setFixedSize(96, kStatusLineHeight - 2);
  status.reLoginButton->hide();
  line->addWidget(status.reLoginButton);
}

void MainWindow::BuildBrowser() {
  auto* holder = findChild<QFrame*>(QString::fromUtf8(layout::kBrowserHolder));
  browser_ = new LoginBrowserHost(holder, ProgramCookieFeed());
  browser_->setObjectName(QString::fromUtf8(layout::kLoginBrowser));
  browser_->setGeometry(At(layout::kLoginBrowser));
  // Every completed navigation runs the login check with the address shown
  // at that moment.
  connect(browser_, &LoginBrowserHost::loadFinished, this, [this](bool) {
    if (browser_ != nullptr) CheckSignIn(browser_->url().toString(QUrl::FullyEncoded));
  });
  connect(browser_, &LoginBrowserHost::failed, this, &MainWindow::loginBrowserFailed);
}

void MainWindow::AnchorControls() {
  using S = Share;
  struct Rule {
    const char* name;
    Share moveX, growX;
    bool moveY, growY;
  };
  // Page 0: the name box and the items list take the extra width, the boxes
  // on the right move along; the list takes the extra height, the buttons
  // and the welcome line under it move down. Page 1: the grid takes both.
  // Page 2: the import box and the stock box share the extra width and
  // both take the extra height. Page 3: the plot takes both.
  static const Rule kRules[] = {
      {layout::kNoticeLabel, S::kNone, S::kAll, false, false},
      {layout::kNameBoxFrame, S::kNone, S::kAll, false, false},
      {layout::kNameBox, S::kNone, S::kAll, false, false},
      {layout::kAddButtonFrame, S::kAll, S::kNone, false, false},
      {layout::kItemsFrame, S::kNone, S::kAll, false, true},
      {layout::kItemsList, S::kNone, S::kAll, false, true},
      {layout::kRenameButtonFrame, S::kAll, S::kNone, true, false},
      {layout::kDeleteButtonFrame, S::kAll, S::kNone, true, false},
      {layout::kWelcomeLabel, S::kNone, S::kAll, true, false},
      {layout::kAttributesFrame, S::kAll, S::kNone, false, false},
      {layout::kSettingsFrame, S::kAll, S::kNone, false, false},
      {layout::kGridFrame, S::kNone, S::kAll, false, true},
      {layout::kSentCardsGrid, S::kNone, S::kAll, false, true},
      {layout::kSentCountLabel, S::kNone, S::kAll, false, false},
      {layout::kResendAllButtonFrame, S::kAll, S::kNone, false, false},
      {layout::kResendButtonFrame, S::kAll, S::kNone, false, false},
      {layout::kSentExportButtonFrame, S::kAll, S::kNone, false, false},
      {layout::kSentNoteLabel, S::kNone, S::kAll, true, false},
      {layout::kImportFrame, S::kNone, S::kLeftHalf, false, true},
      {layout::kImportHeaderFrame, S::kNone, S::kLeftHalf, false, false},
      {layout::kImportHeader, S::kNone, S::kLeftHalf, false, false},
      {layout::kImportBox, S::kNone, S::kLeftHalf, false, true},
      {layout::kImportButtonFrame, S::kLeftHalf, S::kNone, true, false},
      {layout::kFileImportButtonFrame, S::kLeftHalf, S::kNone, true, false},
      {layout::kItemChooser, S::kNone, S::kLeftHalf, false, false},
      {layout::kStockFrame, S::kLeftHalf, S::kRightHalf, false, true},
      {layout::kStockHeaderFrame, S::kNone, S::kRightHalf, false, false},
      {layout::kStockHeader, S::kNone, S::kRightHalf, false, false},
      {layout::kStockExportButton, S::kRightHalf, S::kNone, false, false},
      {layout::kStockList, S::kNone, S::kRightHalf, false, true},
      {layout::kDeleteStockButtonFrame, S::kNone, S::kNone, true, false},
      {layout::kNumberButtonFrame, S::kNone, S::kNone, true, false},
      {layout::kPasswordButtonFrame, S::kNone, S::kNone, true, false},
      {layout::kPlotTotalLabel, S::kNone, S::kAll, false, false},
      {layout::kPlotFrame, S::kNone, S::kAll, false, true},
      {layout::kPlotChart, S::kNone, S::kAll, false, true},
  };
  for (const Rule& rule : kRules) {
    auto* widget = findChild<QWidget*>(QString::fromUtf8(rule.name));
    if (widget == nullptr) continue;
    anchors_.push_back({widget, widget->geometry(), rule.moveX, rule.growX, rule.moveY, rule.growY});
  }
}

void MainWindow::BindKeysAndNames() {
  const ItemsPageControls& items = controls_.items;
  const StockPageControls& stock = controls_.stock;
  const DeliverySwitchControls& delivery = controls_.deliverySwitch;
  // Enter in a single-line box: its button's work.
  connect(items.nameBox, &QLineEdit::returnPressed, items.addButton, &QPushButton::click);
  connect(delivery.intervalBox, &QLineEdit::returnPressed, delivery.applyButton, &QPushButton::click);
  // The remark and the limit are stored when their box is left: Enter
  // leaves it for the items list.
  for (QLineEdit* box : {items.remarkBox, items.limitBox}) {
    connect(box, &QLineEdit::returnPressed, items.itemsList, [list = items.itemsList] { list->setFocus(); });
  }

  // Shortcuts of the main actions; a button's key works while its page is
  // shown.
  struct Key {
    QAbstractButton* button;
    QKeySequence key;
  };
  for (const Key& k : {Key{items.addButton, QKeySequence(Qt::ALT | Qt::Key_A)},
                       Key{items.renameButton, QKeySequence(Qt::Key_F2)},
                       Key{items.deleteButton, QKeySequence(Qt::ALT | Qt::Key_D)},
                       Key{delivery.applyButton, QKeySequence(Qt::ALT | Qt::Key_S)},
                       Key{stock.importButton, QKeySequence(Qt::ALT | Qt::Key_I)},
                       Key{stock.deleteStockButton, QKeySequence(Qt::ALT | Qt::Key_D)}}) {
    k.button->setShortcut(k.key);
    k.button->setToolTip(QStringLiteral("快捷键 %1").arg(k.key.toString(QKeySequence::NativeText)));
  }
  auto shortcut = [this](QWidget* on, QKeySequence key, Qt::ShortcutContext context, auto action) {
    auto* s = new QShortcut(key, on, nullptr, nullptr, context);
    connect(s, &QShortcut::activated, this, action);
  };
  shortcut(stock.importBox, QKeySequence(Qt::CTRL | Qt::Key_Return), Qt::WidgetShortcut,
           [button = stock.importButton] { button->click(); });
  shortcut(stock.importBox, QKeySequence(Qt::CTRL | Qt::Key_Enter), Qt::WidgetShortcut,
           [button = stock.importButton] { button->click(); });
  stock.importButton->setToolTip(QStringLiteral("快捷键 Alt+I，或在输入框中按 Ctrl+Enter"));
  shortcut(stock.stockList, QKeySequence(QKeySequence::Delete), Qt::WidgetShortcut,
           [button = stock.deleteStockButton] { button->click(); });
  shortcut(this, QKeySequence(Qt::Key_F1), Qt::WindowShortcut, [this] { ShowAbout(); });
  shortcut(this, QKeySequence(QKeySequence::Find), Qt::WindowShortcut, [this] {
    QWidget* page = findChild<QTabWidget*>(QString::fromUtf8(layout::kPageControl))->currentWidget();
    for (QLineEdit* box : {controls_.sentCards.searchBox, controls_.log.filterBox}) {
      if (page->isAncestorOf(box)) {
        box->setFocus(Qt::ShortcutFocusReason);
        box->selectAll();
      }
    }
  });

  // Labels name their boxes for screen readers and move the focus there.
  struct Buddy {
    const char* label;
    QWidget* box;
  };
  for (const Buddy& b :
       {Buddy{layout::kNameLabel, items.nameBox}, Buddy{layout::kIntervalLabel, delivery.intervalBox},
        Buddy{layout::kChooserLabel, stock.itemChooser},
        Buddy{layout::kWarningLevelLabel, items.warningLevelBox}}) {
    if (auto* label = findChild<QLabel*>(QString::fromUtf8(b.label))) label->setBuddy(b.box);
  }
  struct Name {
    QWidget* widget;
    const char* name;
  };
  for (const Name& n :
       {Name{items.nameBox, "商品名称"}, Name{items.itemsList, "自动发货商品列表"},
        Name{items.remarkBox, "宝贝备注"}, Name{items.limitBox, "限拍数量"},
        Name{items.needsCardBox, "需要卡密"}, Name{items.warningLevelBox, "库存预警"},
        Name{delivery.intervalBox, "订单扫描间隔(秒)"}, Name{delivery.statusLabel, "自动发货状态"},
        Name{stock.itemChooser, "发货宝贝"}, Name{stock.importBox, "卡密入库：每行一张，卡号 空格 卡密"},
        Name{stock.stockList, "库存卡密"}, Name{controls_.sentCards.grid, "已发卡密"},
        Name{controls_.sentCards.searchBox, "搜索已发卡密"}, Name{controls_.log.filterBox, "日志筛选"},
        Name{controls_.log.logView, "运行日志"}, Name{controls_.statusLine.text, "状态栏"}}) {
    if (n.widget) n.widget->setAccessibleName(QString::fromUtf8(n.name));
  }
}

void MainWindow::ShowAbout() {
  if (auto* open = findChild<QMessageBox*>(QStringLiteral("关于"))) {
    open->raise();
    open->activateWindow();
    return;
  }
  const QString data = QString::fromStdString(shop_.DataDir());
  auto* box = new QMessageBox(this);
  box->setObjectName(QStringLiteral("关于"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(QStringLiteral("关于自动发货系统"));
  box->setIconPixmap(windowIcon().pixmap(64, 64));
  box->setTextFormat(Qt::PlainText);
  box->setText(QStringLiteral("自动发货系统 %1").arg(VersionText()));
  box->setInformativeText(
      QStringLiteral("数据文件夹：%1\n日志文件夹：%2\n\n"
                     "版权所有 © 2026 autodeliver 开发者。\n"
                     "许可：尚未授予任何许可，未经许可不得复制、修改或分发。")
          .arg(QDir::toNativeSeparators(data), QDir::toNativeSeparators(data + QStringLiteral("/logs"))));
  box->setStandardButtons(QMessageBox::Ok);
  box->button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
  box->open();
}

void MainWindow::GrowPages(int dx, int dy) {
  auto part = [dx](Share share) {
    switch (share) {
      case Share::kNone:
        return 0;
      case Share::kAll:
        return dx;
      case Share::kLeftHalf:
        return dx / 2;
      case Share::kRightHalf:
        return dx - dx / 2;
    }
    return 0;
  };
  for (const Anchor& a : anchors_) {
    const QRect r = a.design;
    a.widget->setGeometry(r.x() + part(a.moveX), r.y() + (a.moveY ? dy : 0), r.width() + part(a.growX),
                          r.height() + (a.growY ? dy : 0));
  }
}

void MainWindow::Relayout() {
  auto* banner = findChild<QLabel*>(QString::fromUtf8(layout::kBanner));
  auto* tabs = findChild<QTabWidget*>(QString::fromUtf8(layout::kPageControl));
  auto* holder = findChild<QFrame*>(QString::fromUtf8(layout::kBrowserHolder));
  // Sizes that would come out negative (a client area lower than the banner)
  // are clamped at zero.
  const int w = width();
  banner->setGeometry(0, 0, w, banner->height());
  const int h = height();
  const int b = banner->height();
  // The status line takes the bottom strip; the page control the rest.
  const int statusTop = std::max(b, h - kStatusLineHeight);
  findChild<QFrame*>(QString::fromUtf8(layout::kStatusLineFrame))
      ->setGeometry(0, statusTop, w, kStatusLineHeight);
  tabs->setGeometry(0, b, w, statusTop - b);
  const int tw = tabs->width();
  const int th = tabs->height();
  holder->setGeometry(1, 27, std::max(0, tw - 2), std::max(0, th - 28));
  GrowPages(std::max(0, tw - kClientWidth), std::max(0, th - (kClientHeight - b)));
}

void MainWindow::HoldRelayout() { relayoutHeld_ = true; }

void MainWindow::ReleaseRelayout() {
  relayoutHeld_ = false;
  Relayout();
}

void MainWindow::CheckSignIn(const QString& address) {
  if (!IsSignInAddress(address.toStdString())) return;
  findChild<QFrame*>(QString::fromUtf8(layout::kBrowserHolder))->hide();
  if (pagesPrepared_) return;
  auto* tabs = findChild<QTabWidget*>(QString::fromUtf8(layout::kPageControl));
  tabs->setTabText(0, QStringLiteral("店铺发货设置"));
  tabs->setTabEnabled(1, true);
  tabs->setTabEnabled(tabs->indexOf(findChild<QWidget*>(QString::fromUtf8(layout::kPlotPage))), true);
  pagesPrepared_ = true;
  emit signedIn();
}

void MainWindow::OpenLoginPage(const QUrl& url) {
  if (browser_ != nullptr) browser_->load(url);
}

void MainWindow::SetLoginProfileFolder(const QString& folder) {
  loginProfileFolder_ = folder;
  if (browser_ != nullptr) browser_->SetProfileFolder(folder);
}

void MainWindow::DestroyLoginBrowser() {
  if (browser_ == nullptr) return;
  LoginBrowserHost* view = browser_;
  browser_ = nullptr;
  view->hide();
  view->deleteLater();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!relayoutHeld_) Relayout();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closeGuard_ && !closeGuard_()) {
    event->ignore();
    return;
  }
  emit closing();
  event->accept();
}

}  // namespace autodeliver
