// When Calc goes away under the program: the office killed, the workbook's
// window closed (a hung office: test_calc_hung.cpp). The program goes on,
// the failure says the workbook is no longer open in LibreOffice, nothing
// written before is lost, and a new instance works. Also: unsaved changes are asked about at the
// end, and the user's own LibreOffice is never touched.
#include "libreoffice/BridgePlugin.h"
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"
#include "EventPump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <csignal>
#include <unistd.h>
#include <cstdio>

TEST_F(CalcTest, KillingTheOfficeLosesNothingSavedAndANewInstanceStartsAFreshOne) {
  const OleVariant book = AddSaved("scan.xlsx");
  WriteRow(Sheet1(), 1, {"1", "first"});
  book.Call("Save");
  const int64_t pid = LibreOfficeProcessId();
  ASSERT_GT(pid, 0);
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  const QString gone = GoneMessageOf([&] {
    WriteRow(Sheet1(), 2, {"2", "second"});
    Sheet1().Get("Cells", {2, 1}).Get("Value");
  });
  EXPECT_TRUE(gone.contains("'scan.xlsx' is no longer open in LibreOffice")) << gone.toStdString();
  EXPECT_EQ(LibreOfficeProcessId(), -1);
  // Later calls on the old instance fail the same way; a new one works.
  EXPECT_THROW(book.Call("Save"), EServerGone);
  QElapsedTimer clock;
  clock.start();
  app = OleVariant(CreateLibreOfficeApplication());
  std::printf("a new office started and answered in %lld ms\n", static_cast<long long>(clock.elapsed()));
  EXPECT_NE(LibreOfficeProcessId(), pid);
  app.Get("Workbooks").Call("Open", {dir.Path("scan.xlsx"), false});
  EXPECT_EQ(Sheet1().Get("Cells", {1, 2}).Get("Value").ToText(), "first");
}

TEST_F(CalcTest, ARowThatFailsOnTheTimerFailsTheNextCall) {
  AddSaved("timer.ods");
  const OleVariant sheet = Sheet1();
  WriteRow(sheet, 1, {"x"});
  sheet.Get("Cells", {1, 1}).Get("Value");
  ::kill(static_cast<pid_t>(LibreOfficeProcessId()), SIGKILL);
  WriteRow(sheet, 2, {"y"});
  ProcessEventsFor(200);  // the row goes out on the timer, into a dead office
  const QString gone = GoneMessageOf([&] { app.Get("Visible"); });
  EXPECT_TRUE(gone.contains("no longer open in LibreOffice")) << gone.toStdString();
}

TEST_F(CalcTest, ClosingTheWorkbooksWindowInCalcIsNoticedAndOtherWorkbooksGoOn) {
  const OleVariant other = AddSaved("other.xlsx");
  const OleVariant book = AddSaved("closed.xlsx");
  WriteRow(Sheet1(), 1, {"before"});
  CloseWorkbookInCalc(book);
  const QString gone = GoneMessageOf([&] {
    WriteRow(Sheet1(), 2, {"after"});
    Sheet1().Get("Cells", {2, 1}).Get("Value");
  });
  EXPECT_TRUE(gone.contains("'closed.xlsx' is no longer open in LibreOffice: its window was closed")) << gone.toStdString();
  EXPECT_GT(LibreOfficeProcessId(), 0);  // the office itself goes on
  const OleVariant sheet = other.Get("Sheets").Get("Item", {1});
  WriteRow(sheet, 1, {"still", "here"});
  EXPECT_EQ(sheet.Get("Cells", {1, 2}).Get("Value").ToText(), "here");
}

TEST_F(CalcTest, QuitAndDroppingTheInstanceAskAboutUnsavedChangesAsTheBuiltInServerDoes) {
  OleVariant book = AddSaved("ask.xlsx");
  WriteRow(Sheet1(), 1, {"saved", "1"});
  responder.answers = {Answer::Save};
  app.Call("Quit");
  ASSERT_EQ(responder.questions.size(), 1u);
  EXPECT_EQ(responder.questions[0].text, "Do you want to save the changes you made to 'ask.xlsx'?");
  EXPECT_EQ(OpenpyxlRows(dir.Path("ask.xlsx"), 1, 2), "'saved'|1\n");

  // Don't Save leaves the file as it was; dropping the last reference asks too.
  app = OleVariant(CreateLibreOfficeApplication());
  book = app.Get("Workbooks").Call("Open", {dir.Path("ask.xlsx"), false});
  WriteRow(Sheet1(), 2, {"dropped", "2"});
  responder.questions.clear();
  responder.answers = {Answer::DontSave};
  book = OleVariant();
  app = OleVariant();
  ASSERT_EQ(responder.questions.size(), 1u);
  EXPECT_EQ(OpenpyxlRows(dir.Path("ask.xlsx"), 2, 2), "'saved'|1\nNone|None\n");

  // A saved workbook is closed without a question.
  app = OleVariant(CreateLibreOfficeApplication());
  app.Get("Workbooks").Call("Open", {dir.Path("ask.xlsx"), false});
  responder.questions.clear();
  app.Call("Quit");
  EXPECT_TRUE(responder.questions.empty());
}

