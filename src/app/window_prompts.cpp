// Message boxes, input boxes, the default browser and the end of the
// program with Qt.
#include "app/window_prompts.h"

#include <xcb/xcb.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>
#include <QWindow>

#include "text/gbk.h"

namespace autodeliver {

namespace {

QString FromGbk(const std::string& text) { return QString::fromStdString(GbkToUtf8Lossy(text)); }

// Points the box's transient parent at the owner's current native window.
// Qt keeps its own record (modality, placement); the window system's record
// (WM_TRANSIENT_FOR on X11) is written only when a window is shown, so it is
// written anew here for a box that is already up.
void PointTransientParentAt(QWidget& box, QWidget& owner) {
  QWindow* boxWindow = box.windowHandle();
  QWindow* ownerWindow = owner.windowHandle();
  if (boxWindow == nullptr || ownerWindow == nullptr) return;
  boxWindow->setTransientParent(ownerWindow);
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return;
  const auto ownerId = static_cast<xcb_window_t>(owner.winId());
  xcb_change_property(x11->connection(), XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(box.winId()),
                      XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &ownerId);
  xcb_flush(x11->connection());
}

// Keeps an open box above its owner's window: raises it and gives it the
// focus once it is on screen, and again each time the owner's native window
// was made anew. Both run after the event that tells of them has been
// handled, when the box is mapped and the owner's new window is shown.
class BoxOverOwner : public QObject {
 public:
  BoxOverOwner(QWidget& box, QWidget* owner) : box_(box), owner_(owner) {
    box_.installEventFilter(this);
    if (owner_ != nullptr) owner_->installEventFilter(this);
  }
  ~BoxOverOwner() override {
    box_.removeEventFilter(this);
    if (owner_ != nullptr) owner_->removeEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    const bool shown = watched == &box_ && event->type() == QEvent::Show;
    const bool remade = watched == owner_ && event->type() == QEvent::WinIdChange;
    if (shown || remade) {
      QMetaObject::invokeMethod(
          this, [this, remade] { BringToFront(remade); }, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  void BringToFront(bool ownerRemade) {
    if (!box_.isVisible()) return;
    if (ownerRemade && owner_ != nullptr && owner_->internalWinId() != 0)
      PointTransientParentAt(box_, *owner_);
    box_.raise();
    box_.activateWindow();
  }

  QWidget& box_;
  QPointer<QWidget> owner_;
};

}  // namespace

BoxAnswer WindowPrompts::ShowBox(const std::string& text, const std::string& caption, BoxKind kind) {
  QWidget* owner = owner_ ? owner_->window() : nullptr;
  QMessageBox box(owner);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowTitle(FromGbk(caption));
  // Line ends arrive as CR LF.
  box.setText(FromGbk(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  switch (kind) {
    case BoxKind::kError:
      box.setIcon(QMessageBox::Critical);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case BoxKind::kInformation:
      box.setIcon(QMessageBox::Information);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case BoxKind::kQuestion:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
  }
  // The program's own words on the buttons, whatever translation is loaded.
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setText(QStringLiteral("确定"));
  if (QAbstractButton* yes = box.button(QMessageBox::Yes)) yes->setText(QStringLiteral("是(&Y)"));
  if (QAbstractButton* no = box.button(QMessageBox::No)) no->setText(QStringLiteral("否(&N)"));
  BoxOverOwner keeper(box, owner);
  const int answer = box.exec();
  if (kind != BoxKind::kQuestion) return BoxAnswer::kOk;
  return answer == QMessageBox::Yes ? BoxAnswer::kYes : BoxAnswer::kNo;
}

std::optional<std::string> WindowPrompts::AskText(const std::string& prompt, const std::string& caption,
                                                  const std::string& initial) {
  QWidget* owner = owner_ ? owner_->window() : nullptr;
  QInputDialog box(owner);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowTitle(FromGbk(caption));
  box.setLabelText(FromGbk(prompt));
  box.setTextValue(FromGbk(initial));
  box.setOkButtonText(QStringLiteral("确定"));
  box.setCancelButtonText(QStringLiteral("取消"));
  if (box.exec() != QDialog::Accepted) return std::nullopt;
  return Utf8ToGbkLossy(box.textValue().toStdString());
}

std::optional<std::string> WindowPrompts::AskOpenFile(const std::string& caption, const std::string& filter) {
  QWidget* owner = owner_ ? owner_->window() : nullptr;
  const QString path = QFileDialog::getOpenFileName(owner, FromGbk(caption), QString(), FromGbk(filter));
  if (path.isEmpty()) return std::nullopt;
  return QFile::encodeName(path).toStdString();
}

void WindowPrompts::OpenPage(const std::string& url) { QDesktopServices::openUrl(QUrl(FromGbk(url))); }

void WindowPrompts::EndProgram(int exitCode) {
  ended_ = true;
  exitCode_ = exitCode;
  QCoreApplication::exit(exitCode);
}

}  // namespace autodeliver
