// The main window: a tab control holding the pages that the settings file enables, sized to
// the page shown. GUI thread only.
#pragma once

#include <QIcon>
#include <array>

#include "ui/flip_page.h"
#include "ui/framework/dialog.h"
#include "ui/input_source_page.h"
#include "ui/led_page.h"
#include "ui/system_page.h"
#include "ui/temperature_history_window.h"
#include "ui/temperature_page.h"

namespace lumivex::ui {

constexpr int kTabControlId = 1000;
constexpr int kMaxTabs = 5;
// Command id of the About entry of the window's menu.
constexpr unsigned kIdmAboutBox = 0x10;
// The About entry's text; it does not pass through the language table.
constexpr char kAboutMenuText[] = "关于 Lumivex(&A)...";
constexpr char kProductName[] = "Lumivex";

class CMainDialog : public CDialog {
  Q_OBJECT
 public:
  CMainDialog();

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
  bool PreTranslateMessage(QObject* target, QEvent* event) override;
  // Closes the serial port, then ends the window.
  void OnCancel() override;

 protected:
  // Where the window manager offers no window menu to extend, the About entry is on the
  // window's own context menu.
  void contextMenuEvent(QContextMenuEvent* event) override;

 public:
  CTabCtrl m_tabCtrl;
  CLedPage m_ledPage;
  CInputSourcePage m_inputSourcePage;
  CTemperaturePage m_temperaturePage;
  CSystemPage m_systemPage;
  CFlipPage m_flipPage;
  CTemperatureHistoryWindow m_temperatureHistory;

 private:
  int m_currentPage = 0;
  std::array<CDialog*, kMaxTabs> m_pages{};
  QIcon m_hIcon;
};

}  // namespace lumivex::ui
