// Where the settings file lives and which name the program was started under:
// the rule on its own with a given environment, the real writability test, and
// the probe program started through a symbolic link and through PATH.
#include "settings/Branding.h"
#include "settings/IniFile.h"
#include "settings/RunContext.h"
#include "settings/SettingsLocation.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace {

SettingsEnvironment Env(const QString& xdg, const QString& home, bool writable) {
  return {xdg, home, [writable](const QString&) { return writable; }};
}

TEST(StartedPath, NameFromArgvZeroFolderFromTheResolvedFile) {
  // A link beside the program, started by its full path or through PATH.
  EXPECT_EQ(RunContext::StartedPath("/usr/bin/OrvaneCellfeedWizard", "/usr/bin/CellfeedWizard"),
            "/usr/bin/OrvaneCellfeedWizard");
  EXPECT_EQ(RunContext::StartedPath("OrvaneCellfeedWizard", "/usr/bin/CellfeedWizard"), "/usr/bin/OrvaneCellfeedWizard");
  // A link elsewhere: the settings stay with the real program's folder.
  EXPECT_EQ(RunContext::StartedPath("/home/t/Desktop/orvane", "/home/t/cfw/CellfeedWizard"), "/home/t/cfw/orvane");
  // A generic name in a folder called ORVANE stays generic.
  EXPECT_EQ(RunContext::StartedPath("/opt/ORVANE/scan", "/opt/ORVANE/scan"), "/opt/ORVANE/scan");
  // No usable argv[0]: the resolved file.
  EXPECT_EQ(RunContext::StartedPath("", "/usr/bin/CellfeedWizard"), "/usr/bin/CellfeedWizard");
  EXPECT_EQ(RunContext::StartedPath("/usr/bin/", "/usr/bin/CellfeedWizard"), "/usr/bin/CellfeedWizard");
}

TEST(SettingsPlace, BesideTheExecutableWhenItsFolderIsWritable) {
  const auto env = Env("/home/t/.xdg", "/home/t", true);
  EXPECT_EQ(ChooseSettingsFile("/home/t/cfw/OrvaneCellfeedWizard", env), "/home/t/cfw/OrvaneSettings.ini");
  EXPECT_EQ(ChooseSettingsFile("/home/t/cfw/CellfeedWizard", env), "/home/t/cfw/DataMachSettings.ini");
}

TEST(SettingsPlace, PerUserFolderNamedForTheProductOtherwise) {
  QString askedAbout;
  SettingsEnvironment env{"/home/t/.xdg", "/home/t", [&](const QString& folder) {
                            askedAbout = folder;
                            return false;
                          }};
  EXPECT_EQ(ChooseSettingsFile("/usr/bin/OrvaneCellfeedWizard", env), "/home/t/.xdg/CellfeedWizard/OrvaneSettings.ini");
  EXPECT_EQ(askedAbout, "/usr/bin");
  EXPECT_EQ(ChooseSettingsFile("/usr/bin/CellfeedWizard", env), "/home/t/.xdg/CellfeedWizard/DataMachSettings.ini");
}

TEST(SettingsPlace, MissingEmptyOrRelativeXdgVariableMeansDotConfigAtHome) {
  for (const char* xdg : {"", "relative/config"})
    EXPECT_EQ(ChooseSettingsFile("/usr/bin/OrvaneCellfeedWizard", Env(xdg, "/home/t", false)),
              "/home/t/.config/CellfeedWizard/OrvaneSettings.ini")
        << xdg;
  // Without HOME either: the account's own home folder.
  const passwd* account = getpwuid(getuid());
  ASSERT_NE(account, nullptr);
  EXPECT_EQ(UserSettingsFolder(Env("", "", false)),
            QDir::cleanPath(QString::fromLocal8Bit(account->pw_dir) + "/.config/CellfeedWizard"));
}

