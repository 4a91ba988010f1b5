// "--help" and "--version" of the program as built: answered on the standard
// output with exit code 0, without a display and without the data folder
// being touched (a start would put its lock file there).
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

struct Answer {
  int exitCode = -1;
  QString out;
};

// Runs the program with `argument` where no display can be reached and
// `folder` is its data folder.
Answer RunProgram(const QString& argument, const QString& folder) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    env.remove(QString::fromLatin1(name));
  env.insert(QStringLiteral("AUTODELIVER_DIR"), folder);
  QProcess program;
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(AUTODELIVER_EXE), {argument});
  Answer answer;
  if (!program.waitForFinished(30000)) {
    program.kill();
    program.waitForFinished(5000);
    return answer;
  }
  if (program.exitStatus() == QProcess::NormalExit) answer.exitCode = program.exitCode();
  answer.out = QString::fromUtf8(program.readAllStandardOutput());
  return answer;
}

TEST(CommandLineTest, HelpAndVersionAnswerWithoutADisplayOrADataFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.path();
  struct Case {
    const char* argument;
    const char* expected;
  };
  for (const Case& c :
       {Case{"--help", "--version"}, Case{"-h", "用法：autodeliver"},
        Case{"--version", "autodeliver 1.0.0.1007"}, Case{"-v", "(Build 2012-11-20 Release)"}}) {
    SCOPED_TRACE(c.argument);
    const Answer answer = RunProgram(QString::fromLatin1(c.argument), folder);
    EXPECT_EQ(answer.exitCode, 0);
    EXPECT_TRUE(answer.out.contains(QString::fromUtf8(c.expected))) << answer.out.toStdString();
    EXPECT_TRUE(QDir(folder).isEmpty()) << QDir(folder).entryList().join(u' ').toStdString();
  }
}

}  // namespace
