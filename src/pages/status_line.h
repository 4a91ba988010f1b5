// The status line under the page control: when the orders were last
// scanned and what the order page held, the orders delivered today, the
// orders waiting for stock (per item in the hover text) and the seconds to
// the next scan, worded by StatusLineText (delivery/status_figures.h). In front it
// says when the login looks expired or the IM client did not take a
// message; an expired login also shows the button "重新登录".
//
// A line wider than the window is cut with "…"; its hover text always holds
// the whole line and the orders waiting for stock.
//
// The line reads the status figures and the delivery timer once a second
// (Refresh), on the window's thread: the figures are a copy taken under
// their own lock, so the delivery thread is never waited for.
//
// After a new sign-in (ReLoginDone) the line says so instead of the expired
// login until the next cycle ends and tells whether the login works again.
//
// Thread safety: lives on the window's thread; every method is called there.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>

#include "delivery/status_figures.h"
#include "pages/page_controls.h"

namespace autodeliver {

class StatusLine : public QObject {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 1000;

  // Whether a delivery cycle runs now.
  using CycleRunning = std::function<bool()>;

  // Binds the line to `controls` (all set). `status` gives the figures and
  // must outlive the line; `deliveryTimer` (may be null) counts down to the
  // next scan.
  StatusLine(const StatusLineControls& controls, const DeliveryStatus& status, QTimer* deliveryTimer,
             CycleRunning cycleRunning = {}, QObject* parent = nullptr);

  // Reads the figures and the timer and shows them.
  void Refresh();

  // The whole line (the label may show it cut) and its hover text.
  QString text() const { return text_; }
  QString toolTip() const;
  // The login looks expired (and no new sign-in waits for its first cycle).
  bool loginLooksExpired() const { return expired_; }

  // A new login browser is open (the button reads "放弃重新登录"), or not.
  void SetReLoginRunning(bool running);
  // The seller signed in anew.
  void ReLoginDone();

 signals:
  // "重新登录" / "放弃重新登录" was pressed.
  void reLoginRequested();
  void reLoginCancelled();
  // The login started or stopped looking expired.
  void loginExpiredChanged(bool expired);
  void textChanged(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowText();
  void ButtonClicked();
  void UpdateButton();

  QPointer<QLabel> label_;
  QPointer<QPushButton> button_;
  const DeliveryStatus& status_;
  QPointer<QTimer> deliveryTimer_;
  CycleRunning cycleRunning_;
  QTimer refresh_;
  QString text_;
  bool expired_ = false;
  bool reLoginRunning_ = false;
  int reLoginCycles_ = -1;  // cyclesEnded at the last new sign-in; -1: none waits
};

}  // namespace autodeliver
