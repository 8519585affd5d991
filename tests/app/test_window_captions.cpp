// Captions as the window system sees them: every window and box is shown on a
// real X server (Xvfb, the xcb platform) and its title is read back from the
// server with xprop, the way a window manager reads it. The platform may add to
// what windowTitle() says; only the server's copy shows that.
#include "MainWindowHarness.h"
#include "NeededPackages.h"
#include "forms/fmAbout.h"
#include "forms/fmCalibrate.h"
#include "tests/forms/DialogHarness.h"
#include "uikit/ScreenCursor.h"
#include "uikit/UiServices.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

struct XTitles {
  QString netWmName;  // _NET_WM_NAME, what current window managers show
  QString wmName;     // WM_NAME, the older property
};

XTitles ReadXTitles(WId window) {
  NeededPackages::Require({"xprop"});
  QProcess xprop;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  xprop.setProcessEnvironment(env);
  xprop.start(QStringLiteral("xprop"),
              {QStringLiteral("-id"), QString::number(window), QStringLiteral("-notype"), QStringLiteral("_NET_WM_NAME"),
               QStringLiteral("WM_NAME")});
  xprop.waitForFinished(5000);
  XTitles titles;
  static const QRegularExpression line(QStringLiteral(R"(^(\w+) = \"(.*)\"$)"));
  for (const QString& text : QString::fromUtf8(xprop.readAllStandardOutput()).split('\n')) {
    const auto match = line.match(text);
    if (!match.hasMatch()) continue;
    QString value = match.captured(2);
    value.replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    (match.captured(1) == QLatin1String("_NET_WM_NAME") ? titles.netWmName : titles.wmName) = value;
  }
  return titles;
}

// The window's titles on the server once it shows `expected`, or after ten
// seconds whatever it shows then.
XTitles XTitlesOf(QWidget& window, const QString& expected) {
  XTitles titles;
  WaitUntil(
      [&] {
        titles = ReadXTitles(window.winId());
        return titles.netWmName == expected && titles.wmName == expected;
      });
  return titles;
}

#define EXPECT_X_CAPTION(window, caption)                                              \
  do {                                                                                 \
    const XTitles seen = XTitlesOf(window, caption);                                   \
    EXPECT_EQ(seen.netWmName.toStdString(), QString(caption).toStdString()) << "_NET_WM_NAME"; \
    EXPECT_EQ(seen.wmName.toStdString(), QString(caption).toStdString()) << "WM_NAME";         \
  } while (false)

TEST(XCaptions, RunsOnARealXServer) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under Xvfb with QT_QPA_PLATFORM=xcb";
}

TEST(XCaptions, MainWindowInBothBrandings) {
  for (const auto& [exe, caption] : {std::pair{"OrvaneCellfeedWizard", "Orvane Cellfeed Wizard"},
                                     std::pair{"CellfeedWizard", "Data Collection CellfeedWizard"}}) {
    MainWindowHarness h(exe);
    h.WriteSettings("[Main]\nPortNo=3\n");
    TfrmMain& w = h.Start();
    EXPECT_X_CAPTION(w, QString(caption));
  }
}

TEST(XCaptions, MessageBoxesCarryTheirOwnTitlesOnly) {
  const std::pair<MessageKind, const char*> boxes[] = {{MessageKind::Information, "Information"},
                                                       {MessageKind::Error, "Error"},
                                                       {MessageKind::Plain, "CellfeedWizard"},
                                                       {MessageKind::Exception, "CellfeedWizard"}};
  for (const auto& [kind, title] : boxes) {
    bool seen = false;
    WhenModalOpens([&, title = QString(title)](QWidget* box) {
      EXPECT_X_CAPTION(*box, title);
      seen = true;
    });
    UiServices::ShowMessage(kind, QStringLiteral("A notice."));
    EXPECT_TRUE(seen) << title;
  }
  bool seen = false;
  WhenModalOpens([&](QWidget* box) {
    EXPECT_X_CAPTION(*box, QStringLiteral("CellfeedWizard"));
    seen = true;
  });
  UiServices::AskQuestion(QStringLiteral("Save?"), {Answer::Save, Answer::DontSave, Answer::Cancel});
  EXPECT_TRUE(seen);
  seen = false;
  WhenModalOpens([&](QWidget* box) {
    EXPECT_X_CAPTION(*box, QStringLiteral("Password"));
    seen = true;
  });
  UiServices::AskPassword(QStringLiteral("The workbook is protected."));
  EXPECT_TRUE(seen);
}

