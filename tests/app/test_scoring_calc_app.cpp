// The main window scoring a class live in LibreOffice Calc (an .xlsx workbook).

#include "ScoringAppTest.h"
#include "libreoffice/LibreOfficeServer.h"

namespace {

TEST_F(ScoringAppTest, AClassIsScoredLiveInCalcSavedAndGoesOnScoringWhenReopened) {
  RegisterLibreOfficeServer();
  h.StartWindow();
  const QString path = h.tmp.Path("class.xlsx");
  h.NewWorkbook(path);
  ASSERT_EQ(h.window->CurrentFile, path) << h.ui.Texts().join('|').toStdString();
  ScoreAClass(*this, path);
  h.ui.answers.push_back(Answer::DontSave);  // the sheet after the reopening is not kept
}

}  // namespace
