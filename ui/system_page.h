// The system page: starts a firmware upgrade that the board performs by itself from a file on
// its own USB disk, and reports the board's one-byte outcome, awaited on a worker thread.
//
// Thread safety: every member runs on the GUI thread. The upgrade worker never touches a
// widget: it hands its work (disabling and enabling the buttons, the outcome's message box) to
// the GUI thread through the page's call gate, and it is stopped and joined before the page is
// destroyed.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "board/upgrade.h"
#include "ui/framework/dialog.h"
#include "ui/framework/gui_thread.h"

namespace lumivex::ui {

class CSystemPage : public CDialog {
 public:
  // How often the worker looks for the board's status (one receive wait and, without a known
  // status, a 20 ms pause each): about 22.5 s in all.
  static constexpr int kDefaultStatusWaitCycles = board::kUpgradeStatusCycles;
  // The longest file name the board takes.
  static constexpr int kMaxFirmwareNameLength = static_cast<int>(board::kMaxFirmwareNameLength);

  explicit CSystemPage(CDialog* owner = nullptr, int statusWaitCycles = kDefaultStatusWaitCycles);
  // Ends a waiting worker first: it gives up at its next look and never touches the page again.
  ~CSystemPage() override;

  // Shows the remembered file name (writing the default when none is stored) and re-captions
  // the connect button.
  bool OnInitDialog() override;
  bool PreTranslateMessage(const InputMessage& message) override;
  void DoDataExchange(CDataExchange* pDX) override;
  // Ignored while an upgrade is awaited.
  void OnClose() override;

  // For upgrades started from now on.
  void SetStatusWaitCycles(int cycles) { m_statusWaitCycles = cycles; }
  // True from the start of a worker until it has shown its outcome and enabled the buttons.
  bool IsUpgradeWorkerRunning() const { return m_workerRunning.load(); }

 private:
  void OnUartOpen();
  void OnUpgrade();
  void OnFileNameChange();
  // The worker's thread; cycles as SetStatusWaitCycles.
  void UpgradeWorker(int cycles);
  void StopUpgradeWorker();

  CEdit m_fileNameEdit;
  std::string m_firmwareName;
  std::thread m_upgradeThread;
  // An upgrade is awaited: close requests are ignored. Set when a worker starts, cleared when
  // it ends and at every showing of the page. GUI thread only.
  bool m_upgradeWaiting = false;
  std::atomic<bool> m_workerRunning{false};
  int m_statusWaitCycles;

  // Raised when the page goes away: the worker gives up at its next look.
  board::StopFlag m_stopWorker;

  GuiCallGate m_gate;
};

}  // namespace lumivex::ui
