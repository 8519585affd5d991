#include "UnoOffice.h"

#include "LoadInteraction.h"
#include "UnoSheets.h"

#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/awt/XWindow2.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseBroadcaster.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ref.hxx>

using namespace css;
using rtl::OUString;
using CalcBridge::Cell;

namespace {

OUString ToOu(const QString& text) {
  return OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()), static_cast<sal_Int32>(text.size()));
}

QString FromOu(const OUString& text) {
  return QString(reinterpret_cast<const QChar*>(text.getStr()), text.getLength());
}

std::string Utf8(const OUString& text) { return std::string(text.toUtf8().getStr()); }

OUString FileUrl(const QString& path) {
  OUString url;
  if (osl::FileBase::getFileURLFromSystemPath(ToOu(path), url) != osl::FileBase::E_None) {
    throw CalcBridge::Failure("'" + path.toStdString() + "' is not a usable file name");
  }
  return url;
}

beans::PropertyValue Prop(const char* name, const uno::Any& value) {
  beans::PropertyValue p;
  p.Name = OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

QString FileName(const QString& path) {
  const qsizetype slash = path.lastIndexOf(u'/');
  return slash < 0 ? path : path.mid(slash + 1);
}

}  // namespace

UnoOffice::~UnoOffice() {
  documents_.clear();
  desktop_.clear();
  remote_.clear();
  // The local service manager holds its services in cycles; only a dispose
  // lets them go.
  try {
    const uno::Reference<lang::XComponent> local(local_, uno::UNO_QUERY);
    if (local.is()) local->dispose();
  } catch (const uno::Exception&) {
    // Ending anyway.
  }
}

bool UnoOffice::Connect(const QString& programDir, const QString& pipeName) {
  try {
    if (!local_.is()) {
      // The office's own bootstrap files: unorc names the type and service
      // libraries in terms that fundamentalrc defines.
      rtl::Bootstrap::set("URE_BOOTSTRAP", ToOu(QStringLiteral("vnd.sun.star.pathname:") + programDir +
                                                 QStringLiteral("/fundamentalrc")));
      local_ = cppu::defaultBootstrap_InitialComponentContext(FileUrl(programDir + QStringLiteral("/unorc")));
    }
    const uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local_);
    uno::Reference<uno::XInterface> remote;
    try {
      remote = resolver->resolve(ToOu(QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipeName)));
    } catch (const connection::NoConnectException&) {
      return false;
    }
    Count();
    remote_.set(remote, uno::UNO_QUERY_THROW);
    desktop_ = frame::Desktop::create(remote_);
    Count();
    return true;
  } catch (const uno::Exception& e) {
    throw CalcBridge::Failure("LibreOffice could not be reached: " + Utf8(e.Message));
  }
}

void UnoOffice::Ping() {
  Guarded(0, [&] {
    if (!desktop_.is()) throw CalcBridge::Failure("LibreOffice is not connected");
    desktop_->getCurrentFrame();
    Count();
  });
}

void UnoOffice::Guarded(int doc, const std::function<void()>& call) {
  try {
    call();
  } catch (const lang::DisposedException& e) {
    const auto found = documents_.find(doc);
    const bool closed = found != documents_.end() && found->second.watch.is() && found->second.watch->Closed();
    throw CalcBridge::Gone(closed ? "closed" : "ended");
  } catch (const uno::RuntimeException& e) {
    const auto found = documents_.find(doc);
    if (found != documents_.end() && found->second.watch->Closed()) throw CalcBridge::Gone("closed");
    throw CalcBridge::Failure("LibreOffice: " + Utf8(e.Message));
  } catch (const uno::Exception& e) {
    throw CalcBridge::Failure("LibreOffice: " + Utf8(e.Message));
  }
}

UnoOffice::Document& UnoOffice::Doc(int doc) {
  const auto found = documents_.find(doc);
  if (found == documents_.end()) throw CalcBridge::Failure("no such document");
  if (found->second.watch->Closed()) throw CalcBridge::Gone("closed");
  return found->second;
}

