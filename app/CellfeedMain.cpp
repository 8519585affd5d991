#include "app/CellfeedMain.h"

#include "settings/Branding.h"
#include "uikit/DesignFont.h"
#include "settings/CommandLine.h"
#include "uikit/ErrorReporting.h"
#include "uikit/Glyphs.h"
#include "settings/IniFile.h"
#include "settings/RunContext.h"
#include "settings/SettingsLocation.h"
#include "uikit/ScreenCursor.h"
#include "app/SheetRowWriter.h"
#include "app/SpreadsheetChoice.h"
#include "app/SheetRecordDecoder.h"
#include "app/WorkbookSwitch.h"
#include "forms/fmSetup.h"
#include "serial/AdPort.h"
#include "serial/PortMap.h"
#include "uikit/UiServices.h"
#include "forms/fmAbout.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr int kClientWidth = 375;
constexpr int kClientHeight = 34;
constexpr int kButtonSize = 34;
constexpr int kLookHeight = 20;  // the line under the status label


const QColor kNotActiveColour(255, 0, 0);
const QColor kActiveColour(192, 220, 192);  // money green
const QColor kLabelTextColour(0, 0, 128);   // navy

QToolButton* MakeGlyphButton(QWidget* parent, const QString& name, const QString& glyph, int left) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setGeometry(left, 0, kButtonSize, kButtonSize);
  button->setAutoRaise(true);
  const QPixmap pixmap = Glyphs::Render(glyph);
  button->setIcon(pixmap);
  button->setIconSize(pixmap.size());
  return button;
}

}  // namespace

TfrmMain::TfrmMain()
    : Delivery([](const QString& message) { UiServices::ShowMessage(MessageKind::Error, message); }),
      Scoring([](const QString& message) { UiServices::ShowMessage(MessageKind::Error, message); }) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setWindowTitle(QStringLiteral("Orvane Cellfeed Wizard"));
  setFont(DesignFont(11));
  BuildWindow();
  BuildMenus();

  tmrInputVal = new QTimer(this);
  tmrInputVal->setObjectName(QStringLiteral("tmrInputVal"));
  tmrInputVal->setInterval(500);
  // Rows are due 500 ms after their record; a coarse timer may run 5 % late.
  tmrInputVal->setTimerType(Qt::PreciseTimer);
  connect(tmrInputVal, &QTimer::timeout, this, [this] { Guarded([this] { tmrInputValTimer(); }); });
  tmrCommDetect = new QTimer(this);
  tmrCommDetect->setObjectName(QStringLiteral("tmrCommDetect"));
  tmrCommDetect->setInterval(5000);
  connect(tmrCommDetect, &QTimer::timeout, this, [this] { Guarded([this] { tmrCommDetectTimer(); }); });
  CreatePort();
  Delivery.SetRowWritten([this](int row, const QStringList& values) { RowWrittenToWorkbook(row, values); });

  // FormCreate: the lists start empty, the row writer is stopped, scanning is off.
  PendingSheets.Clear();
  tmrInputVal->stop();
  ScanningActive = false;
}

TfrmMain::~TfrmMain() { FormDestroy(); }

void TfrmMain::CreatePort() {
  ApdComPort1 = std::make_unique<TApdComPort>();
  ApdComPort1->SetBufferFull(3686);
  ApdComPort1->SetBufferResume(409);
  ApdComPort1->SetTraceName("APD.TRC");
  ApdComPort1->SetLogName("APD.LOG");
  ApdComPort1->SetUseEventWord(false);
  InstallPortHandler();
}

void TfrmMain::InstallPortHandler() {
  ApdComPort1->SetOnTriggerAvail([this](TApdCustomComPort& port, uint16_t count) { ApdComPort1TriggerAvail(port, count); });
}

