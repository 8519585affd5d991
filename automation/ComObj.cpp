#include "automation/ComObj.h"

#include <QHash>

#include <mutex>

namespace {

struct ServerRegistry {
  // Guards factories: registration normally happens at start-up on the user
  // interface thread, but nothing stops a test or tool from registering on
  // another thread while the UI creates objects.
  std::mutex lock;
  QHash<QString, AutomationServerFactory> factories;  // keyed by the lower-cased identifier
};

ServerRegistry& Registry() {
  static ServerRegistry registry;
  return registry;
}

}  // namespace

void RegisterAutomationServer(const QString& progId, AutomationServerFactory factory) {
  ServerRegistry& registry = Registry();
  const std::lock_guard<std::mutex> guard(registry.lock);
  if (factory) {
    registry.factories.insert(progId.toLower(), std::move(factory));
  } else {
    registry.factories.remove(progId.toLower());
  }
}

OleVariant CreateOleObject(const QString& progId) {
  AutomationServerFactory factory;
  {
    ServerRegistry& registry = Registry();
    const std::lock_guard<std::mutex> guard(registry.lock);
    factory = registry.factories.value(progId.toLower());
  }
  if (!factory) {
    throw EOleError(QStringLiteral("Invalid class string: no automation server is registered as \"%1\"").arg(progId));
  }
  // The factory runs outside the lock: it may itself register or create servers.
  std::shared_ptr<IDispatchObject> object = factory();
  if (!object) throw EOleError(QStringLiteral("The automation server \"%1\" could not be started").arg(progId));
  return OleVariant(std::move(object));
}