int UnoOffice::Adopt(const uno::Reference<lang::XComponent>& component, const QString& name) {
  uno::Reference<sheet::XSpreadsheetDocument> spreadsheet(component, uno::UNO_QUERY);
  Count();
  if (!spreadsheet.is()) {
    uno::Reference<util::XCloseable> closeable(component, uno::UNO_QUERY);
    if (closeable.is()) closeable->close(true);
    throw CalcBridge::Failure("'" + name.toStdString() + "' is not a spreadsheet");
  }
  Document document;
  document.model.set(component, uno::UNO_QUERY_THROW);
  document.watch = new DocumentWatch;
  uno::Reference<util::XCloseBroadcaster> broadcaster(component, uno::UNO_QUERY_THROW);
  broadcaster->addCloseListener(uno::Reference<util::XCloseListener>(static_cast<util::XCloseListener*>(document.watch.get())));
  Count();
  const int id = nextDocument_++;
  documents_.emplace(id, std::move(document));
  return id;
}

int UnoOffice::NewDocument(bool hidden) {
  int id = 0;
  Guarded(0, [&] {
    const beans::PropertyValue hiddenArg = Prop("Hidden", uno::Any(hidden));
    const uno::Sequence<beans::PropertyValue> args(&hiddenArg, 1);
    const uno::Reference<lang::XComponent> component =
        desktop_->loadComponentFromURL("private:factory/scalc", "_blank", 0, args);
    Count();
    if (!component.is()) throw CalcBridge::Failure("LibreOffice did not make a new spreadsheet");
    id = Adopt(component, QStringLiteral("new spreadsheet"));
  });
  return id;
}