TEST(FolderWritable, TriesARealFileAndLeavesNothingBehind) {
  TempDir tmp;
  EXPECT_TRUE(FolderWritable(tmp.Path()));
  EXPECT_TRUE(QDir(tmp.Path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
  // Tests run as root, whom permissions do not stop; these stop anyone.
  tmp.Write("plain-file", "x");
  EXPECT_FALSE(FolderWritable(tmp.Path("plain-file"))) << "a folder path that is a file";
  EXPECT_FALSE(FolderWritable(tmp.Path("missing-folder")));
  EXPECT_FALSE(FolderWritable("/proc")) << "a file system that takes no new files";
}

TEST(SettingsPlace, RealWritabilityTestDecides) {
  TempDir tmp;
  tmp.Write("plain-file", "x");
  SettingsEnvironment env = ProcessSettingsEnvironment();
  env.xdgConfigHome = tmp.Path("xdg");
  EXPECT_EQ(ChooseSettingsFile(tmp.Path("plain-file/OrvaneCellfeedWizard"), env),
            tmp.Path("xdg/CellfeedWizard/OrvaneSettings.ini"));
  EXPECT_EQ(ChooseSettingsFile(tmp.Path("OrvaneCellfeedWizard"), env), tmp.Path("OrvaneSettings.ini"));
}

TEST(SettingsPlace, RunningProgramChoosesOnceAndMakesTheUserFolder) {
  TempDir tmp;
  tmp.Write("plain-file", "x");
  const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", tmp.Path("xdg").toLocal8Bit());
  RunContext::OverrideForTesting(tmp.Path("plain-file/OrvaneCellfeedWizard"), {});
  const QString file = CurrentSettingsFilePath();
  EXPECT_EQ(file, tmp.Path("xdg/CellfeedWizard/OrvaneSettings.ini"));
  EXPECT_TRUE(QFileInfo(tmp.Path("xdg/CellfeedWizard")).isDir());
  IniFile(file).WriteString("MAIN", "ScanMode", "SINGLE");
  EXPECT_EQ(tmp.Read("xdg/CellfeedWizard/OrvaneSettings.ini"), "[MAIN]\nScanMode=SINGLE\n");
  // Decided once: a later change of the environment does not move the file.
  qputenv("XDG_CONFIG_HOME", tmp.Path("elsewhere").toLocal8Bit());
  EXPECT_EQ(CurrentSettingsFilePath(), file);
  RunContext::OverrideForTesting({}, {});
  if (savedXdg.isNull()) qunsetenv("XDG_CONFIG_HOME");
  else qputenv("XDG_CONFIG_HOME", savedXdg);
}

// ---- the probe program, started as a user would start it ----

QStringList RunProbe(const QString& command) {
  QStringList lines;
  FILE* pipe = popen(command.toLocal8Bit().constData(), "r");
  if (pipe == nullptr) return lines;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) lines << QString::fromLocal8Bit(buffer).trimmed();
  pclose(pipe);
  return lines;
}

class ProbeTest : public ::testing::Test {
 protected:
  const QString probe = QStringLiteral(CFW_BINARY_DIR "/tests/settings/startup_probe");
  TempDir tmp;
  QString Link(const QString& name) const {
    const QString link = tmp.Path(name);
    QFile::link(probe, link);
    return link;
  }
  QString Env() const { return QStringLiteral("env XDG_CONFIG_HOME=%1 ").arg(tmp.Path("xdg")); }
};

TEST_F(ProbeTest, SymbolicLinkNamedForTheBrandGivesTheBrandedLook) {
  ASSERT_TRUE(QFileInfo(probe).isExecutable()) << probe.toStdString();
  const QString folder = QFileInfo(probe).absolutePath();
  const QStringList branded = RunProbe(Env() + Link("OrvaneCellfeedWizard"));
  ASSERT_EQ(branded.size(), 3);
  EXPECT_EQ(branded[0], folder + "/OrvaneCellfeedWizard");
  EXPECT_EQ(branded[1], "Orvane");
  // The probe's own folder (the build tree) is writable: a portable copy.
  EXPECT_EQ(branded[2], folder + "/OrvaneSettings.ini");

  const QStringList generic = RunProbe(Env() + Link("CellfeedWizard"));
  ASSERT_EQ(generic.size(), 3);
  EXPECT_EQ(generic[1], "Data Collection");
  EXPECT_EQ(generic[2], folder + "/DataMachSettings.ini");
}

TEST_F(ProbeTest, NameFoundThroughPathCountsToo) {
  Link("orvane-scan");
  const QStringList lines = RunProbe(Env() + QStringLiteral("PATH=%1:/usr/bin:/bin orvane-scan").arg(tmp.Path()));
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], QFileInfo(probe).absolutePath() + "/orvane-scan");
  EXPECT_EQ(lines[1], "Orvane");
}

TEST_F(ProbeTest, StartedUnderItsOwnNameItIsGeneric) {
  const QStringList lines = RunProbe(Env() + probe);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], probe);
  EXPECT_EQ(lines[1], "Data Collection");
}

}  // namespace
