#include "PortTestKit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <thread>

#include "serial/PortMap.h"

namespace {

// One QApplication for the whole test program, on the platform the test
// runner chose (offscreen).
class QtAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "serial_port_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

QString ScratchRoot() {
  const QByteArray root = qgetenv("CFW_TEST_TMP");
  if (!root.isEmpty()) QDir().mkpath(QString::fromLocal8Bit(root));
  return root.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(root);
}

}  // namespace

bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void PumpFor(std::chrono::milliseconds time) {
  PumpUntil([] { return false; }, time);
}

PortScratch::PortScratch() : dir_(ScratchRoot() + "/serial-port-XXXXXX") {
  oldCwd_ = QDir::currentPath();
  QDir::setCurrent(dir_.path());
  WriteSettings();
}

PortScratch::~PortScratch() {
  SetPortMapSettingsFile(QString());
  QDir::setCurrent(oldCwd_);
}

void PortScratch::Map(int comNumber, const std::string& path) {
  map_.emplace_back(comNumber, path);
  WriteSettings();
}

void PortScratch::WriteSettings() {
  const QString file = dir_.filePath("Settings.ini");
  QFile f(file);
  f.open(QIODevice::WriteOnly | QIODevice::Truncate);
  f.write("[Ports]\n");
  for (const auto& [n, path] : map_) f.write(QString("COM%1=%2\n").arg(n).arg(QString::fromStdString(path)).toUtf8());
  f.close();
  SetPortMapSettingsFile(file);
}

std::string PortScratch::Path(const std::string& name) const {
  return dir_.filePath(QString::fromStdString(name)).toStdString();
}

std::string PortScratch::ReadFile(const std::string& name) const {
  QFile f(QString::fromStdString(Path(name)));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

bool PortScratch::Exists(const std::string& name) const {
  return QFileInfo::exists(QString::fromStdString(Path(name)));
}

void RecordingResponder::Message(MessageKind kind, const QString&, const QString& text) {
  boxes.push_back(Box{kind, text});
}

void ReadingHandler::Install(TApdCustomComPort& port) {
  port.SetOnTriggerAvail([this](TApdCustomComPort& cp, uint16_t count) {
    counts.push_back(count);
    for (uint16_t i = 0; i < count; ++i) received += static_cast<char>(cp.ReadChar());
  });
}
