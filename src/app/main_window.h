// The main window: the banner, the page control with its three pages and
// every control of the layout, each with its layout name as objectName, so
// that the management pages and the tests find them with
// findChild<...>("<layout name>"):
//
//   QLabel         图片框1 (banner), 标签1 .. 标签11
//   QTabWidget     高级选择夹1 (pages 0 "登陆淘宝帐号(支持旺旺在线一键登录)",
//                  1 "已发卡密" (disabled until sign-in), 2 "卡密管理").
//                  Controls on a page are placed relative to the page
//                  control, the page captions included, as in the layout.
//   QFrame         外形框1 .. 外形框21 (one-pixel border), 图片框2 (browser holder)
//   QLineEdit      编辑框1, 编辑框2 (disabled at start), 宝贝备注, 限拍数量
//   QPlainTextEdit 编辑框3 (card import box)
//   QPushButton    超级按钮1 .. 超级按钮9 (no 5)
//   QCheckBox      选择框1, 选择框2
//   QGroupBox      分组框1
//   QComboBox      组合框1 (not editable)
//   QTreeWidget    超级列表框1 (monitored items, a check box per row)
//   QTreeView      超级列表框2 (card stock; no model: the pages set theirs)
//   QTableView     高级表格1 (sent cards; no model: the pages set theirs)
//   QTimer         自动发货时钟 (delivery timer, stopped)
//   QWebEngineView 互联网浏览器1 (login browser, inside 图片框2)
//
// The management pages attach their handlers to this tree by objectName;
// the program's entry does that right after building the window. The
// window tells them of the first sign-in (signedIn) and of every refresh the
// delivery cycle asks for (refreshRequested).
//
// Thread safety: a QWidget; use it on the GUI thread only, except the two
// DeliveryWindow methods, which any thread may call (they are handed over
// to the window's thread).
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include "delivery/delivery_window.h"

class QWebEngineView;

namespace autodeliver {

class MainWindow : public QWidget, public DeliveryWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The window's design-time title; start-up puts the version in place of
  // "{版本号}".
  static QString DesignTitle();

  // Moves the banner, the page control and the browser holder to fit the
  // client area. Runs on every size change; callable directly.
  void Relayout();

  // The login check of one completed navigation, `address` being the
  // address shown at that moment. A signed-in address hides the browser
  // holder (every time); the first one also renames page 0 "店铺发货设置",
  // enables page 1 and emits signedIn().
  void CheckSignIn(const QString& address);
  bool PagesPrepared() const { return pagesPrepared_; }

  // The login browser; null once destroyed.
  QWebEngineView* LoginBrowser() const { return browser_; }
  // Lets the login browser open `url` (no headers, no post data).
  void OpenLoginPage(const QUrl& url);
  // Destroys the login browser for the rest of the process; its cookies
  // stay in the program's cookie store.
  void DestroyLoginBrowser();

  // DeliveryWindow: both are queued to the window's thread.
  void RefreshAfterDelivery() override;
  void SetTimerInterval(int milliseconds) override;

 signals:
  // Emitted once per process, on the window's thread, at the first
  // recognised sign-in, after page 0 was renamed and page 1 enabled. The
  // pages fill the monitored-items list, the item chooser and the
  // sent-cards grid, in this order.
  void signedIn();
  // Emitted on the window's thread for every RefreshAfterDelivery.
  void refreshRequested();
  // Emitted on the window's thread when the window is closing (closing is
  // never refused); a handler may wait here for a delivery cycle in hand.
  void closing();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildLayout();
  void BuildBrowser();

  QWebEngineView* browser_ = nullptr;
  bool pagesPrepared_ = false;
};

}  // namespace autodeliver
