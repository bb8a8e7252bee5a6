#include "ui/system_page.h"

#include "board/connect.h"
#include "board/upgrade.h"
#include "connection/connection.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "settings/settings.h"
#include "ui/translate_window.h"

namespace lumivex::ui {

namespace {

constexpr int kUpgradeButton = 1032;
constexpr int kFileNameEdit = 1061;

}  // namespace

CSystemPage::CSystemPage(CDialog* owner, int statusWaitCycles)
    : CDialog(templ::kSystemPage, owner),
      m_firmwareName(board::kDefaultFirmwareName),
      m_statusWaitCycles(statusWaitCycles) {
  OnClicked(connection::kConnectButtonId, [this] { OnUartOpen(); });
  OnClicked(kUpgradeButton, [this] { OnUpgrade(); });
  OnEditChange(kFileNameEdit, [this] { OnFileNameChange(); });
}

CSystemPage::~CSystemPage() {
  StopUpgradeWorker();
}

void CSystemPage::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, kFileNameEdit, m_fileNameEdit);
  DDX_Text(pDX, kFileNameEdit, m_firmwareName);
  DDV_MaxChars(pDX, m_firmwareName, kMaxFirmwareNameLength);
}

bool CSystemPage::OnInitDialog() {
  CDialog::OnInitDialog();
  TranslateWindow(*this);
  m_upgradeWaiting = false;

  // A name typed but never used gives way to the stored one.
  m_firmwareName = settings::ReadSetting(settings::section::kSystem, settings::kFirmwareNameKey);
  if (m_firmwareName.empty()) {
    m_firmwareName = board::kDefaultFirmwareName;
    settings::WriteSetting(settings::section::kSystem, settings::kFirmwareNameKey, m_firmwareName);
  }
  UpdateData(false);

  // The connection may have been made or closed on another page since this one was shown.
  SetDlgItemText(connection::kConnectButtonId,
                 settings::Translate(connection::IsConnected() ? key::kUartClose : key::kUartOpen));
  return true;
}

bool CSystemPage::PreTranslateMessage(const InputMessage& message) {
  // The page never closes itself and never presses a button from the keyboard.
  if (IsEscapeOrReturnKeyDown(message)) return true;
  return CDialog::PreTranslateMessage(message);
}

void CSystemPage::OnClose() {
  if (m_upgradeWaiting) return;
  CDialog::OnClose();
}

void CSystemPage::OnUartOpen() {
  board::ToggleConnection(*this);
}

void CSystemPage::OnFileNameChange() {
  // The field follows the box without validating at every keystroke: a name too long for the
  // board (only the settings file can hold one) is reported once, when an upgrade is asked for.
  m_firmwareName = GetDlgItemText(kFileNameEdit);
}

void CSystemPage::OnUpgrade() {
  // The worker keeps this button disabled; a click that was already queued when it started
  // must not start a second upgrade.
  if (m_workerRunning) return;
  if (m_upgradeThread.joinable()) m_upgradeThread.join();

  // A name longer than the board takes fails here with the length message; it is neither
  // stored again nor sent, since its length would not fit the request.
  if (!UpdateData(true)) return;
  // Remembered even when the upgrade cannot start, so the next run offers the same name.
  if (!m_firmwareName.empty()) {
    settings::WriteSetting(settings::section::kSystem, settings::kFirmwareNameKey, m_firmwareName);
  }
  if (!connection::IsConnected()) {
    MessageBox(settings::Translate(key::kNotOpen), settings::Translate(key::kWarningUartTitle));
    return;
  }
  if (m_firmwareName.empty()) {
    MessageBox(settings::Translate(key::kInvalidFileName),
               settings::Translate(key::kWarningSystemTitle));
    return;
  }

  // The short start frame reports no outcome worth waiting for; an unacknowledged start of
  // another name may still have reached the board, so that one is awaited.
  if (!board::StartUpgrade(m_firmwareName).AwaitsOutcome()) return;

  m_upgradeWaiting = true;
  m_workerRunning = true;
  m_upgradeThread = std::thread(&CSystemPage::UpgradeWorker, this, m_statusWaitCycles);
}

void CSystemPage::UpgradeWorker(int cycles) {
  // Every call through the gate fails once the page is going away; the worker then touches
  // nothing more.
  const bool disabled = m_gate.Call([this] {
    EnableItem(kUpgradeButton, false);
    EnableItem(connection::kConnectButtonId, false);
  });
  if (disabled) {
    const board::UpgradeOutcome outcome = board::AwaitUpgradeOutcome(m_stopWorker, cycles);
    const char* message = outcome.messageKey;
    // The box is modal: both buttons stay disabled until the user has dismissed it. A port
    // that went away has its own message, shown once by the window.
    if (outcome.end != board::UpgradeOutcome::End::kStopped && m_gate.Call([this, message] {
          if (message == nullptr) return;
          MessageBox(settings::Translate(message), settings::Translate(key::kWarningSystemTitle));
        })) {
      m_gate.Call([this] {
        EnableItem(kUpgradeButton, true);
        EnableItem(connection::kConnectButtonId, true);
        m_upgradeWaiting = false;
      });
    }
  }
  m_workerRunning = false;
}

void CSystemPage::StopUpgradeWorker() {
  // Closing the gate first wakes a worker that waits for the GUI thread, which is busy here.
  m_gate.Close();
  m_stopWorker.Raise();
  if (m_upgradeThread.joinable()) m_upgradeThread.join();
}

}  // namespace lumivex::ui
