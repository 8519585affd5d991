#pragma once
// The questions a spreadsheet server asks the user about a workbook, in the
// words every server uses: unsaved changes, a file to save to, a failed save,
// and the password of a protected workbook. They go through UiServices, so
// tests see and answer them.

#include <QString>

#include <optional>

namespace WorkbookQuestions {

// "Do you want to save the changes you made to '<name>'?" Save / Don't Save;
// true for Save.
bool AskSaveChanges(const QString& workbookName);
// A file to save a never-stored workbook to; filter as FileDialogRequest has it.
std::optional<QString> AskSavePath(const QString& filter, const QString& defaultSuffix);
// A save asked for at the end failed: the error box.
void ShowSaveFailure(const QString& message);
// The password to open fileName, or nothing when the user cancels.
// afterWrong: the one given before did not open it, which is said first.
std::optional<QString> AskPassword(const QString& fileName, bool afterWrong);

}  // namespace WorkbookQuestions
