// The program as a process of its own for the crash tests: the real main
// window and spreadsheet server, started as if from an executable in the
// folder given, with every box answered as an operator who keeps scanning
// would. It creates the workbook given (File New), starts scanning and
// reports on standard output; a line "save" on standard input is File Save.
// The test kills it with SIGKILL, as a crash would.
//
//   scan_child EXE_DIR WORKBOOK

#include "uikit/CellfeedApplication.h"
#include "app/CellfeedMain.h"
#include "settings/RunContext.h"
#include "uikit/UiServices.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QAction>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

class Operator : public UiResponder {
 public:
  explicit Operator(QString workbook) : workbook_(std::move(workbook)) {}
  void Message(MessageKind, const QString&, const QString& text) override { Say("message " + text); }
  Answer Question(const QString&, const QString& text, const QList<Answer>& buttons) override {
    Say("question " + text);
    return buttons.front();
  }
  std::optional<QString> FileName(const FileDialogRequest&) override { return workbook_; }

  static void Say(const QString& line) {
    std::printf("%s\n", qPrintable(QString(line).replace('\n', ' ')));
    std::fflush(stdout);
  }

 private:
  QString workbook_;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  CellfeedApplication app(argc, argv);
  if (argc != 3) return 2;
  const QString workbook = QString::fromLocal8Bit(argv[2]);
  RunContext::OverrideForTesting(QDir(QString::fromLocal8Bit(argv[1])).filePath("OrvaneCellfeedWizard"), {});
  RegisterSpreadsheetServer();
  Operator answers(workbook);
  UiServices::SetResponder(&answers);
  TfrmMain window;
  window.show();
  QTimer::singleShot(200, &window, [&window] {
    window.New1->trigger();
    window.StartScanning1->trigger();
    Operator::Say(window.ScanningActive ? "scanning" : "not scanning");
  });
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, &window, [&window, &input] {
    char line[64] = {};
    const ssize_t n = read(STDIN_FILENO, line, sizeof line - 1);
    if (n <= 0) {
      input.setEnabled(false);
      return;
    }
    if (QByteArray(line).startsWith("save")) {
      window.Save1->trigger();
      Operator::Say(QStringLiteral("saved %1").arg(window.CurrentRow - 1));
    }
  });
  return CellfeedApplication::exec();
}