void TfrmMain::BuildWindow() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  lblMode = new QLabel(client);
  lblMode->setObjectName(QStringLiteral("lblMode"));
  lblMode->setGeometry(0, 0, kClientWidth, kClientHeight);
  lblMode->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  lblMode->setAutoFillBackground(true);
  lblMode->setFont(DesignFont(19, true));
  SetModeLabel(false);

  lblSheetLook = new QLabel(client);
  lblSheetLook->setObjectName(QStringLiteral("lblSheetLook"));
  lblSheetLook->setGeometry(4, kClientHeight, kClientWidth - 8, kLookHeight);
  lblSheetLook->setFont(DesignFont(10, true));
  lblSheetLook->setAccessibleName(QStringLiteral("Sheet check"));
  lblSheetLook->setTextInteractionFlags(Qt::TextSelectableByKeyboard);  // reachable by keyboard, so readers find it
  lblSheetLook->hide();

  sbGen = MakeGlyphButton(client, QStringLiteral("sbGen"), Glyphs::kGenericGlyph, 296);
  sbGen->hide();
  connect(sbGen, &QToolButton::clicked, this, [this] { Guarded([this] { btnAboutClick(); }); });

  btnAbout = MakeGlyphButton(client, QStringLiteral("btnAbout"), Glyphs::kBrandedGlyph, kClientWidth - kButtonSize);
  btnAbout->setToolTip(QStringLiteral("About"));
  btnAbout->setAccessibleName(QStringLiteral("About"));
  connect(btnAbout, &QToolButton::clicked, this, [this] { Guarded([this] { btnAboutClick(); }); });

  layout()->setSizeConstraint(QLayout::SetFixedSize);  // not resizable
}

QAction* TfrmMain::AddCommand(QMenu* menu, const QString& name, const QString& caption, void (TfrmMain::*command)()) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  connect(action, &QAction::triggered, this, [this, command] { Guarded([this, command] { (this->*command)(); }); });
  return action;
}

void TfrmMain::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setNativeMenuBar(false);

  File1 = bar->addMenu(QStringLiteral("File"));
  File1->setObjectName(QStringLiteral("File1"));
  New1 = AddCommand(File1, QStringLiteral("New1"), QStringLiteral("New..."), &TfrmMain::New1Click);
  Open1 = AddCommand(File1, QStringLiteral("Open1"), QStringLiteral("Open"), &TfrmMain::Open1Click);
  Save1 = AddCommand(File1, QStringLiteral("Save1"), QStringLiteral("Save"), &TfrmMain::Save1Click);
  Exit1 = AddCommand(File1, QStringLiteral("Exit1"), QStringLiteral("Exit"), &TfrmMain::Exit1Click);

  Recent1 = bar->addMenu(QStringLiteral("Recent"));
  Recent1->setObjectName(QStringLiteral("Recent1"));

  Calibrate1 = bar->addMenu(QStringLiteral("Utilities"));
  Calibrate1->setObjectName(QStringLiteral("Calibrate1"));
  Setup1 = AddCommand(Calibrate1, QStringLiteral("Setup1"), QStringLiteral("Setup && Calibrate"), &TfrmMain::Setup1Click);
  N2 = Calibrate1->addSeparator();
  N2->setObjectName(QStringLiteral("N2"));
  MultipleBubbleMode1 = AddCommand(Calibrate1, QStringLiteral("MultipleBubbleMode1"), QStringLiteral("Multiple Bubble Mode"),
                                   &TfrmMain::MultipleBubbleMode1Click);
  SingleBubbleMode1 = AddCommand(Calibrate1, QStringLiteral("SingleBubbleMode1"), QStringLiteral("Single Bubble Mode"),
                                 &TfrmMain::SingleBubbleMode1Click);
  // Exactly one of the two is checked. Kept here rather than by a toolkit group
  // of exclusive items, which would draw radio bullets instead of check marks.
  MultipleBubbleMode1->setCheckable(true);
  SingleBubbleMode1->setCheckable(true);
  connect(MultipleBubbleMode1, &QAction::toggled, this, [this](bool on) { SingleBubbleMode1->setChecked(!on); });
  connect(SingleBubbleMode1, &QAction::toggled, this, [this](bool on) { MultipleBubbleMode1->setChecked(!on); });
  MultipleBubbleMode1->setChecked(true);

  Scan1 = bar->addMenu(QStringLiteral("Scan"));
  Scan1->setObjectName(QStringLiteral("Scan1"));
  StartScanning1 = AddCommand(Scan1, QStringLiteral("StartScanning1"), QStringLiteral("Start Scanning"),
                              &TfrmMain::StartScanning1Click);
  StopScanning1 = AddCommand(Scan1, QStringLiteral("StopScanning1"), QStringLiteral("Stop Scanning"),
                             &TfrmMain::StopScanning1Click);
  AnswerKey1 = AddCommand(Scan1, QStringLiteral("AnswerKey1"), QStringLiteral("Answer Key..."), &TfrmMain::AnswerKey1Click);

  // A separator on the bar itself: toolkit separators there would push the
  // following items to the right edge, so it is drawn as an inert bar.
  N1 = bar->addAction(QStringLiteral("|"));
  N1->setObjectName(QStringLiteral("N1"));
  N1->setEnabled(false);
  mnuCopyright = bar->addAction(kBrandedCopyright);
  mnuCopyright->setObjectName(QStringLiteral("mnuCopyright"));
  connect(mnuCopyright, &QAction::triggered, this, [this] { Guarded([this] { mnuCopyrightClick(); }); });
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The About button is anchored to the top-right corner.
  if (QWidget* client = centralWidget()) btnAbout->move(client->width() - kButtonSize, 0);
}

