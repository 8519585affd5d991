#pragma once
// The main window: a small always-on-top tool window whose client area is the
// scanning status label, with an About button and a menu bar that carries every
// command. It owns everything that lives for the whole run.

#include "app/CrashJournal.h"
#include "app/RecentFiles.h"
#include "app/SheetRecordDecoder.h"
#include "app/RowDelivery.h"
#include "app/ScoringLink.h"
#include "app/SheetQueue.h"
#include "automation/OleVariant.h"
#include "forms/fmAnswerKey.h"

#include <QMainWindow>
#include <QStringList>

#include <cstdint>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;
class TApdComPort;
class TApdCustomComPort;

class TfrmMain : public QMainWindow, public AnswerKeySource {
  Q_OBJECT
 public:
  TfrmMain();
  ~TfrmMain() override;

  // Components, named as designed.
  QLabel* lblMode;
  // The look at the last scored sheet, one line under the status label.
  QLabel* lblSheetLook;
  QToolButton* btnAbout;
  QToolButton* sbGen;
  QMenu* File1;
  QAction* New1;
  QAction* Open1;
  QAction* Save1;
  QAction* Exit1;
  QMenu* Recent1;
  QMenu* Calibrate1;
  QAction* Setup1;
  QAction* N2;
  QAction* MultipleBubbleMode1;
  QAction* SingleBubbleMode1;
  QMenu* Scan1;
  QAction* StartScanning1;
  QAction* StopScanning1;
  QAction* AnswerKey1;
  QAction* N1;
  QAction* mnuCopyright;
  QTimer* tmrInputVal;
  QTimer* tmrCommDetect;
  std::unique_ptr<TApdComPort> ApdComPort1;

  // Fields settled at start-up.
  QString BrandName;
  QString SettingsFileName;
  int PortNumber = 0;
  RecentFileList RecentFiles;
  bool TraceSwitch = false;  // the command-line switch, as applied to the port's Tracing and Logging

  // Scanning state.
  bool ScanningActive = false;
  bool ModeCommandPending = false;
  QByteArray ReplyBuffer;
  // Decoded sheets waiting for the row writer: each becomes its own row.
  SheetQueue PendingSheets;
  QString CurrentFile;
  int CurrentRow = 0;
  // CurrentRow was found by a search in the current workbook; until then no
  // row is written into it.
  bool RowKnown = false;

  // Workbook state: the spreadsheet application and the current workbook's
  // sheets, which rows are written into.
  OleVariant ExcelApp;
  QString ExcelAppProgId;  // which server ExcelApp is an instance of
  // The server said the current workbook is no longer open there: sheets go
  // to its journal only, until another workbook (or this one again) is opened.
  bool WorkbookGone = false;
  OleVariant WorkSheets;
  // The current workbook's crash journal (none before the first workbook).
  std::unique_ptr<CrashJournal> Journal;
  RowDelivery Delivery;
  // The current workbook's scoring (none until a key is laid out or a scored workbook opened).
  ScoringLink Scoring;

  // Commands, as the menus run them.
  void StartScanning1Click();
  void StopScanning1Click();
  void AnswerKey1Click();
  void MultipleBubbleMode1Click();
  void SingleBubbleMode1Click();
  void Setup1Click();
  void btnAboutClick();
  void mnuCopyrightClick();
  void Exit1Click();
  void New1Click();
  void Open1Click();
  void Save1Click();
  void RecentClick(const QAction* item);
  void OpenWorkbook(const QString& path);
  void AddRecentFile(const QString& path);
  // The ten newest recent files into the settings file, at once.
  void StoreRecentFiles();
  // Where rows go now: the current workbook, its next row and its journal.
  RowTarget CurrentTarget();
  // Keeps the input timer running for the first waiting sheet.
  void ArmRowWriter();

  // The row writer: the input timer's tick.
  void tmrInputValTimer();
  // The machine's replies while scanning.
  void ApdComPort1TriggerAvail(TApdCustomComPort& CP, uint16_t Count);
  // The presence monitor's tick: ends the run when the machine's port is gone.
  void tmrCommDetectTimer();

  // The settings file's full path: beside the executable, or the per-user one.
  QString SettingsFilePath() const;

  // What the Answer Key dialog asks of the main window.
  std::optional<AnswerKey> WorkbookKey() const override;
  void ScanKeySheet(KeyArrived arrived) override;
  void StopWaitingForKey() override;
  void ApplyKey(const AnswerKey& key) override;
  // The line under the status label, until the next sheet lands; a flagged sheet beeps once.
  void ShowSheetLook(const QString& line);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildWindow();
  void BuildMenus();
  QAction* AddCommand(QMenu* menu, const QString& name, const QString& caption, void (TfrmMain::*command)());
  void SetModeLabel(bool active);
  void SetBubbleItemsEnabled(bool enabled);

  void FormShow();
  void FormDestroy();
  void ApplyBranding();
  void LoadRecentFiles();
  void LoadSettings();
  void CreatePort();
  void InstallPortHandler();

  void SetClientHeight();
  // A row has gone into the current workbook: scoring follows it.
  void RowWrittenToWorkbook(int row, const QStringList& values);
  // The key sheet scanned for the Answer Key dialog.
  void TakeKeySheet(const QStringList& values, BubbleMode mode);

  bool shown_ = false;
  KeyArrived keyWanted_;  // set while the Answer Key dialog waits for its sheet
  bool writingRows_ = false;  // a tick is running; one entered from its boxes leaves the rows to it
};
