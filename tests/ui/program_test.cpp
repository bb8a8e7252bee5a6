// The real lumivex program on a virtual X server: its window appears titled "Lumivex" and a
// close request from the window system ends the program cleanly.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

TEST(ProgramTest, StartsShowsItsWindowAndEndsWhenClosed) {
  const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
  if (xvfbRun.isEmpty()) GTEST_SKIP() << "xvfb-run is not installed";
  QTemporaryDir work;  // no Lumivex.ini: every page gets a tab
  ASSERT_TRUE(work.isValid());

  QProcess run;
  run.setWorkingDirectory(work.path());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("QT_QPA_PLATFORM");  // the real window system this time
  run.setProcessEnvironment(env);
  run.setProcessChannelMode(QProcess::MergedChannels);
  // The program runs in the background; the closer finds its window and sends the close
  // request; the script reports both exit statuses.
  const QString script =
      "\"$1\" & pid=$!; \"$2\" Lumivex 30; closer=$?; "
      "if [ $closer -ne 0 ]; then kill $pid; fi; wait $pid; echo \"closer=$closer program=$?\"";
  run.start(xvfbRun, {"-a", "-s", "-screen 0 1024x768x24", "sh", "-c", script, "sh",
                      QStringLiteral(LUMIVEX_PROGRAM), QStringLiteral(LUMIVEX_X11_CLOSE)});
  ASSERT_TRUE(run.waitForStarted(10000));
  const bool finished = run.waitForFinished(90000);
  if (!finished) run.kill();
  const QString output = QString::fromLocal8Bit(run.readAll());
  ASSERT_TRUE(finished) << output.toStdString();
  EXPECT_TRUE(output.contains("titled \"Lumivex\"")) << output.toStdString();
  EXPECT_TRUE(output.contains("closer=0 program=0")) << output.toStdString();
}

}  // namespace
