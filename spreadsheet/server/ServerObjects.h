#pragma once
// The automation objects of the built-in spreadsheet server below the
// application: workbooks collection, workbook, sheets collection, sheet and
// cell. Each holds its session and workbook so that it stays valid (or
// fails with a clear message) whatever happens to the references above it;
// a sheet and its cells hold the sheet itself, so they keep meaning the same
// sheet when others are put before it.

#include "automation/OleVariant.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <memory>

using SessionRef = std::shared_ptr<SpreadsheetSession>;
using EntryRef = std::shared_ptr<SpreadsheetSession::Entry>;

namespace ServerObjects {

std::shared_ptr<IDispatchObject> Workbooks(SessionRef session);
std::shared_ptr<IDispatchObject> Workbook(SessionRef session, EntryRef entry);
std::shared_ptr<IDispatchObject> Sheets(SessionRef session, EntryRef entry);
// Item(i) of a sheets collection: a 1-based number or a sheet name.
std::shared_ptr<IDispatchObject> SheetItem(SessionRef session, EntryRef entry, const QString& member,
                                           const OleVariant& which);
std::shared_ptr<IDispatchObject> Sheet(SessionRef session, EntryRef entry, Worksheet* sheet);
// The sheet behind a sheet object of this workbook, or nullptr for anything else.
Worksheet* SheetOf(const OleVariant& object, const SpreadsheetSession::Entry& entry);

// The workbook behind entry, or an error when it was closed or the session ended.
::Workbook& Live(const SpreadsheetSession& session, const SpreadsheetSession::Entry& entry);
// The sheet's place in its workbook now, or an error when it is not there.
int SheetIndex(const ::Workbook& book, const Worksheet* sheet);

}  // namespace ServerObjects
