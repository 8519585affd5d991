#pragma once
// The office over UNO: a local component context, a connection to the
// office's private pipe, and the program's documents in it by number.

#include "libreoffice/BridgeApi.h"

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ref.hxx>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "DocumentWatch.h"

class UnoOffice : public CalcBridge::Office {
 public:
  ~UnoOffice() override;

  bool Connect(const QString& programDir, const QString& pipeName) override;
  void Ping() override;
  int NewDocument(bool hidden) override;
  int LoadDocument(const CalcBridge::LoadOptions& options) override;
  void Store(int doc, const QString& path, const QString& filter) override;
  void Show(int doc, bool shown) override;
  bool Shown(int doc) override;
  int SheetCount(int doc) override;
  void WriteRow(int doc, int sheet, int32_t row, int32_t firstCol, const std::vector<CalcBridge::Cell>& cells) override;
  std::vector<CalcBridge::Cell> ReadColumn(int doc, int sheet, int32_t col, int32_t firstRow, int32_t count) override;
  bool Protected(int doc, int sheet) override;
  void SetProtected(int doc, int sheet, bool on) override;
  bool Modified(int doc) override;
  std::vector<QString> SheetNames(int doc) override;
  int ActiveSheet(int doc) override;
  void InsertSheet(int doc, int position, const QString& name) override;
  void RenameSheet(int doc, int sheet, const QString& name) override;
  std::vector<QString> DefinedNames(int doc) override;
  std::vector<CalcBridge::FunctionName> FunctionNames(int doc) override;
  void WriteFormula(int doc, int sheet, int32_t row, int32_t col, const QString& formula) override;
  QString ReadFormula(int doc, int sheet, int32_t row, int32_t col) override;
  void Close(int doc) override;
  void Terminate() override;
  uint64_t RemoteCalls() const override { return remoteCalls_; }
  uint64_t DataCalls() const override { return dataCalls_; }

 private:
  struct Document {
    css::uno::Reference<css::frame::XModel> model;
    rtl::Reference<DocumentWatch> watch;
    std::map<int, css::uno::Reference<css::table::XCellRange>> sheets;  // by index, as first asked
  };

  int Adopt(const css::uno::Reference<css::lang::XComponent>& component, const QString& name);
  Document& Doc(int doc);
  css::uno::Reference<css::table::XCellRange> Sheet(int doc, int sheet);
  // Runs a call, turning the office's exceptions into the bridge's own.
  void Guarded(int doc, const std::function<void()>& call);
  // Runs a write; on a protected sheet the protection is lifted for it and
  // put back at once, as the program's writes go in regardless.
  void WriteInto(int doc, int sheet, const std::function<void()>& write);
  void Count() { ++remoteCalls_; }

  css::uno::Reference<css::uno::XComponentContext> local_;
  css::uno::Reference<css::uno::XComponentContext> remote_;
  css::uno::Reference<css::frame::XDesktop2> desktop_;
  std::map<int, Document> documents_;
  int nextDocument_ = 1;
  // Read by the test knobs on the program's thread while the worker counts.
  std::atomic<uint64_t> remoteCalls_{0};
  std::atomic<uint64_t> dataCalls_{0};
};
