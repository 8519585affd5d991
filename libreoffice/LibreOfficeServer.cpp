#include "libreoffice/LibreOfficeServer.h"

#include "automation/ComObj.h"
#include "libreoffice/CalcObjects.h"

std::shared_ptr<IDispatchObject> CreateLibreOfficeApplication() { return CalcObjects::Application(); }

void RegisterLibreOfficeServer() {
  RegisterAutomationServer(QStringLiteral("LibreOffice.Calc"), &CreateLibreOfficeApplication);
}

QString LibreOfficeInstallHint() {
  return QStringLiteral("Install LibreOffice Calc with: sudo apt install libreoffice-calc");
}

void CloseWorkbookInCalc(const OleVariant& workbook) {
  auto [instance, book] = CalcObjects::WorkbookOf(workbook);
  if (!instance) throw EOleError(QStringLiteral("CloseWorkbookInCalc: not a LibreOffice Calc workbook"));
  instance->CloseInOffice(*book);
}

bool WorkbookShownInCalc(const OleVariant& workbook) {
  auto [instance, book] = CalcObjects::WorkbookOf(workbook);
  if (!instance) throw EOleError(QStringLiteral("WorkbookShownInCalc: not a LibreOffice Calc workbook"));
  return instance->ShownInOffice(*book);
}
