// The main window as designed, its scanning state and its commands.
#include "MainWindowHarness.h"
#include "settings/Branding.h"
#include "uikit/ErrorReporting.h"
#include "uikit/ScreenCursor.h"
#include "forms/fmAbout.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyleOptionMenuItem>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

QStringList Captions(const QList<QAction*>& actions) {
  QStringList out;
  for (const QAction* a : actions) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return out;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.WriteSettings("[Main]\nPortNo=3\n");
    w = &h.Start();
    h.ui.messages.clear();
  }
  MainWindowHarness h;
  TfrmMain* w = nullptr;
};

TEST_F(MainWindowTest, WindowIsTheDesignedToolWindow) {
  EXPECT_TRUE(w->windowFlags().testFlag(Qt::Tool));
  EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(w->centralWidget()->size(), QSize(375, 34));
  EXPECT_EQ(w->lblMode->geometry(), QRect(0, 0, 375, 34));
  EXPECT_EQ(w->lblMode->text(), "Scanning Not Active");
  EXPECT_EQ(w->lblMode->palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_EQ(w->lblMode->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_EQ(w->lblMode->font().pixelSize(), 19);
  EXPECT_TRUE(w->lblMode->font().bold());
  EXPECT_EQ(w->btnAbout->geometry(), QRect(341, 0, 34, 34));
  EXPECT_EQ(w->btnAbout->toolTip(), "About");
  EXPECT_TRUE(w->btnAbout->isVisible());
  EXPECT_EQ(w->sbGen->geometry(), QRect(296, 0, 34, 34));
  EXPECT_FALSE(w->sbGen->isVisible());
  EXPECT_EQ(w->tmrInputVal->interval(), 500);
  EXPECT_FALSE(w->tmrInputVal->isActive());
  EXPECT_EQ(w->tmrCommDetect->interval(), 5000);
}

TEST_F(MainWindowTest, MenusInDisplayOrderWithoutShortcuts) {
  EXPECT_EQ(Captions(w->menuBar()->actions()),
            QStringList({"File", "Recent", "Utilities", "Scan", "|", kBrandedCopyright}));
  EXPECT_EQ(Captions(w->File1->actions()), QStringList({"New...", "Open", "Save", "Exit"}));
  EXPECT_EQ(Captions(w->Calibrate1->actions()),
            QStringList({"Setup && Calibrate", "-", "Multiple Bubble Mode", "Single Bubble Mode"}));
  EXPECT_EQ(Captions(w->Scan1->actions()), QStringList({"Start Scanning", "Stop Scanning", "Answer Key..."}));
  EXPECT_FALSE(w->N1->isEnabled());
  for (const QAction* a : w->findChildren<QAction*>()) EXPECT_TRUE(a->shortcut().isEmpty()) << a->text().toStdString();
  EXPECT_TRUE(w->MultipleBubbleMode1->isChecked());
}

TEST_F(MainWindowTest, StartScanningWithoutWorkbookOnlyRefuses) {
  w->StartScanning1->trigger();
  EXPECT_EQ(h.ui.Texts(), QStringList({"Excel file must be open before scanning can start."}));
  EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Information);
  EXPECT_TRUE(w->MultipleBubbleMode1->isEnabled());
  EXPECT_TRUE(w->SingleBubbleMode1->isEnabled());
  EXPECT_EQ(w->lblMode->text(), "Scanning Not Active");
  EXPECT_FALSE(w->ScanningActive);
  EXPECT_FALSE(w->ModeCommandPending);
}

TEST_F(MainWindowTest, BubbleModePairIsExclusiveAndKeepsItsCheck) {
  w->MultipleBubbleMode1->trigger();
  EXPECT_TRUE(w->MultipleBubbleMode1->isChecked());
  EXPECT_FALSE(w->SingleBubbleMode1->isChecked());
  w->SingleBubbleMode1->trigger();
  EXPECT_FALSE(w->MultipleBubbleMode1->isChecked());
  EXPECT_TRUE(w->SingleBubbleMode1->isChecked());
  w->SingleBubbleMode1->trigger();
  EXPECT_TRUE(w->SingleBubbleMode1->isChecked()) << "choosing the checked item again changes nothing";
  EXPECT_FALSE(w->MultipleBubbleMode1->isChecked());
  w->MultipleBubbleMode1->setChecked(true);  // as the settings file sets it
  EXPECT_FALSE(w->SingleBubbleMode1->isChecked());
  EXPECT_TRUE(h.ui.messages.empty());
}

// What the menu asks its style to draw beside an item.
class MenuProbe : public QMenu {
 public:
  static QStyleOptionMenuItem::CheckType CheckTypeOf(const QMenu* menu, const QAction* item) {
    QStyleOptionMenuItem option;
    // The protected member reached through this class's name, called on the real menu.
    void (QMenu::*init)(QStyleOptionMenuItem*, const QAction*) const = &MenuProbe::initStyleOption;
    (menu->*init)(&option, item);
    return option.checkType;
  }
};

TEST_F(MainWindowTest, BubbleModeItemsShowCheckMarksNotRadioBullets) {
  for (const QAction* item : {w->MultipleBubbleMode1, w->SingleBubbleMode1})
    EXPECT_EQ(MenuProbe::CheckTypeOf(w->Calibrate1, item), QStyleOptionMenuItem::NonExclusive)
        << item->text().toStdString();
}

TEST_F(MainWindowTest, StopScanningWhileNotActiveOnlyRepeatsItsSteps) {
  w->StopScanning1->trigger();
  EXPECT_EQ(w->lblMode->text(), "Scanning Not Active");
  EXPECT_TRUE(w->SingleBubbleMode1->isEnabled());
  EXPECT_TRUE(h.ui.messages.empty());
}

TEST_F(MainWindowTest, AboutButtonAndCopyrightItemOpenTheSameBox) {
  for (QAction* trigger : {static_cast<QAction*>(nullptr), w->mnuCopyright}) {
    QString title, name, version;
    WhenModalOpens([&](QWidget* modal) {
      auto* about = qobject_cast<TfrmAbout*>(modal);
      ASSERT_NE(about, nullptr);
      title = about->windowTitle();
      name = about->lblName->text();
      version = about->lblVersion->text();
      EXPECT_TRUE(about->Image1->isVisible());
      EXPECT_FALSE(about->Image2->isVisible());
      EXPECT_EQ(about->lblCopyright->text(), kBrandedCopyright);
    });
    if (trigger != nullptr) trigger->trigger();
    else w->btnAbout->click();
    EXPECT_EQ(title, "About Orvane");
    EXPECT_EQ(name, "OrvaneCellfeedWizard");
    EXPECT_EQ(version, "Version 1.0.0.7");
  }
}

TEST(AboutBox, GenericLookPutsThePlainPencilAtTheLeft) {
  MainWindowHarness h(QStringLiteral("scan.exe"));
  TfrmAbout about(nullptr);
  about.show();
  EXPECT_EQ(about.windowTitle(), "About Data Collection Wizard");
  EXPECT_EQ(about.lblCopyright->text(), kGenericCopyright);
  EXPECT_FALSE(about.Image1->isVisible());
  EXPECT_TRUE(about.Image2->isVisible());
  EXPECT_EQ(about.Image2->pos(), QPoint(8, 24));
  EXPECT_EQ(about.lblName->text(), "scan.exe");
  EXPECT_TRUE(about.BitBtn1->isDefault());
  about.reject();  // Esc
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST_F(MainWindowTest, CloseBoxEndsTheEventLoop) {
  QTimer::singleShot(0, w, [this] { w->close(); });
  QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });  // a hung loop fails, not hangs
  EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST(StandardError, AddsAFullStopOnlyWhenMissing) {
  EXPECT_EQ(StandardErrorText("Buffer is empty"), "Buffer is empty.");
  EXPECT_EQ(StandardErrorText("Import sheet is full, cannot enter scanning mode."),
            "Import sheet is full, cannot enter scanning mode.");
  RecordingResponder ui;
  Guarded([] { throw std::runtime_error("Invalid variant operation"); });
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].title, "CellfeedWizard");
  EXPECT_EQ(ui.messages[0].text, "Invalid variant operation.");
}

TEST(ModalCursor, ShowsTheNormalCursorAndPutsThePreviousBack) {
  ScreenCursor::Set(Qt::WaitCursor);
  {
    ModalCursorScope modal;
    EXPECT_EQ(ScreenCursor::Current(), Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
  EXPECT_EQ(ScreenCursor::Current(), Qt::WaitCursor);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  {
    ModalCursorScope modal;
    ScreenCursor::Set(Qt::WaitCursor);  // changed while the window was open
  }
  EXPECT_EQ(ScreenCursor::Current(), Qt::ArrowCursor);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
