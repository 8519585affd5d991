// Start-up and shutdown of the main window: branding, the trace switch, the
// settings file and the recent-files list, as a user's files exercise them.
#include "MainWindowHarness.h"
#include "settings/Branding.h"
#include "settings/CommandLine.h"
#include "app/RecentFiles.h"
#include "serial/AdPort.h"

#include <QDir>
#include <QMenu>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

const QString kPortBox = QStringLiteral("Com Port not set up yet.  Setup dialog will now open.");
const QString kReminder =
    QStringLiteral("Make sure that all Excel spreadsheets are closed prior to opening any with this application.");

TEST(Branding, DecidedByTheFileNameNotTheFolder) {
  EXPECT_TRUE(Branding::ForExecutable("/opt/scan/orvane-scan.exe").branded);
  EXPECT_TRUE(Branding::ForExecutable("/opt/x/MyOrVaNeTool").branded);
  EXPECT_FALSE(Branding::ForExecutable("/opt/ORVANE/scan.exe").branded);
  const Branding generic = Branding::ForExecutable("/opt/ORVANE/CellfeedWizard");
  EXPECT_EQ(generic.brandName, "Data Collection");
  EXPECT_EQ(generic.settingsFileName, "DataMachSettings.ini");
  EXPECT_EQ(SettingsFilePath("/opt/ORVANE/CellfeedWizard"), "/opt/ORVANE/DataMachSettings.ini");
  EXPECT_EQ(SettingsFilePath("/opt/x/OrvaneCellfeedWizard"), "/opt/x/OrvaneSettings.ini");
}

TEST(TraceSwitch, FirstArgumentExactlyOrAfterOneCharacter) {
  for (const char* on : {"TRACE", "trace", "/trace", "xTRACE", "-Trace"}) EXPECT_TRUE(TraceSwitchOn(on)) << on;
  for (const char* off : {"", "TRACE1", "--trace", "TRAC", " TRACE "}) EXPECT_FALSE(TraceSwitchOn(off)) << off;
  EXPECT_TRUE(ExactTraceArgument("TRACE"));
  EXPECT_FALSE(ExactTraceArgument("trace"));
  EXPECT_FALSE(ExactTraceArgument("/TRACE"));
}

TEST(TraceSwitch, OnlyTheFirstArgumentCounts) {
  MainWindowHarness second(QStringLiteral("OrvaneCellfeedWizard"), {QStringLiteral("x"), QStringLiteral("TRACE")});
  EXPECT_FALSE(second.Start().TraceSwitch);
  MainWindowHarness first(QStringLiteral("OrvaneCellfeedWizard"), {QStringLiteral("/trace")});
  EXPECT_TRUE(first.Start().TraceSwitch);
}

TEST(PortComponent, CarriesTheFormValuesAndIsNotOpenedAtStart) {
  MainWindowHarness h(QStringLiteral("OrvaneCellfeedWizard"), {QStringLiteral("-trace")});
  h.WriteSettings("[Main]\nPortNo=10\n");
  TfrmMain& w = h.Start();
  const TApdComPort& port = *w.ApdComPort1;
  EXPECT_EQ(port.ComNumber(), 10);
  EXPECT_FALSE(port.Open()) << "the first use opens the port, not the start";
  EXPECT_EQ(port.BufferFull(), 3686);
  EXPECT_EQ(port.BufferResume(), 409);
  EXPECT_FALSE(port.UseEventWord());
  EXPECT_EQ(port.TraceName(), "APD.TRC");
  EXPECT_EQ(port.LogName(), "APD.LOG");
  EXPECT_EQ(port.Tracing(), tlOn);
  EXPECT_EQ(port.Logging(), tlOn);
  EXPECT_EQ(port.Baud(), 19200);

  MainWindowHarness off;
  off.WriteSettings("[Main]\nPortNo=2\n");
  EXPECT_EQ(off.Start().ApdComPort1->Tracing(), tlOff);
}

TEST(RecentFileList, CaseInsensitiveMoveToEndKeepsNewSpelling) {
  RecentFileList list;
  list.Add("/data/A.xls");
  list.Add("/data/b.xls");
  list.Add("/DATA/a.XLS");
  EXPECT_EQ(list.Paths(), QStringList({"/data/b.xls", "/DATA/a.XLS"}));
}

TEST(Startup, FirstRunAsksForThePortBeforeTheReminder) {
  MainWindowHarness h;
  TfrmMain& w = h.Start();
  ASSERT_EQ(h.ui.messages.size(), 2u);
  EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(h.ui.messages[0].title, "Information");
  EXPECT_EQ(h.ui.messages[0].text, kPortBox);
  EXPECT_EQ(h.ui.messages[1].text, kReminder);
  EXPECT_EQ(w.PortNumber, 0);
  EXPECT_EQ(w.pos(), QPoint(0, 0));
  EXPECT_FALSE(w.ScanningActive);
}

TEST(Startup, ConfiguredPortOnlyShowsTheReminder) {
  MainWindowHarness h;
  h.WriteSettings("[MAIN]\nPortNo=0x0A\n");  // the only header, in capitals
  TfrmMain& w = h.Start();
  EXPECT_EQ(w.PortNumber, 10);
  EXPECT_EQ(h.ui.Texts(), QStringList({kReminder}));
}

TEST(Startup, PortNumberThatIsNotANumberCountsAsNotConfigured) {
  MainWindowHarness h;
  h.WriteSettings("[Main]\nPortNo=COM3\n");
  EXPECT_EQ(h.Start().PortNumber, 0);
  EXPECT_EQ(h.ui.Texts().front(), kPortBox);
}

