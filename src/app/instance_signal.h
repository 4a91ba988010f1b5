// How a second start reaches the copy of the program that holds the data
// folder (store/instance_lock.h decides which one that is): the holder
// listens on a local socket named from the folder, and a later start that
// finds the folder locked knocks there, so the holder brings its window to
// the front. The socket lives in $XDG_RUNTIME_DIR (else the temporary
// folder), is open to its user only, and carries one line, "show".
//
// Thread safety: InstanceServer on the GUI thread; KnockAtHolder on any
// thread (it needs no event loop).
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace autodeliver {

// The socket's full path for a data folder: the same for every spelling of
// the folder (it is resolved first) and distinct per user and folder.
QString InstanceSocketPath(const QString& folder);

class InstanceServer : public QObject {
  Q_OBJECT

 public:
  explicit InstanceServer(QObject* parent = nullptr);
  ~InstanceServer() override;

  // Starts listening for `folder`. Call only while holding the folder's
  // lock: a socket left by a holder that died is removed first.
  bool Listen(const QString& folder);

 signals:
  // A later start asked to see the window.
  void showRequested();

 private:
  QLocalServer* server_;
};

// Asks the holder of `folder` to show its window; true when the request
// reached its socket within `timeoutMs`.
bool KnockAtHolder(const QString& folder, int timeoutMs);

}  // namespace autodeliver
