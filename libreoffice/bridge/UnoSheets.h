#pragma once
// A document's sheets and formulas over UNO: names, the sheet the view
// shows, new and renamed sheets, defined names, Calc's function names, and a
// formula in and out of one cell. Each counts the calls that crossed the
// bridge in calls.

#include "libreoffice/BridgeApi.h"

#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/table/XCellRange.hpp>

#include <atomic>
#include <vector>

namespace UnoSheets {

using Calls = std::atomic<uint64_t>;
using Model = css::uno::Reference<css::frame::XModel>;
using SheetRange = css::uno::Reference<css::table::XCellRange>;

std::vector<QString> Names(const Model& model, Calls& calls);
int Active(const Model& model, Calls& calls);
void Insert(const Model& model, int position, const QString& name, Calls& calls);
void Rename(const SheetRange& sheet, const QString& name, Calls& calls);
std::vector<QString> DefinedNames(const Model& model, Calls& calls);
std::vector<CalcBridge::FunctionName> FunctionNames(const Model& model, Calls& calls);
void WriteFormula(const SheetRange& sheet, int32_t row, int32_t col, const QString& formula, Calls& calls);
QString ReadFormula(const SheetRange& sheet, int32_t row, int32_t col, Calls& calls);

}  // namespace UnoSheets