void TfrmMain::SetModeLabel(bool active) {
  lblMode->setText(active ? QStringLiteral("Scanning Active") : QStringLiteral("Scanning Not Active"));
  QPalette palette = lblMode->palette();
  palette.setColor(QPalette::Window, active ? kActiveColour : kNotActiveColour);
  palette.setColor(QPalette::WindowText, kLabelTextColour);
  lblMode->setPalette(palette);
}

void TfrmMain::SetBubbleItemsEnabled(bool enabled) {
  SingleBubbleMode1->setEnabled(enabled);
  MultipleBubbleMode1->setEnabled(enabled);
}

QString TfrmMain::SettingsFilePath() const { return CurrentSettingsFilePath(); }

// ---- start-up and shutdown ----

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  // Start-up runs once the window is on screen, so its boxes appear over it.
  QTimer::singleShot(0, this, [this] { Guarded([this] { FormShow(); }); });
}

void TfrmMain::FormShow() {
  move(0, 0);
  ApplyBranding();
  LoadRecentFiles();
  LoadSettings();
  UiServices::ShowMessage(MessageKind::Information,
                          QStringLiteral("Make sure that all Excel spreadsheets are closed prior to opening any with this "
                                         "application."));
  WorkbookSwitch(*this).OfferJournalsAtStart();
}

void TfrmMain::ApplyBranding() {
  const Branding brand = Branding::ForExecutable(RunContext::ExecutablePath());
  BrandName = brand.brandName;
  SettingsFileName = brand.settingsFileName;
  if (brand.branded) return;  // the designed caption, glyph and copyright stay
  btnAbout->setIcon(sbGen->icon());
  btnAbout->setIconSize(sbGen->iconSize());
  mnuCopyright->setText(kGenericCopyright);
  setWindowTitle(QStringLiteral("Data Collection CellfeedWizard"));
}

void TfrmMain::LoadRecentFiles() {
  RecentFiles.Load(IniFile(SettingsFilePath()));
  // Newest at the top; the index digit is the item's accelerator.
  for (int i = RecentFiles.Count() - 1; i >= 0; --i) {
    const QString path = RecentFiles.Paths()[i];
    QString name = QFileInfo(path).fileName();
    QAction* item = Recent1->addAction(QStringLiteral("&%1 - %2").arg(i).arg(name.replace('&', QStringLiteral("&&"))));
    item->setData(path);
    connect(item, &QAction::triggered, this, [this, item] { Guarded([this, item] { RecentClick(item); }); });
  }
}

