// A later start's knock at the copy that holds the data folder.
#include "app/instance_signal.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

namespace autodeliver {
namespace {

TEST(InstanceSignal, TheHolderHearsTheKnockAndNoOneElseAnswers) {
  QTemporaryDir folder;
  QTemporaryDir other;
  InstanceServer server;
  ASSERT_TRUE(server.Listen(folder.path()));
  QSignalSpy shown(&server, &InstanceServer::showRequested);

  EXPECT_TRUE(KnockAtHolder(folder.path(), 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown.count() == 1; }, 5000));

  EXPECT_FALSE(KnockAtHolder(other.path(), 500));
  QCoreApplication::processEvents();
  EXPECT_EQ(shown.count(), 1);
}

TEST(InstanceSignal, OneFolderHasOneSocketWhateverItsSpelling) {
  QTemporaryDir folder;
  const QString path = folder.path();
  EXPECT_EQ(InstanceSocketPath(path), InstanceSocketPath(path + QStringLiteral("/")));
  EXPECT_EQ(InstanceSocketPath(path),
            InstanceSocketPath(path + QStringLiteral("/../") + QDir(path).dirName()));
  QTemporaryDir other;
  EXPECT_NE(InstanceSocketPath(path), InstanceSocketPath(other.path()));
}

TEST(InstanceSignal, ASocketLeftByADeadHolderIsTakenOver) {
  QTemporaryDir folder;
  // What a killed holder leaves: a bound socket file nobody listens on.
  const QByteArray stale = InstanceSocketPath(folder.path()).toLocal8Bit();
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(static_cast<std::size_t>(stale.size()), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, stale.constData(), static_cast<std::size_t>(stale.size()));
  ::unlink(stale.constData());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
  EXPECT_FALSE(KnockAtHolder(folder.path(), 500));

  InstanceServer server;
  ASSERT_TRUE(server.Listen(folder.path()));
  QSignalSpy shown(&server, &InstanceServer::showRequested);
  EXPECT_TRUE(KnockAtHolder(folder.path(), 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown.count() == 1; }, 5000));
}

}  // namespace
}  // namespace autodeliver
