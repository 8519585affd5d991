#include "libreoffice/BridgePlugin.h"

#include "automation/OleVariant.h"
#include "libreoffice/LibreOfficeServer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

#include <mutex>

namespace {

constexpr const char* kFileName = "libcfw_libreoffice_bridge.so";

struct Loaded {
  // Guards the one load; instances may be made from tests' threads.
  std::mutex lock;
  QString overridePath;
  CfwCalcBridgeCreate create = nullptr;
  std::unique_ptr<QLibrary> library;
  QString failure;
};

Loaded& State() {
  static Loaded state;
  return state;
}

}  // namespace

namespace BridgePlugin {

QStringList Candidates() {
  {
    Loaded& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    if (!state.overridePath.isEmpty()) return {state.overridePath};
  }
  QStringList places;
  if (QCoreApplication::instance()) {
    const QString bin = QCoreApplication::applicationDirPath();
    places << bin + QLatin1Char('/') + QLatin1String(kFileName);
    // Installed under any prefix: <prefix>/bin beside <prefix>/<libdir>/cellfeedwizard.
    places << bin + QStringLiteral("/../" CFW_CALC_BRIDGE_RELATIVE_DIR "/") + QLatin1String(kFileName);
  }
  places << QStringLiteral(CFW_CALC_BRIDGE_INSTALL_DIR "/") + QLatin1String(kFileName);
  places << QStringLiteral(CFW_CALC_BRIDGE_BUILD_DIR "/") + QLatin1String(kFileName);
  return places;
}

std::unique_ptr<CalcBridge::Office> NewOffice(const QString& programDir) {
  Loaded& state = State();
  const QStringList places = Candidates();
  CfwCalcBridgeCreate create = nullptr;
  {
    const std::lock_guard<std::mutex> guard(state.lock);
    if (!state.create) {
      QStringList failures;
      // The UNO libraries find their own dependencies beside themselves
      // ($ORIGIN), which works only when they are loaded from the office's
      // folder; loaded first from there, they satisfy the plugin's needs.
      for (const char* name : {"libuno_sal.so.3", "libuno_salhelpergcc3.so.3", "libuno_cppu.so.3",
                               "libuno_cppuhelpergcc3.so.3"}) {
        QLibrary uno(programDir + QLatin1Char('/') + QLatin1String(name));
        if (!uno.load()) failures << uno.errorString();
      }
      for (const QString& place : places) {
        if (!QFileInfo::exists(place)) continue;
        // Never unloaded (a QLibrary unloads only when told): objects and
        // threads of LibreOffice's libraries live until the program ends.
        auto library = std::make_unique<QLibrary>(place);
        auto entry = reinterpret_cast<CfwCalcBridgeCreate>(library->resolve(CFW_CALC_BRIDGE_ENTRY));
        if (entry) {
          state.create = entry;
          state.library = std::move(library);
          break;
        }
        failures << library->errorString();
      }
      if (!state.create) {
        state.failure = failures.isEmpty() ? QStringLiteral("the bridge to LibreOffice is not installed")
                                           : failures.join(QStringLiteral("; "));
      }
    }
    create = state.create;
  }
  if (!create) {
    throw EServerUnavailable(QStringLiteral("LibreOffice Calc cannot be used: %1.  %2")
                                 .arg(state.failure, LibreOfficeInstallHint()));
  }
  std::unique_ptr<CalcBridge::Office> office(create(CalcBridge::kInterfaceVersion));
  if (!office) throw EServerUnavailable(QStringLiteral("LibreOffice Calc cannot be used: the bridge to it is of another version"));
  return office;
}

void OverridePath(const QString& path) {
  Loaded& state = State();
  const std::lock_guard<std::mutex> guard(state.lock);
  state.overridePath = path;
  state.create = nullptr;
  state.failure.clear();
}

}  // namespace BridgePlugin
