// A hung office: every call that can reach it on the row path and the menu
// path gives up within its own bound, and the office is stopped rather than
// left hanging. The office is made to hang before the call, and each test
// waits until the kernel has stopped every thread of it (StopLikeAHang), so
// no call can be answered by chance. The file bound is set far above the
// call bound: a call that waits out the wrong one says so in its message
// and takes far longer.
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"
#include "EventPump.h"

#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <functional>

namespace {

using namespace std::chrono_literals;

// Well above the call bound and the few seconds a stop needs on a busy
// machine, well below the file bound.
constexpr qint64 kGivenUpWithinMs = 15000;
const char* const kCallBoundMessage = "did not answer within 1 s and was stopped";

class HungOfficeTest : public CalcTest {
 protected:
  void SetUp() override {
    CalcTest::SetUp();
    // A saved workbook with a row, read back (so the office is well under
    // way), and a copy of it on the disk to open; all within the usual bounds.
    book_ = AddSaved("hung.xlsx");
    WriteRow(Sheet1(), 1, {"1", "first"});
    ASSERT_EQ(Sheet1().Get("Cells", {1, 2}).Get("Value").ToText(), "first");
    book_.Call("Save");
    ASSERT_TRUE(QFile::copy(dir.Path("hung.xlsx"), dir.Path("copy.xlsx")));
    LibreOfficeBounds bounds = usual_;
    bounds.call = 1s;
    bounds.file = 60s;
    SetLibreOfficeBounds(bounds);
    pid_ = LibreOfficeProcessId();
    ASSERT_TRUE(StopLikeAHang(pid_)) << "office " << pid_ << " did not stop";
  }

  void TearDown() override {
    SetLibreOfficeBounds(usual_);
    CalcTest::TearDown();
    StopLibreOffice();  // a test that failed may have left it hanging
  }

  // Runs call on the hung office: it fails within the call bound (its
  // message says which bound ran out) and the office is gone.
  void ExpectGivenUpWithinTheCallBound(const std::function<void()>& call) {
    QElapsedTimer clock;
    clock.start();
    const QString gone = GoneMessageOf(call);
    const qint64 waited = clock.elapsed();
    EXPECT_TRUE(gone.contains("is no longer open in LibreOffice: LibreOffice " + QString(kCallBoundMessage)))
        << gone.toStdString();
    EXPECT_LT(waited, kGivenUpWithinMs);
    EXPECT_FALSE(ProcessRuns(pid_)) << "the hung office was left behind";
  }

  const LibreOfficeBounds usual_ = CurrentLibreOfficeBounds();
  OleVariant book_;
  int64_t pid_ = -1;
};

TEST_F(HungOfficeTest, ARowSentOnTheTimerGivesUpWithinTheCallBoundAndTheNextCallSaysSo) {
  ExpectGivenUpWithinTheCallBound([&] {
    WriteRow(Sheet1(), 2, {"2"});
    ProcessEventsFor(20);  // the row goes out on the timer
    app.Get("Visible");
  });
  // A new instance starts a new office and works.
  app = OleVariant(CreateLibreOfficeApplication());
  EXPECT_NE(LibreOfficeProcessId(), pid_);
  app.Get("Workbooks").Get("Add");
  WriteRow(Sheet1(), 1, {"fresh"});
  EXPECT_EQ(Sheet1().Get("Cells", {1, 1}).Get("Value").ToText(), "fresh");
}

TEST_F(HungOfficeTest, ARowSentBeforeTheNextCallGivesUpWithinTheCallBound) {
  ExpectGivenUpWithinTheCallBound([&] {
    WriteRow(Sheet1(), 2, {"2"});
    Sheet1().Get("Cells", {2, 1}).Get("Value");
  });
}

TEST_F(HungOfficeTest, AReadGivesUpWithinTheCallBound) {
  ExpectGivenUpWithinTheCallBound([&] { Sheet1().Get("Cells", {1, 3}).Get("Value"); });
}

TEST_F(HungOfficeTest, SaveGivesUpWithinTheCallBound) {
  ExpectGivenUpWithinTheCallBound([&] { book_.Call("Save"); });
}

TEST_F(HungOfficeTest, SaveAsGivesUpWithinTheCallBound) {
  ExpectGivenUpWithinTheCallBound([&] { book_.Call("SaveAs", {dir.Path("other.ods")}); });
  EXPECT_FALSE(QFile::exists(dir.Path("other.ods")));
}

TEST_F(HungOfficeTest, OpenGivesUpWithinTheCallBound) {
  ExpectGivenUpWithinTheCallBound([&] { app.Get("Workbooks").Call("Open", {dir.Path("copy.xlsx"), false}); });
}

TEST_F(HungOfficeTest, ANewWorkbookGivesUpWithinTheCallBound) {
  ExpectGivenUpWithinTheCallBound([&] { app.Get("Workbooks").Get("Add"); });
}

TEST_F(HungOfficeTest, QuitGivesUpWithinTheCallBoundWithoutAQuestion) {
  WriteRow(Sheet1(), 2, {"unsaved"});
  QElapsedTimer clock;
  clock.start();
  app.Call("Quit");  // the rows are the program's to keep: Quit itself does not fail
  EXPECT_LT(clock.elapsed(), kGivenUpWithinMs);
  EXPECT_FALSE(ProcessRuns(pid_)) << "the hung office was left behind";
  EXPECT_TRUE(responder.questions.empty()) << "nothing can be saved into a hung office";
}

TEST_F(HungOfficeTest, AtTheProgramsEndAHungOfficeIsStoppedWithoutWaitingForIt) {
  QElapsedTimer clock;
  clock.start();
  StopLibreOffice();
  // Asked to end for 3 s, then stopped: no second wait of 3 s for an office
  // that took no request.
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_FALSE(ProcessRuns(pid_)) << "the hung office was left behind";
  EXPECT_EQ(LibreOfficeProcessId(), -1);
}

}  // namespace