TEST(XCaptions, AboutBoxInBothBrandings) {
  for (const auto& [exe, caption] : {std::pair{"OrvaneCellfeedWizard", "About Orvane"},
                                     std::pair{"CellfeedWizard", "About Data Collection Wizard"}}) {
    TempDir tmp;
    RunContext::OverrideForTesting(tmp.Path(exe), {});
    TfrmAbout about(nullptr);
    bool seen = false;
    WhenModalOpens([&, caption = QString(caption)](QWidget* box) {
      EXPECT_X_CAPTION(*box, caption);
      seen = true;
    });
    ExecModal(about);
    EXPECT_TRUE(seen) << exe;
    RunContext::OverrideForTesting({}, {});
  }
}

TEST(XCaptions, SetupAndCalibrationDialogsInBothBrandings) {
  struct Case {
    const char* exe;
    const char* setup;
    const char* calibrate;
  };
  for (const Case& c : {Case{"OrvaneCellfeedWizard", "Orvane Setup", "Calibrate Orvane Machine"},
                        Case{"CellfeedWizard", "Data Machine Setup", "Calibrate Data Machine"}}) {
    DialogHarness h(c.exe);
    {
      TfrmSetup setup(nullptr);
      setup.ComPort = h.port.get();
      setup.show();
      EXPECT_X_CAPTION(setup, QString(c.setup));
    }
    TfrmCalibrate calibrate(nullptr);
    calibrate.ComPort = h.port.get();
    calibrate.ConfigureSheetCount(2.5);
    calibrate.show();
    EXPECT_X_CAPTION(calibrate, QString(c.calibrate));
  }
}

// ---- the real program, started through a symbolic link ----

// The names of all windows on the server, as `xwininfo -root -tree` lists them.
QStringList XWindowNames() {
  NeededPackages::Require({"xwininfo"});
  QProcess xwininfo;
  xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
  xwininfo.waitForFinished(5000);
  QStringList names;
  static const QRegularExpression named(QStringLiteral(R"(0x[0-9a-f]+ \"(.*)\": \()"));
  for (const QString& text : QString::fromUtf8(xwininfo.readAllStandardOutput()).split('\n'))
    if (const auto match = named.match(text); match.hasMatch()) names << match.captured(1);
  return names;
}

TEST(XCaptions, ProgramStartedThroughALinkShowsTheLinksBranding) {
  const QString program = QStringLiteral(CFW_BINARY_DIR "/app/CellfeedWizard");
  for (const auto& [name, caption] : {std::pair{"OrvaneCellfeedWizard", "Orvane Cellfeed Wizard"},
                                      std::pair{"scan", "Data Collection CellfeedWizard"}}) {
    TempDir tmp;
    const QString link = tmp.Path(name);
    ASSERT_TRUE(QFile::link(program, link));
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.Path(QStringLiteral("xdg")));
    run.setProcessEnvironment(env);
    run.start(link, {});
    ASSERT_TRUE(run.waitForStarted(5000));
    // A first run: the main window, and over it the box that asks for the port.
    const bool shown = WaitUntil(
        [&] {
          const QStringList names = XWindowNames();
          return names.contains(QString(caption)) && names.contains(QStringLiteral("Information"));
        },
        20000);
    const QStringList names = XWindowNames();
    // Killed, so that nothing is written beside the program in the build tree.
    run.kill();
    run.waitForFinished(5000);
    EXPECT_TRUE(shown) << name << ": " << names.join(QStringLiteral(" | ")).toStdString();
    for (const QString& title : names) EXPECT_FALSE(title.contains(QStringLiteral(" — "))) << title.toStdString();
  }
}

}  // namespace
