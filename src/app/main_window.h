// The main window: the banner, the page control with its three pages and
// every control of the layout, each with its layout name (layout_names.h)
// as objectName, so that tests and the demo driver find them with
// findChild<...>(name). Kinds of the controls:
//
//   QLabel         banner, labels
//   QTabWidget     the page control: pages 0 "登陆淘宝帐号(支持旺旺在线一键登录)",
//                  1 "已发卡密" (disabled until sign-in), 2 "卡密管理",
//                  3 "发货统计" (disabled until sign-in).
//                  Controls on a page are placed relative to the page
//                  control, the page captions included, as in the layout.
//   QFrame         frames (one-pixel border), the browser holder
//   QLineEdit      name box, interval box (disabled at start), remark box,
//                  limit box
//   QPlainTextEdit card import box
//   QPushButton    the buttons
//   QCheckBox      needs-card box, delivery switch
//   QSpinBox       stock warning level of the selected item
//   QGroupBox      status group
//   QComboBox      item chooser (not editable)
//   QTreeWidget    monitored items list (a check box per row)
//   QTreeView      card stock list (no model: its page sets one)
//   QTableView     sent-cards grid (no model: its page sets one)
//   QChartView     deliveries plot (no chart: its page sets one)
//   QTimer         delivery timer (stopped)
//   LoginBrowserHost  the login browser's place inside the browser holder,
//                  where the login browser process shows its window
//                  (login_browser.h)
//
// Keys: Enter in the name box adds the item, in the interval box applies
// the setting, in the remark and limit boxes stores them; Alt+A "添加到列表",
// F2 "更改名称", Alt+D "删除商品" / "删除库存" (on their pages; Delete in the
// stock list too), Alt+S "设置", Ctrl+Enter in the import box or Alt+I
// "增加入库", Ctrl+F the search box of the page shown, F1 the About box. The
// layout's texts stay as they are: the keys are told in the hover texts.
//
// A window larger than the layout's size lets the pages' lists, boxes and
// grids grow with it and moves the controls to their right and below them
// along (AnchorControls); at the layout's size everything stays where the
// layout puts it.
//
// Beyond the design layout: page 3 "运行日志" (the log page: filter box,
// count line, "通知设置", the log's QTableView) and a status line of
// kStatusLineHeight under the page control (a label and the "重新登录"
// button), which the re-layout keeps at the bottom of the client area.
//
// The controls the management pages work with are handed to them as typed
// pointers (pageControls()), filled once while the layout is built. The
// window tells of the first sign-in (signedIn) and of its end (closing).
//
// Thread safety: a QWidget; use it on the GUI thread only.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

#include "pages/page_controls.h"

namespace autodeliver {

class ShopContext;

class LoginBrowserHost;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // Height of the status line under the page control; the window is that
  // much taller than the design layout.
  static constexpr int kStatusLineHeight = 22;

  // The window of `shop`, which must outlive it.
  explicit MainWindow(ShopContext& shop, QWidget* parent = nullptr);
  ~MainWindow() override;

  ShopContext& shop() const { return shop_; }

  // The window's design-time title; start-up puts the version in place of
  // "{版本号}".
  static QString DesignTitle();

  // Moves the banner, the page control, the status line and the browser
  // holder to fit the client area. Runs on every size change, except while
  // held; callable directly.
  void Relayout();
  // Holds the re-layout back: size changes (the one that showing the window
  // delivers among them) leave the controls where they are, so the browser
  // holder stays below the visible area. The start-up sequence runs under
  // this hold; ReleaseRelayout() ends it and re-lays out once.
  void HoldRelayout();
  void ReleaseRelayout();

  // The login check of one completed navigation, `address` being the
  // address shown at that moment. A signed-in address hides the browser
  // holder (every time); the first one also renames page 0 "店铺发货设置",
  // enables pages 1 and 3 and emits signedIn().
  void CheckSignIn(const QString& address);
  bool PagesPrepared() const { return pagesPrepared_; }

  // The login browser; null once destroyed.
  LoginBrowserHost* LoginBrowser() const { return browser_; }
  // Lets the login browser open `url` (no headers, no post data); its
  // process starts here and the page arrives a moment later.
  void OpenLoginPage(const QUrl& url);
  // Where login browsers started from now on keep their profile; empty (the
  // default) for a private profile that ends with the browser.
  void SetLoginProfileFolder(const QString& folder);
  const QString& LoginProfileFolder() const { return loginProfileFolder_; }
  // Destroys the login browser for the rest of the process; its cookies
  // stay in the program's cookie store.
  void DestroyLoginBrowser();

  // The controls of the management pages, by page.
  const PageControls& pageControls() const { return controls_; }

  // Opens the About box (F1, or "关于…" on the log page): the version, the
  // data folder, the log folder and the licence. Does not wait; the box
  // (objectName "关于") closes itself.
  void ShowAbout();
  // Asked before the window closes: false keeps it open (the guard may
  // hide it instead); without a guard closing is never refused.
  void SetCloseGuard(std::function<bool()> guard) { closeGuard_ = std::move(guard); }

 signals:
  // Emitted once per process, on the window's thread, at the first
  // recognised sign-in, after page 0 was renamed and page 1 enabled. The
  // pages fill the monitored-items list, the item chooser and the
  // sent-cards grid, in this order.
  void signedIn();
  // Emitted on the window's thread when the window is closing (once the
  // close guard, if any, agreed); a handler may wait here for a delivery
  // cycle in hand.
  void closing();
  // A login browser (the first one or a new sign-in's) ended early or
  // stopped answering; `reason` is the seller's text.
  void loginBrowserFailed(const QString& reason);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  ShopContext& shop_;
  void BuildLayout();
  void BuildLogPageAndStatusLine();
  void BuildBrowser();
  void AnchorControls();
  // Enter in a box does its button's work; keyboard shortcuts for the main
  // actions; labels bound to their boxes and names for screen readers.
  void BindKeysAndNames();
  // Lets the pages' controls follow a page control larger than the layout's
  // by `dx` x `dy` pixels; at (0, 0) every control is at its layout place.
  void GrowPages(int dx, int dy);

  // How a control follows a larger page control: each part of the extra
  // width (none, all of it, its left half, its right half) by which it
  // moves and grows, and whether it moves down or grows with the extra
  // height.
  enum class Share { kNone, kAll, kLeftHalf, kRightHalf };
  struct Anchor {
    QWidget* widget;
    QRect design;
    Share moveX, growX;
    bool moveY, growY;
  };
  std::vector<Anchor> anchors_;

  PageControls controls_;
  LoginBrowserHost* browser_ = nullptr;
  QString loginProfileFolder_;
  bool pagesPrepared_ = false;
  bool relayoutHeld_ = false;
  std::function<bool()> closeGuard_;
};

}  // namespace autodeliver
