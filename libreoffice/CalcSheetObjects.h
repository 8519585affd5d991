#pragma once
// The LibreOffice server's automation objects below a workbook: its sheets,
// a sheet and a cell. A sheet object keeps to its sheet when sheets are
// added before it.

#include "automation/OleVariant.h"
#include "libreoffice/CalcInstance.h"

#include <memory>

namespace CalcSheetObjects {

// The workbook's sheet collection.
std::shared_ptr<IDispatchObject> Sheets(std::shared_ptr<CalcInstance> instance, CalcInstance::BookRef book);
// One sheet, by its number (from 1) or its name (without regard to case).
std::shared_ptr<IDispatchObject> SheetItem(const std::shared_ptr<CalcInstance>& instance,
                                           const CalcInstance::BookRef& book, const QString& member,
                                           const OleVariant& which);

}  // namespace CalcSheetObjects
