#pragma once
// The automation objects of the LibreOffice server: application, workbooks,
// workbook, sheets, sheet and cell. Each holds the instance (and its
// workbook), so it stays valid, or fails clearly, whatever happens above it.

#include "automation/OleVariant.h"
#include "libreoffice/CalcInstance.h"

#include <memory>

namespace CalcObjects {

std::shared_ptr<IDispatchObject> Application();
// The workbook and instance behind a workbook object, or nullptr when the
// object is something else (for the test knob).
std::pair<std::shared_ptr<CalcInstance>, CalcInstance::BookRef> WorkbookOf(const OleVariant& workbook);

}  // namespace CalcObjects
