#include "uikit/WorkbookQuestions.h"

#include "uikit/UiServices.h"

namespace WorkbookQuestions {

bool AskSaveChanges(const QString& workbookName) {
  return UiServices::AskQuestion(QStringLiteral("Do you want to save the changes you made to '%1'?").arg(workbookName),
                                 {Answer::Save, Answer::DontSave}) == Answer::Save;
}

std::optional<QString> AskSavePath(const QString& filter, const QString& defaultSuffix) {
  FileDialogRequest request;
  request.save = true;
  request.defaultSuffix = defaultSuffix;
  request.filter = filter;
  return UiServices::GetFileName(request);
}

void ShowSaveFailure(const QString& message) { UiServices::ShowMessage(MessageKind::Error, message); }

std::optional<QString> AskPassword(const QString& fileName, bool afterWrong) {
  if (afterWrong) {
    UiServices::ShowMessage(MessageKind::Information,
                            QStringLiteral("The password you supplied is not correct. Verify that the CAPS LOCK key is "
                                           "off and be sure to use the correct capitalization."));
  }
  return UiServices::AskPassword(QStringLiteral("'%1' is protected.").arg(fileName));
}

}  // namespace WorkbookQuestions
