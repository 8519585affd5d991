#pragma once
// Finds and loads the UNO plugin at run time, so the program starts on a
// machine without LibreOffice's libraries. Looked for beside the executable,
// then where the package installs it, then in the build tree.

#include "libreoffice/BridgeApi.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace BridgePlugin {

// The places looked in, in order.
QStringList Candidates();
// A new office connection from the plugin, with LibreOffice's UNO libraries
// taken from programDir. Throws EServerUnavailable saying what to install
// when the plugin or those libraries are missing.
std::unique_ptr<CalcBridge::Office> NewOffice(const QString& programDir);
// Tests point this at a missing file to play a machine without the plugin;
// empty goes back to the usual places.
void OverridePath(const QString& path);

}  // namespace BridgePlugin