int UnoOffice::LoadDocument(const CalcBridge::LoadOptions& options) {
  const QString name = FileName(options.path);
  const rtl::Reference<LoadInteraction> interaction(new LoadInteraction);
  std::vector<beans::PropertyValue> args{
      Prop("Hidden", uno::Any(options.hidden)),
      Prop("FilterName", uno::Any(ToOu(options.filter))),
      Prop("InteractionHandler", uno::Any(uno::Reference<task::XInteractionHandler>(static_cast<task::XInteractionHandler*>(interaction.get())))),
      Prop("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE)),
      Prop("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE)),
  };
  if (options.password) args.push_back(Prop("Password", uno::Any(ToOu(*options.password))));
  uno::Reference<lang::XComponent> component;
  std::string failure;
  try {
    component = desktop_->loadComponentFromURL(FileUrl(options.path), "_blank", 0,
                                               uno::Sequence<beans::PropertyValue>(args.data(), static_cast<sal_Int32>(args.size())));
  } catch (const lang::DisposedException&) {
    throw CalcBridge::Gone("ended");
  } catch (const uno::Exception& e) {
    failure = Utf8(e.Message);
  }
  Count();
  switch (interaction->What()) {
    case LoadInteraction::Seen::Password:
    case LoadInteraction::Seen::WrongPassword:
      if (!component.is()) throw CalcBridge::PasswordNeeded(options.password.has_value());
      break;
    case LoadInteraction::Seen::Locked:
      if (component.is()) Guarded(0, [&] { uno::Reference<util::XCloseable>(component, uno::UNO_QUERY_THROW)->close(true); });
      throw CalcBridge::Failure("'" + name.toStdString() + "' is in use by " +
                                (interaction->Detail().empty() ? std::string("another program") : interaction->Detail()) +
                                "; LibreOffice would open it read-only, so no rows can be written to it");
    case LoadInteraction::Seen::Other:
      if (failure.empty()) failure = interaction->Detail();
      break;
    case LoadInteraction::Seen::Nothing:
      break;
  }
  if (!component.is()) {
    throw CalcBridge::Failure("LibreOffice could not open '" + name.toStdString() +
                              "': the file is damaged or is not the kind of workbook its name says" +
                              (failure.empty() ? std::string() : " (" + failure + ")"));
  }
  int id = 0;
  Guarded(0, [&] {
    id = Adopt(component, name);
    const uno::Reference<frame::XStorable> storable(component, uno::UNO_QUERY_THROW);
    Count();
    if (storable->isReadonly()) {
      uno::Reference<util::XCloseable>(component, uno::UNO_QUERY_THROW)->close(true);
      documents_.erase(id);
      throw CalcBridge::Failure("LibreOffice can open '" + name.toStdString() +
                                "' only read-only (the file or its folder cannot be written), so no rows can be written to it");
    }
  });
  return id;
}

void UnoOffice::Store(int doc, const QString& path, const QString& filter) {
  Guarded(doc, [&] {
    Document& d = Doc(doc);
    const uno::Reference<frame::XStorable> storable(d.model, uno::UNO_QUERY_THROW);
    const OUString url = FileUrl(path);
    // Storing in place keeps what the file had, its password among them.
    if (storable->hasLocation() && storable->getLocation() == url) {
      OUString loadedFilter;
      for (const auto& p : d.model->getArgs()) {
        if (p.Name == "FilterName") p.Value >>= loadedFilter;
      }
      remoteCalls_ += 3;
      if (loadedFilter == ToOu(filter)) {
        storable->store();
        remoteCalls_ += 2;
        return;
      }
    }
    const beans::PropertyValue storeArgs[] = {Prop("FilterName", uno::Any(ToOu(filter))),
                                              Prop("Overwrite", uno::Any(true))};
    const uno::Sequence<beans::PropertyValue> args(storeArgs, 2);
    storable->storeAsURL(url, args);
    remoteCalls_ += 3;
  });
}

void UnoOffice::Show(int doc, bool shown) {
  Guarded(doc, [&] {
    Document& d = Doc(doc);
    const uno::Reference<awt::XWindow> window = d.model->getCurrentController()->getFrame()->getContainerWindow();
    window->setVisible(shown);
    remoteCalls_ += 4;
  });
}

bool UnoOffice::Shown(int doc) {
  bool shown = false;
  Guarded(doc, [&] {
    const uno::Reference<awt::XWindow2> window(
        Doc(doc).model->getCurrentController()->getFrame()->getContainerWindow(), uno::UNO_QUERY_THROW);
    shown = window->isVisible();
    remoteCalls_ += 5;
  });
  return shown;
}

uno::Reference<table::XCellRange> UnoOffice::Sheet(int doc, int sheet) {
  Document& d = Doc(doc);
  const auto found = d.sheets.find(sheet);
  if (found != d.sheets.end()) return found->second;
  const uno::Reference<sheet::XSpreadsheetDocument> spreadsheet(d.model, uno::UNO_QUERY_THROW);
  const uno::Reference<container::XIndexAccess> sheets(spreadsheet->getSheets(), uno::UNO_QUERY_THROW);
  remoteCalls_ += 3;
  if (sheet < 0 || sheet >= sheets->getCount()) throw CalcBridge::Failure("no such sheet");
  uno::Reference<table::XCellRange> range(sheets->getByIndex(sheet), uno::UNO_QUERY_THROW);
  remoteCalls_ += 2;
  d.sheets.emplace(sheet, range);
  return range;
}

int UnoOffice::SheetCount(int doc) {
  int count = 0;
  Guarded(doc, [&] {
    const uno::Reference<sheet::XSpreadsheetDocument> spreadsheet(Doc(doc).model, uno::UNO_QUERY_THROW);
    const uno::Reference<container::XIndexAccess> sheets(spreadsheet->getSheets(), uno::UNO_QUERY_THROW);
    count = sheets->getCount();
    remoteCalls_ += 3;
  });
  return count;
}

void UnoOffice::WriteRow(int doc, int sheet, int32_t row, int32_t firstCol, const std::vector<Cell>& cells) {
  if (cells.empty()) return;
  Guarded(doc, [&] {
    const uno::Reference<table::XCellRange> range = Sheet(doc, sheet)->getCellRangeByPosition(
        firstCol, row, firstCol + static_cast<sal_Int32>(cells.size()) - 1, row);
    const uno::Reference<sheet::XCellRangeData> data(range, uno::UNO_QUERY_THROW);
    uno::Sequence<uno::Any> values(static_cast<sal_Int32>(cells.size()));
    uno::Any* out = values.getArray();
    for (const Cell& cell : cells) {
      if (const double* number = std::get_if<double>(&cell)) {
        *out++ = uno::Any(*number);
      } else if (const QString* text = std::get_if<QString>(&cell)) {
        *out++ = uno::Any(ToOu(*text));
      } else {
        *out++ = uno::Any(OUString());  // an empty text leaves the cell empty
      }
    }
    const uno::Sequence<uno::Sequence<uno::Any>> rows(&values, 1);
    remoteCalls_ += 3;
    ++dataCalls_;
    WriteInto(doc, sheet, [&] { data->setDataArray(rows); });
  });
}

void UnoOffice::WriteInto(int doc, int sheet, const std::function<void()>& write) {
  try {
    write();
  } catch (const uno::RuntimeException&) {
    // Calc refuses writes to a protected sheet; the program's rows go in
    // regardless (the protection guards the file for its users), so the
    // protection is lifted for the write and put back at once.
    const uno::Reference<util::XProtectable> protectable(Sheet(doc, sheet), uno::UNO_QUERY_THROW);
    remoteCalls_ += 2;
    if (!protectable->isProtected()) throw;
    try {
      protectable->unprotect(OUString());
    } catch (const lang::IllegalArgumentException&) {
      throw CalcBridge::Failure("the sheet is protected with a password, so nothing can be written to it");
    }
    write();
    protectable->protect(OUString());
    remoteCalls_ += 3;
  }
}

std::vector<Cell> UnoOffice::ReadColumn(int doc, int sheet, int32_t col, int32_t firstRow, int32_t count) {
  std::vector<Cell> cells;
  Guarded(doc, [&] {
    const uno::Reference<table::XCellRange> sheetRange = Sheet(doc, sheet);
    const uno::Reference<table::XCellRange> range =
        sheetRange->getCellRangeByPosition(col, firstRow, col, firstRow + count - 1);
    const uno::Reference<sheet::XCellRangeData> data(range, uno::UNO_QUERY_THROW);
    const uno::Sequence<uno::Sequence<uno::Any>> rows = data->getDataArray();
    remoteCalls_ += 3;
    ++dataCalls_;
    // An error value reads as nothing, and a formula giving "" as an empty
    // text, both like an empty cell; the formulas tell them apart, so a
    // formula in column A is never taken for an empty row.
    uno::Sequence<uno::Sequence<OUString>> formulas;
    cells.reserve(static_cast<size_t>(rows.getLength()));
    for (sal_Int32 i = 0; i < rows.getLength(); ++i) {
      const uno::Any value = rows[i].getLength() > 0 ? rows[i][0] : uno::Any();
      double number = 0;
      OUString text;
      if (value.getValueTypeClass() == uno::TypeClass_DOUBLE && (value >>= number)) {
        cells.emplace_back(number);
        continue;
      }
      if ((value >>= text) && !text.isEmpty()) {
        cells.emplace_back(FromOu(text));
        continue;
      }
      if (!formulas.hasElements()) {
        formulas = uno::Reference<sheet::XCellRangeFormula>(range, uno::UNO_QUERY_THROW)->getFormulaArray();
        remoteCalls_ += 2;
        ++dataCalls_;
      }
      if (i >= formulas.getLength() || formulas[i].getLength() == 0 || formulas[i][0].isEmpty()) {
        cells.emplace_back(std::monostate{});
      } else if (value.hasValue()) {
        cells.emplace_back(QString());  // a formula whose result is the empty text
      } else {
        // An error value: its name as shown ("#DIV/0!"), as the built-in server gives it.
        const uno::Reference<text::XTextRange> cell(sheetRange->getCellByPosition(col, firstRow + i), uno::UNO_QUERY_THROW);
        cells.emplace_back(FromOu(cell->getString()));
        remoteCalls_ += 3;
      }
    }
  });
  return cells;
}

bool UnoOffice::Protected(int doc, int sheet) {
  bool on = false;
  Guarded(doc, [&] {
    on = uno::Reference<util::XProtectable>(Sheet(doc, sheet), uno::UNO_QUERY_THROW)->isProtected();
    remoteCalls_ += 2;
  });
  return on;
}

void UnoOffice::SetProtected(int doc, int sheet, bool on) {
  Guarded(doc, [&] {
    const uno::Reference<util::XProtectable> protectable(Sheet(doc, sheet), uno::UNO_QUERY_THROW);
    remoteCalls_ += 2;
    if (on) {
      protectable->protect(OUString());
    } else {
      protectable->unprotect(OUString());
    }
  });
}

bool UnoOffice::Modified(int doc) {
  bool modified = false;
  Guarded(doc, [&] {
    modified = uno::Reference<util::XModifiable>(Doc(doc).model, uno::UNO_QUERY_THROW)->isModified();
    remoteCalls_ += 2;
  });
  return modified;
}

std::vector<QString> UnoOffice::SheetNames(int doc) {
  std::vector<QString> names;
  Guarded(doc, [&] { names = UnoSheets::Names(Doc(doc).model, remoteCalls_); });
  return names;
}

int UnoOffice::ActiveSheet(int doc) {
  int active = 0;
  Guarded(doc, [&] { active = UnoSheets::Active(Doc(doc).model, remoteCalls_); });
  return active;
}

void UnoOffice::InsertSheet(int doc, int position, const QString& name) {
  Guarded(doc, [&] {
    Document& d = Doc(doc);
    UnoSheets::Insert(d.model, position, name, remoteCalls_);
    // Known by index: the sheets from the new one's place on move one on.
    std::map<int, uno::Reference<table::XCellRange>> moved;
    for (auto& [index, range] : d.sheets) moved.emplace(index >= position ? index + 1 : index, std::move(range));
    d.sheets = std::move(moved);
  });
}

void UnoOffice::RenameSheet(int doc, int sheet, const QString& name) {
  Guarded(doc, [&] { UnoSheets::Rename(Sheet(doc, sheet), name, remoteCalls_); });
}

std::vector<QString> UnoOffice::DefinedNames(int doc) {
  std::vector<QString> names;
  Guarded(doc, [&] { names = UnoSheets::DefinedNames(Doc(doc).model, remoteCalls_); });
  return names;
}

std::vector<CalcBridge::FunctionName> UnoOffice::FunctionNames(int doc) {
  std::vector<CalcBridge::FunctionName> names;
  Guarded(doc, [&] { names = UnoSheets::FunctionNames(Doc(doc).model, remoteCalls_); });
  return names;
}

void UnoOffice::WriteFormula(int doc, int sheet, int32_t row, int32_t col, const QString& formula) {
  Guarded(doc, [&] {
    const uno::Reference<table::XCellRange> range = Sheet(doc, sheet);
    ++dataCalls_;
    WriteInto(doc, sheet, [&] { UnoSheets::WriteFormula(range, row, col, formula, remoteCalls_); });
  });
}

QString UnoOffice::ReadFormula(int doc, int sheet, int32_t row, int32_t col) {
  QString formula;
  Guarded(doc, [&] {
    ++dataCalls_;
    formula = UnoSheets::ReadFormula(Sheet(doc, sheet), row, col, remoteCalls_);
  });
  return formula;
}

void UnoOffice::Close(int doc) {
  const auto found = documents_.find(doc);
  if (found == documents_.end()) return;
  Document& d = found->second;
  if (d.watch->Closed()) return;
  // Kept in the list: a later call on it says that it was closed.
  d.sheets.clear();
  try {
    const uno::Reference<util::XCloseable> closeable(d.model, uno::UNO_QUERY_THROW);
    remoteCalls_ += 2;
    try {
      closeable->close(true);
    } catch (const util::CloseVetoException&) {
      // Something in the office holds the document (a dialog the user has
      // open); with ownership passed it closes once that lets go.
    }
    d.watch->MarkClosed();
  } catch (const lang::DisposedException&) {
    throw CalcBridge::Gone("ended");
  } catch (const uno::Exception& e) {
    throw CalcBridge::Failure("LibreOffice: " + Utf8(e.Message));
  }
}

void UnoOffice::Terminate() {
  documents_.clear();
  try {
    if (desktop_.is()) desktop_->terminate();
  } catch (const uno::Exception&) {
    // The office is going or gone either way; the program ends its process.
  }
  desktop_.clear();
  remote_.clear();
}

extern "C" __attribute__((visibility("default"))) CalcBridge::Office* cfw_calc_bridge_create(int interfaceVersion) {
  if (interfaceVersion != CalcBridge::kInterfaceVersion) return nullptr;
  return new UnoOffice;
}