TEST(Startup, ScanModeRules) {
  struct Case { QByteArray file; bool multi; };
  const Case cases[] = {
      {"[Main]\nPortNo=1\nScanMode=multi\n", true},
      {"[Main]\nPortNo=1\nScanMode=\n", false},
      {"[Main]\nPortNo=1\n", true},
      {"[Main]\nPortNo=1\nScanMode=SINGLE\n", false},
      {"[Main]\nPortNo=1\nScanMode=anything\n", false},
  };
  for (const Case& c : cases) {
    MainWindowHarness h;
    h.WriteSettings(c.file);
    TfrmMain& w = h.Start();
    EXPECT_EQ(w.MultipleBubbleMode1->isChecked(), c.multi) << c.file.constData();
    EXPECT_NE(w.MultipleBubbleMode1->isChecked(), w.SingleBubbleMode1->isChecked());
  }
}

TEST(Startup, BrandingChangesCaptionGlyphAndSettingsFile) {
  MainWindowHarness branded(QStringLiteral("OrvaneCellfeedWizard"));
  TfrmMain& b = branded.Start();
  EXPECT_EQ(b.windowTitle(), "Orvane Cellfeed Wizard");
  EXPECT_EQ(b.BrandName, "Orvane");
  EXPECT_EQ(b.mnuCopyright->text(), kBrandedCopyright);
  EXPECT_EQ(b.btnAbout->iconSize(), QSize(32, 32));

  MainWindowHarness generic(QStringLiteral("CellfeedWizard"));
  TfrmMain& g = generic.Start();
  EXPECT_EQ(g.windowTitle(), "Data Collection CellfeedWizard");
  EXPECT_EQ(g.BrandName, "Data Collection");
  EXPECT_EQ(g.SettingsFileName, "DataMachSettings.ini");
  EXPECT_EQ(g.mnuCopyright->text(), kGenericCopyright);
  EXPECT_EQ(g.btnAbout->iconSize(), QSize(22, 32));
  generic.Stop();
  EXPECT_TRUE(QFile::exists(generic.tmp.Path("DataMachSettings.ini")));
  EXPECT_FALSE(QFile::exists(generic.tmp.Path("OrvaneSettings.ini")));
}

TEST(RecentMenu, LoadedNewestFirstWithoutDuplicatesOrHighIndices) {
  MainWindowHarness h;
  h.WriteSettings(
      "[Main]\nPortNo=2\n[FEED]\nRecent0=/w/a.xls\nRecent1=/W/A.xls\nRecent3=/w/c&d.xls\nRecent10=/w/ignored.xls\n");
  TfrmMain& w = h.Start();
  EXPECT_EQ(w.RecentFiles.Paths(), QStringList({"/W/A.xls", "/w/c&d.xls"}));
  const QList<QAction*> items = w.Recent1->actions();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(items[0]->text(), "&1 - c&&d.xls");
  EXPECT_EQ(items[0]->data().toString(), "/w/c&d.xls");
  EXPECT_EQ(items[1]->text(), "&0 - A.xls");
}

TEST(Shutdown, StoresModeAndTheTenNewestRecentFiles) {
  MainWindowHarness h;
  h.WriteSettings("[Main]\nPortNo=2\n");
  TfrmMain& w = h.Start();
  for (int i = 0; i < 12; ++i) w.RecentFiles.Add(QStringLiteral("/w/f%1.xls").arg(i));
  w.SingleBubbleMode1->trigger();
  h.Stop();
  const IniFile ini = h.Settings();
  EXPECT_EQ(ini.ReadString("Main", "ScanMode", ""), "SINGLE");
  EXPECT_EQ(ini.ReadString("FEED", "Recent0", ""), "/w/f2.xls");
  EXPECT_EQ(ini.ReadString("FEED", "Recent9", ""), "/w/f11.xls");
  EXPECT_EQ(ini.ReadInteger("Main", "PortNo", 0), 2);
}

TEST(Shutdown, KeysBeyondTheLastEntryAreLeftAlone) {
  MainWindowHarness h;
  h.WriteSettings("[Main]\nPortNo=2\n[FEED]\nRecent0=/w/a.xls\nRecent1=/w/a.xls\nRecent5=/w/e.xls\n");
  TfrmMain& w = h.Start();
  EXPECT_EQ(w.RecentFiles.Count(), 2);  // a and e
  h.Stop();
  const IniFile ini = h.Settings();
  EXPECT_EQ(ini.ReadString("FEED", "Recent0", ""), "/w/a.xls");
  EXPECT_EQ(ini.ReadString("FEED", "Recent1", ""), "/w/e.xls");
  EXPECT_EQ(ini.ReadString("FEED", "Recent5", ""), "/w/e.xls");
  EXPECT_EQ(ini.ReadString("Main", "ScanMode", ""), "MULTI");
}

TEST(Shutdown, AFailedSettingsWriteShowsOneErrorBoxAndSkipsTheRest) {
  MainWindowHarness h;
  TfrmMain& w = h.Start();
  w.RecentFiles.Add("/w/a.xls");
  QFile::remove(h.SettingsPath());
  QDir(h.tmp.Path()).mkdir(QFileInfo(h.SettingsPath()).fileName());  // a folder in place of the file
  h.ui.messages.clear();
  h.Stop();
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Exception);
  EXPECT_EQ(h.ui.messages[0].title, "CellfeedWizard");
  EXPECT_EQ(h.ui.messages[0].text, "Unable to write to " + h.SettingsPath() + ".");
}

}  // namespace
