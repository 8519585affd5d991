#pragma once
// Automation servers by program identifier: a server registers a factory
// under its identifier; CreateOleObject makes a new instance from it.

#include "automation/OleVariant.h"

#include <functional>
#include <memory>

using AutomationServerFactory = std::function<std::shared_ptr<IDispatchObject>()>;

// A new instance of the server registered under progId (matched without
// regard to case). Throws EOleError when no server is registered under it.
OleVariant CreateOleObject(const QString& progId);

// Registers or replaces the factory for progId; an empty factory removes it.
void RegisterAutomationServer(const QString& progId, AutomationServerFactory factory);
