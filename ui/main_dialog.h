// The main window: a tab control holding the pages that the settings file enables, sized to
// the page shown. GUI thread only.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/flip_page.h"
#include "ui/framework/dialog.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/gui_thread.h"
#include "ui/input_source_page.h"
#include "ui/led_page.h"
#include "ui/system_page.h"
#include "ui/temperature_history_window.h"
#include "ui/temperature_page.h"
#include "ui/traffic_window.h"

namespace lumivex::ui {

class CommandWorker;

constexpr int kTabControlId = 1000;
constexpr int kMaxTabs = 5;
// Command id of the About entry of the window's menu.
constexpr unsigned kIdmAboutBox = 0x10;
// The About entry's text; it does not pass through the language table.
constexpr char kAboutMenuText[] = "关于 Lumivex(&A)...";
constexpr char kProductName[] = "Lumivex";

class CMainDialog : public CDialog {
 public:
  CMainDialog();
  ~CMainDialog() override;

  // The pages, in tab order; entries from TabCount() on are null.
  const std::array<CDialog*, kMaxTabs>& Pages() const { return m_pages; }
  int TabCount() const { return m_tabCtrl.GetItemCount(); }
  int CurrentPage() const { return m_currentPage; }
  CTabCtrl& TabCtrl() { return m_tabCtrl; }

  // Places page in the tab control and fits the tab control and the window around it, keeping
  // the window's top-left corner: page at (8, 25) in the tab control, tab control w + 16 by
  // h + 33, which is also the window's client size.
  void LayoutPage(CDialog& page);
  // The user chose another tab.
  void OnSelChangeTab();
  // Window menu commands; kIdmAboutBox opens the About box.
  void OnSysCommand(unsigned id);

  bool OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  bool PreTranslateMessage(const InputMessage& message) override;
  // Closes the serial port, then ends the window. While the GUI thread waits for a command the
  // close is put off until the command has ended and its handler has finished, so no exchange
  // is cut off and nothing the handler reports is lost.
  void OnCancel() override;

  // The worker whose commands the status line follows and whose end the window waits for when
  // it closes; the application's. Call before the window is created.
  void AttachWorker(CommandWorker* worker);

  // The line at the bottom: "Not connected", or port, device, speed and firmware version;
  // while a command runs, what it waits for. Null until the window is created.
  NativeWindow StatusLine() const { return m_statusLine.GetSafeWnd(); }
  std::string StatusText() const;
  // Reads the connection state into the status line.
  void RefreshStatusLine();

  // The connected port hung up: closes it, says so in one box, and every page's connect
  // button reads "Uart.Open" again. Put off while the GUI thread waits for a command.
  void OnConnectionLost();

  // The entries of the window's context menu, in menu order: display text and action. Where
  // the window manager offers no window menu to extend, the About entry is on this menu.
  std::vector<MenuEntry> ContextMenuEntries() override;
  // Opens (or raises) the serial traffic window.
  void OpenTrafficWindow();
  // The traffic window once opened, else null.
  CTrafficWindow* TrafficWindow() const { return m_trafficWindow.get(); }

 public:
  CTabCtrl m_tabCtrl;
  CLedPage m_ledPage;
  CInputSourcePage m_inputSourcePage;
  CTemperaturePage m_temperaturePage;
  CSystemPage m_systemPage;
  CFlipPage m_flipPage;
  CTemperatureHistoryWindow m_temperatureHistory;

 private:
  void CreateStatusLine();
  void OnWorkerIdle();
  void ReportConnectionLoss();
  bool GuiWaitsForCommand() const;

  int m_currentPage = 0;
  std::array<CDialog*, kMaxTabs> m_pages{};

  CommandWorker* m_worker = nullptr;
  CStatusLine m_statusLine;
  CTimer m_statusPoll;
  std::string m_connectionText;
  std::string m_activityText;
  bool m_closePending = false;
  bool m_lossPending = false;
  std::unique_ptr<CTrafficWindow> m_trafficWindow;
  GuiCallGate m_gate;
};

}  // namespace lumivex::ui