TEST_F(CalcTest, AnOfficeThatDoesNotStartInTimeIsStoppedAndSaidSo) {
  app.Call("Quit");
  app = OleVariant();
  StopLibreOffice();
  const LibreOfficeBounds usual = CurrentLibreOfficeBounds();
  LibreOfficeBounds tight = usual;
  tight.start = std::chrono::milliseconds(50);
  SetLibreOfficeBounds(tight);
  QString message;
  try {
    CreateLibreOfficeApplication();
  } catch (const EServerUnavailable& e) {
    message = e.Message();
  }
  SetLibreOfficeBounds(usual);
  EXPECT_TRUE(message.startsWith("LibreOffice did not start within 0.05 s.")) << message.toStdString();
  EXPECT_TRUE(message.contains("sudo apt install libreoffice-calc"));
  EXPECT_EQ(LibreOfficeProcessId(), -1);
  app = OleVariant(CreateLibreOfficeApplication());  // with time enough it starts
  EXPECT_GT(LibreOfficeProcessId(), 0);
}

// Run in a child by the next test: starts the office, says its process id,
// and dies without any clean-up.
TEST_F(CalcTest, DISABLED_ChildStartsAnOfficeAndIsKilled) {
  app.Get("Workbooks").Get("Add");
  std::printf("office %lld\n", static_cast<long long>(LibreOfficeProcessId()));
  std::fflush(stdout);
  ::kill(getpid(), SIGKILL);
}

TEST_F(CalcTest, TheOfficeEndsWithTheProgramHoweverTheProgramEnds) {
  const ProgramRun child = RunProgram(QCoreApplication::applicationFilePath(),
                                      {"--gtest_also_run_disabled_tests",
                                       "--gtest_filter=CalcTest.DISABLED_ChildStartsAnOfficeAndIsKilled"},
                                      60000, {"CFW_CALC_TEST_STATE=" + dir.Path("state")});
  const qsizetype at = child.out.indexOf("office ");
  ASSERT_GE(at, 0) << child.out.toStdString() << child.err.toStdString();
  const int64_t pid = child.out.mid(at + 7).section('\n', 0, 0).toLongLong();
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(WaitUntil([&] { return !ProcessRuns(pid); }, 10000)) << "office " << pid << " outlived the program";
}

TEST_F(CalcTest, TheUsersOwnLibreOfficeKeepsItsDocumentAndProcess) {
  NeededPackages::Require({"soffice", "uno"});
  MakeWithOffice(dir.Path("mine.ods"), "calc8", "doc.Sheets.getByIndex(0).getCellByPosition(0, 0).setString('mine')");
  // The user's LibreOffice: the usual launcher, the default profile (of a
  // home of its own here), a document open in it.
  QProcess user;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", dir.Path("home"));
  env.remove("XDG_CONFIG_HOME");
  user.setProcessEnvironment(env);
  const QString pipe = QStringLiteral("cfwusersoffice%1").arg(QCoreApplication::applicationPid());
  user.start("soffice", {"--headless", "--norestore", "--accept=pipe,name=" + pipe + ";urp;", dir.Path("mine.ods")});
  ASSERT_TRUE(user.waitForStarted());
  const QString countDocs =
      "import sys, time, uno\n"
      "local = uno.getComponentContext()\n"
      "r = local.ServiceManager.createInstanceWithContext('com.sun.star.bridge.UnoUrlResolver', local)\n"
      "for _ in range(240):\n"
      "    try:\n"
      "        ctx = r.resolve('uno:pipe,name=' + sys.argv[1] + ';urp;StarOffice.ComponentContext'); break\n"
      "    except Exception: time.sleep(0.25)\n"
      "d = ctx.ServiceManager.createInstanceWithContext('com.sun.star.frame.Desktop', ctx)\n"
      "for _ in range(120):\n"
      "    urls = [c.getURL() for c in d.Components]\n"
      "    if urls: break\n"
      "    time.sleep(0.25)\n"
      "print(' '.join(urls))\n";
  const ProgramRun before = RunProgram("/usr/bin/python3", {"-c", countDocs, pipe});
  ASSERT_TRUE(before.out.contains("mine.ods")) << before.err.toStdString();

  AddSaved("ours.xlsx");
  WriteRow(Sheet1(), 1, {"ours"});
  EXPECT_NE(LibreOfficeProcessId(), user.processId());
  responder.answers = {Answer::DontSave};
  app.Call("Quit");
  StopLibreOffice();

  EXPECT_EQ(user.state(), QProcess::Running);
  const ProgramRun after = RunProgram("/usr/bin/python3", {"-c", countDocs, pipe});
  EXPECT_EQ(after.out.trimmed(), before.out.trimmed());
  EXPECT_FALSE(after.out.contains("ours.xlsx"));
  // The user's office is ended as the user would end it: the launcher alone
  // would leave the office behind.
  RunProgram("/usr/bin/python3", {"-c", countDocs + "d.terminate()\n", pipe});
  EXPECT_TRUE(user.waitForFinished(30000));
}