void TfrmMain::LoadSettings() {
  const IniFile ini(SettingsFilePath());
  SetPortMapSettingsFile(SettingsFilePath());
  TraceSwitch = TraceSwitchOn(RunContext::FirstArgument());
  const TTraceLogState traceState = TraceSwitch ? tlOn : tlOff;
  ApdComPort1->SetLogging(traceState);
  ApdComPort1->SetTracing(traceState);
  PortNumber = ini.ReadInteger(QStringLiteral("Main"), QStringLiteral("PortNo"), 0);
  const bool multi = ini.ReadString(QStringLiteral("MAIN"), QStringLiteral("ScanMode"), QStringLiteral("MULTI")).toUpper() ==
                     QLatin1String("MULTI");
  (multi ? MultipleBubbleMode1 : SingleBubbleMode1)->setChecked(true);
  // Setting the number does not open the port; its first use does.
  if (PortNumber != 0) ApdComPort1->SetComNumber(static_cast<uint16_t>(PortNumber));
  if (PortNumber == 0) {
    UiServices::ShowMessage(MessageKind::Information, QStringLiteral("Com Port not set up yet.  Setup dialog will now open."));
    Setup1Click();
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  event->ignore();  // the window stays until the run ends; the shutdown steps follow then
  Exit1Click();
}

void TfrmMain::FormDestroy() {
  // The run is over: no more of the machine's data and no more timer ticks,
  // also while the spreadsheet asks about unsaved work below. A sheet still
  // waiting for the row writer is written first, so the save covers it.
  ApdComPort1->SetOnTriggerAvail(nullptr);
  tmrCommDetect->stop();
  tmrInputVal->stop();
  Guarded([this] { WorkbookSwitch(*this).WriteWaitingSheets(); });
  PendingSheets.Clear();
  RecentFiles.TrimToStored();
  try {
    IniFile ini(SettingsFilePath());
    ini.WriteString(QStringLiteral("MAIN"), QStringLiteral("ScanMode"),
                    MultipleBubbleMode1->isChecked() ? QStringLiteral("MULTI") : QStringLiteral("SINGLE"));
    RecentFiles.Store(ini);
    if (!CurrentFile.isEmpty()) ExcelApp.Call(QStringLiteral("Quit"));
  } catch (const std::exception& error) {
    ShowStandardException(error);  // the later steps are skipped
  }
}

// ---- commands ----

void TfrmMain::StartScanning1Click() {
  if (CurrentFile.isEmpty()) {
    UiServices::ShowMessage(MessageKind::Information, QStringLiteral("Excel file must be open before scanning can start."));
    return;
  }
  ModeCommandPending = true;
  SetBubbleItemsEnabled(false);
  try {
    CurrentRow = FindFirstEmptyRow(ExcelApp, WorkSheets);
    RowKnown = true;
    ArmRowWriter();  // sheets that waited for the search
  } catch (...) {
    // The row found earlier may belong to another workbook now: stop rather
    // than go on writing there.
    if (ScanningActive) StopScanning1Click();
    throw;
  }
  ApdComPort1->WriteString("@");  // opens the port on first use
  // The machine is in use from here on: watch for it being unplugged.
  if (!tmrCommDetect->isActive()) tmrCommDetect->start();
  SetModeLabel(true);
  ScanningActive = true;
  ReplyBuffer.clear();
}

void TfrmMain::StopScanning1Click() {
  SetModeLabel(false);
  ScanningActive = false;
  SetBubbleItemsEnabled(true);
}

void TfrmMain::MultipleBubbleMode1Click() { MultipleBubbleMode1->setChecked(true); }

void TfrmMain::SingleBubbleMode1Click() { SingleBubbleMode1->setChecked(true); }

void TfrmMain::Setup1Click() {
  if (lblMode->text() == QLatin1String("Scanning Active")) {
    UiServices::ShowMessage(MessageKind::Information, QStringLiteral("Scanning is active. Cannot Calibrate."));
    return;
  }
  // Whatever way the dialog ends, also by an error, the port's data comes back
  // here. The presence monitor rests meanwhile: the dialog tries other ports.
  const bool monitoring = tmrCommDetect->isActive();
  tmrCommDetect->stop();
  const auto reinstall = qScopeGuard([this, monitoring] {
    InstallPortHandler();
    if (monitoring) tmrCommDetect->start();
  });
  auto setup = std::make_unique<TfrmSetup>(this);
  setup->ComPort = ApdComPort1.get();
  setup->SetPortNumber(PortNumber);
  if (ExecModal(*setup) == QDialog::Accepted) {
    PortNumber = setup->GetPortNumber();
    IniFile(SettingsFilePath()).WriteInteger(QStringLiteral("Main"), QStringLiteral("PortNo"), PortNumber);
  }
  setup.reset();
}

void TfrmMain::btnAboutClick() {
  TfrmAbout about(this);
  ExecModal(about);
}

void TfrmMain::mnuCopyrightClick() { btnAbout->click(); }

void TfrmMain::Exit1Click() { QCoreApplication::quit(); }

// ---- workbooks ----

void TfrmMain::New1Click() {
  const auto path = UiServices::GetFileName({true, QStringLiteral("xls"), kWorkbookFilter});
  if (path) WorkbookSwitch(*this).New(*path);
}

void TfrmMain::Open1Click() {
  const auto path = UiServices::GetFileName({false, QStringLiteral("xls"), kWorkbookFilter});
  if (path) OpenWorkbook(*path);
}

void TfrmMain::Save1Click() {
  if (!WorkSheets.Get(QStringLiteral("Item"), {1}).Get(QStringLiteral("ProtectionMode")).ToBool())
    WorkSheets.Get(QStringLiteral("Item"), {1}).Call(QStringLiteral("Protect"));
  ExcelApp.Call(QStringLiteral("Save"));
  WorkbookSwitch(*this).Saved();
}

void TfrmMain::RecentClick(const QAction* item) { OpenWorkbook(item->data().toString()); }

void TfrmMain::OpenWorkbook(const QString& path) { WorkbookSwitch(*this).Open(path); }

void TfrmMain::AddRecentFile(const QString& path) { RecentFiles.Add(path); }

void TfrmMain::StoreRecentFiles() {
  IniFile ini(SettingsFilePath());
  RecentFiles.StoreNewest(ini);
}

// ---- the row writer ----

void TfrmMain::tmrInputValTimer() {
  tmrInputVal->stop();
  if (writingRows_) return;  // entered from a box of the running tick, which re-arms the timer
  const auto rearm = qScopeGuard([this] { ArmRowWriter(); });  // runs once busy has ended
  const QScopedValueRollback busy(writingRows_, true);
  // Waiting events run first (not the user's: no command may switch the
  // workbook under the tick). A record decoded meanwhile gets a row of its own.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (RowKnown) Delivery.WriteDue(PendingSheets, CurrentTarget(), SheetQueue::Clock::now());
}

RowTarget TfrmMain::CurrentTarget() {
  if (!Journal) Journal = std::make_unique<CrashJournal>(CurrentFile);
  return {WorkSheets, CurrentFile, CurrentRow, *Journal, WorkbookGone};
}

void TfrmMain::ArmRowWriter() {
  if (writingRows_ || !RowKnown) return;  // the running tick re-arms; without a row nothing is due
  if (const std::optional<int> wait = PendingSheets.MsUntilDue(SheetQueue::Clock::now())) tmrInputVal->start(*wait);
}

// ---- the machine ----

void TfrmMain::ApdComPort1TriggerAvail(TApdCustomComPort& /*CP*/, uint16_t Count) {
  for (uint16_t i = 0; i < Count; ++i) ReplyBuffer.append(static_cast<char>(ApdComPort1->ReadChar()));
  const BubbleMode mode = MultipleBubbleMode1->isChecked() ? BubbleMode::Multiple : BubbleMode::Single;
  ReplyOutcome outcome = ClassifyReplyBuffer(ReplyBuffer, ScanningActive, mode);
  const SheetQueue::Clock::time_point now = SheetQueue::Clock::now();
  for (QStringList& record : outcome.records) {
    if (keyWanted_) {
      TakeKeySheet(record, mode);
      continue;
    }
    PendingSheets.Add(std::move(record), now);
  }
  if (!outcome.records.empty() && !tmrInputVal->isActive()) ArmRowWriter();  // a running interval goes on
  if (outcome.acknowledgement) {
    if (ModeCommandPending) {
      ModeCommandPending = false;
      ApdComPort1->WriteString(mode == BubbleMode::Multiple ? "m" : "g");
    }
    ScreenCursor::Set(Qt::ArrowCursor);
  }
}

void TfrmMain::tmrCommDetectTimer() {
  tmrCommDetect->stop();  // no second check while this one's box is open
  const auto restart = qScopeGuard([this] { tmrCommDetect->start(); });
  // The machine's configured port, not one the setup dialog tried last.
  const int port = PortNumber;
  const std::string wanted = "COM" + std::to_string(port);
  bool present = false;
  for (const std::string& name : SerialPortsPresent()) present = present || name == wanted;
  if (present) return;
  UiServices::ShowMessage(MessageKind::Error,
                          BrandName + QStringLiteral(" machine not found on comm port %1\r\n").arg(port) +
                              QStringLiteral("The application cannot continue if the machine is unplugged.  "
                                             "This application will close."));
  QCoreApplication::quit();
}

// ---- scoring ----

void TfrmMain::AnswerKey1Click() {
  if (CurrentFile.isEmpty()) {
    UiServices::ShowMessage(MessageKind::Information, QStringLiteral("Excel file must be open before an answer key can be set."));
    return;
  }
  TfrmAnswerKey dialog(this, *this);
  ExecModal(dialog);
}

std::optional<AnswerKey> TfrmMain::WorkbookKey() const { return Scoring.Key(); }

void TfrmMain::ScanKeySheet(KeyArrived arrived) {
  keyWanted_ = std::move(arrived);
  if (!ScanningActive) Guarded([this] { StartScanning1Click(); });
}

void TfrmMain::StopWaitingForKey() { keyWanted_ = nullptr; }

void TfrmMain::TakeKeySheet(const QStringList& values, BubbleMode mode) {
  const KeyArrived arrived = std::exchange(keyWanted_, nullptr);
  // Sheets that came before the key sheet are rows, in the workbook they were scanned for.
  Guarded([this] { WorkbookSwitch(*this).WriteWaitingSheets(); });
  if (!writingRows_) {
    tmrInputVal->stop();  // its sheet has gone in: the next one's own wait counts
    ArmRowWriter();
  }
  arrived(values, mode == BubbleMode::Multiple ? MarkMode::Multiple : MarkMode::Single);
}

void TfrmMain::ApplyKey(const AnswerKey& key) {
  if (CurrentFile.isEmpty() || WorkbookGone) throw EScoring(QStringLiteral("The workbook is no longer open."));
  // Rows still waiting belong to the workbook as it is: written first, then scored with the rest.
  WorkbookSwitch(*this).WriteWaitingSheets();
  Scoring.Apply(WorkSheets, key);
  CurrentTarget();  // makes the journal when this workbook has none yet
  try {
    Journal->Append(ToJournal(key));
  } catch (const JournalError& error) {
    UiServices::ShowMessage(MessageKind::Error, error.Message() + QStringLiteral("  The scoring is laid out; save the workbook to keep it."));
  }
}

void TfrmMain::RowWrittenToWorkbook(int row, const QStringList& values) {
  if (const std::optional<QString> line = Scoring.RowWritten(row, values)) ShowSheetLook(*line);
}

void TfrmMain::ShowSheetLook(const QString& line) {
  lblSheetLook->setText(line);
  lblSheetLook->setAccessibleDescription(line);
  lblSheetLook->setVisible(!line.isEmpty());
  SetClientHeight();
  if (line.isEmpty()) return;
  // Screen readers announce an alert from the label; the operator hears one beep.
  QAccessibleEvent alert(lblSheetLook, QAccessible::Alert);
  QAccessible::updateAccessibility(&alert);
  QApplication::beep();
}

void TfrmMain::SetClientHeight() {
  centralWidget()->setFixedSize(kClientWidth, kClientHeight + (lblSheetLook->isHidden() ? 0 : kLookHeight));
}
