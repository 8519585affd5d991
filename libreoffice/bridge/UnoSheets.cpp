#include "UnoSheets.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/FormulaLanguage.hpp>
#include <com/sun/star/sheet/FormulaMapGroup.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XFormulaOpCodeMapper.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>

#include <map>

using namespace css;
using rtl::OUString;

namespace {

OUString ToOu(const QString& text) {
  return OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()), static_cast<sal_Int32>(text.size()));
}

QString FromOu(const OUString& text) { return QString(reinterpret_cast<const QChar*>(text.getStr()), text.getLength()); }

std::vector<QString> FromSequence(const uno::Sequence<OUString>& names) {
  std::vector<QString> out;
  out.reserve(static_cast<size_t>(names.getLength()));
  for (const OUString& name : names) out.push_back(FromOu(name));
  return out;
}

uno::Reference<sheet::XSpreadsheets> SheetsOf(const UnoSheets::Model& model, UnoSheets::Calls& calls) {
  const uno::Reference<sheet::XSpreadsheetDocument> document(model, uno::UNO_QUERY_THROW);
  calls += 2;
  return document->getSheets();
}

std::vector<QString> NamesIn(const uno::Reference<uno::XInterface>& holder, UnoSheets::Calls& calls) {
  const uno::Reference<beans::XPropertySet> properties(holder, uno::UNO_QUERY_THROW);
  const uno::Reference<container::XNameAccess> names(properties->getPropertyValue("NamedRanges"), uno::UNO_QUERY_THROW);
  calls += 4;
  return FromSequence(names->getElementNames());
}

}  // namespace

namespace UnoSheets {

std::vector<QString> Names(const Model& model, Calls& calls) {
  const uno::Reference<container::XNameAccess> sheets(SheetsOf(model, calls), uno::UNO_QUERY_THROW);
  ++calls;
  return FromSequence(sheets->getElementNames());  // in the sheets' order
}

int Active(const Model& model, Calls& calls) {
  const uno::Reference<sheet::XSpreadsheetView> view(model->getCurrentController(), uno::UNO_QUERY_THROW);
  const uno::Reference<sheet::XCellRangeAddressable> shown(view->getActiveSheet(), uno::UNO_QUERY_THROW);
  calls += 5;
  return shown->getRangeAddress().Sheet;
}

void Insert(const Model& model, int position, const QString& name, Calls& calls) {
  SheetsOf(model, calls)->insertNewByName(ToOu(name), static_cast<sal_Int16>(position));
  ++calls;
}

void Rename(const SheetRange& sheet, const QString& name, Calls& calls) {
  uno::Reference<container::XNamed>(sheet, uno::UNO_QUERY_THROW)->setName(ToOu(name));
  calls += 2;
}

std::vector<QString> DefinedNames(const Model& model, Calls& calls) {
  std::vector<QString> names = NamesIn(model, calls);
  // Names that belong to one sheet count too: a formula on that sheet uses them.
  const uno::Reference<container::XIndexAccess> sheets(SheetsOf(model, calls), uno::UNO_QUERY_THROW);
  const sal_Int32 count = sheets->getCount();
  calls += 2;
  for (sal_Int32 i = 0; i < count; ++i) {
    const uno::Reference<uno::XInterface> sheet(sheets->getByIndex(i), uno::UNO_QUERY_THROW);
    ++calls;
    for (QString& name : NamesIn(sheet, calls)) names.push_back(std::move(name));
  }
  return names;
}

std::vector<CalcBridge::FunctionName> FunctionNames(const Model& model, Calls& calls) {
  const uno::Reference<sheet::XFormulaOpCodeMapper> mapper(
      uno::Reference<lang::XMultiServiceFactory>(model, uno::UNO_QUERY_THROW)
          ->createInstance("com.sun.star.sheet.FormulaOpCodeMapper"),
      uno::UNO_QUERY_THROW);
  const auto application =
      mapper->getAvailableMappings(sheet::FormulaLanguage::XL_ENGLISH, sheet::FormulaMapGroup::FUNCTIONS);
  const auto calc = mapper->getAvailableMappings(sheet::FormulaLanguage::API, sheet::FormulaMapGroup::FUNCTIONS);
  const sal_Int32 external = mapper->getOpCodeExternal();
  calls += 6;
  std::map<sal_Int32, OUString> calcByOpCode;
  for (const sheet::FormulaOpCodeMapEntry& entry : calc) calcByOpCode.emplace(entry.Token.OpCode, entry.Name);
  std::vector<CalcBridge::FunctionName> names;
  for (const sheet::FormulaOpCodeMapEntry& entry : application) {
    OUString calcName = entry.Name;
    OUString addIn;
    if (entry.Token.OpCode == external && (entry.Token.Data >>= addIn)) {
      // An add-in: its programmatic name is the one Calc's grammar prints,
      // and the plain name may stand for a built-in function there.
      calcName = addIn.toAsciiUpperCase();
    } else if (const auto found = calcByOpCode.find(entry.Token.OpCode); found != calcByOpCode.end()) {
      calcName = found->second;
    }
    names.push_back({FromOu(entry.Name), FromOu(calcName)});
  }
  return names;
}

void WriteFormula(const SheetRange& sheet, int32_t row, int32_t col, const QString& formula, Calls& calls) {
  sheet->getCellByPosition(col, row)->setFormula(ToOu(formula));
  calls += 2;
}

QString ReadFormula(const SheetRange& sheet, int32_t row, int32_t col, Calls& calls) {
  const uno::Reference<table::XCell> cell = sheet->getCellByPosition(col, row);
  calls += 2;
  if (cell->getType() != table::CellContentType_FORMULA) return {};
  ++calls;
  return FromOu(cell->getFormula());
}

}  // namespace UnoSheets
