#include "ui/main_dialog.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "board/connection_loss.h"
#include "connection/connection.h"
#include "connection/connection_info.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "settings/settings.h"
#include "transport/ports.h"
#include "ui/about_dialog.h"
#include "ui/app.h"
#include "ui/framework/command_worker.h"
#include "ui/framework/input_gate.h"
#include "ui/traffic_window.h"
#include "ui/translate_window.h"

namespace lumivex::ui {

namespace {
// Where a page sits in its tab control, and what the tab bar and frame take around it.
constexpr int kPageLeft = 8;
constexpr int kPageTop = 25;
constexpr int kTabExtraWidth = 16;
constexpr int kTabExtraHeight = 33;

constexpr std::string_view kEnabled = "true";

// How often the status line looks at the connection: a page may connect or disconnect
// without telling the window.
constexpr std::chrono::milliseconds kStatusPoll{250};
// Between the parts of the status line.
constexpr char kStatusGap[] = "  ";

std::string Tr(const char* key) {
  return settings::Translate(key);
}

// "COM3  /dev/pts/5  115200 baud  firmware 1000B", or "Not connected".
std::string ConnectionText() {
  if (!connection::IsConnected()) return Tr(key::kStatusNotConnected);
  std::string text = connection::ConnectedPortName();
  const std::string device = connection::ConnectedDevice();
  if (!device.empty()) text += kStatusGap + device;
  text += kStatusGap + std::to_string(connection::ConnectedBaudRate()) + " " + Tr(key::kStatusBaud);
  // The version as the board reports it, in hexadecimal; "----" when it did not say.
  const std::optional<uint32_t> version = connection::ConnectedFirmwareVersion();
  std::string versionText = "----";
  if (version) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(*version));
    versionText = hex;
  }
  text += kStatusGap + Tr(key::kStatusFirmware) + " " + versionText;
  return text;
}

}  // namespace

CMainDialog::CMainDialog() : CDialog(templ::kMain, nullptr) {
  // Told on the port's monitor thread; the window acts on it on its own thread.
  board::SetConnectionLossObserver([this] { m_gate.Post([this] { OnConnectionLost(); }); });
}

CMainDialog::~CMainDialog() {
  board::SetConnectionLossObserver({});
  m_gate.Close();
}

void CMainDialog::AttachWorker(CommandWorker* worker) {
  m_worker = worker;
  if (worker == nullptr) return;
  worker->SetActivityObserver([this](const std::string& text) {
    m_activityText = text;
    RefreshStatusLine();
  });
  worker->SetIdleObserver([this] { OnWorkerIdle(); });
}

bool CMainDialog::GuiWaitsForCommand() const {
  return m_worker != nullptr && m_worker->GuiWaiting();
}

void CMainDialog::CreateStatusLine() {
  if (m_statusLine.IsCreated()) return;
  m_statusLine.Create(*this);
  m_statusPoll.SetHandler([this] { RefreshStatusLine(); });
  m_statusPoll.Start(kStatusPoll);
  RefreshStatusLine();
}

std::string CMainDialog::StatusText() const {
  return m_activityText.empty() ? m_connectionText : m_activityText;
}

void CMainDialog::RefreshStatusLine() {
  // The connection state belongs to the thread that exchanges while a command runs.
  if (!GuiWaitsForCommand()) m_connectionText = ConnectionText();
  // A narrow page cuts the line in the middle rather than losing the firmware version.
  if (m_statusLine.IsCreated()) m_statusLine.SetText(StatusText());
}

void CMainDialog::OnWorkerIdle() {
  RefreshStatusLine();
  if (m_lossPending) {
    m_lossPending = false;
    // Closed now, so the handler's next step and the next command find no connection; the box
    // comes once the handler has finished its own steps.
    if (board::HandleConnectionLoss()) {
      RefreshStatusLine();
      m_gate.Post([this] { ReportConnectionLoss(); });
    }
  }
  if (m_closePending) {
    m_closePending = false;
    m_gate.Post([this] { OnCancel(); });
  }
}

void CMainDialog::OnConnectionLost() {
  // The exchange under way owns the port until it ends.
  if (GuiWaitsForCommand()) {
    m_lossPending = true;
    return;
  }
  if (board::HandleConnectionLoss()) ReportConnectionLoss();
}

void CMainDialog::ReportConnectionLoss() {
  const std::string open = settings::Translate(key::kUartOpen);
  for (CDialog* page :
       {static_cast<CDialog*>(&m_ledPage), static_cast<CDialog*>(&m_inputSourcePage),
        static_cast<CDialog*>(&m_temperaturePage), static_cast<CDialog*>(&m_systemPage),
        static_cast<CDialog*>(&m_flipPage)}) {
    if (page->IsCreated()) page->SetConnectCaption(open);
  }
  RefreshStatusLine();
  CDialog* owner = m_pages[m_currentPage] != nullptr ? m_pages[m_currentPage] : this;
  owner->MessageBox(settings::Translate(key::kPortGone),
                    settings::Translate(key::kWarningUartTitle));
}

void CMainDialog::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, kTabControlId, m_tabCtrl);
}

bool CMainDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  TranslateWindow(*this);

  struct Row {
    const char* key;
    CDialog* page;
    std::string title;
  };
  // The rows in the default tab order: LED, input source, temperature, flip, system.
  const std::array<Row, kMaxTabs> rows = {{
      {"dlg1", &m_ledPage, settings::Translate(key::kTabLed)},
      {"dlg2", &m_inputSourcePage, settings::Translate(key::kTabInputSource)},
      {"dlg3", &m_temperaturePage, settings::Translate(key::kTabTemperature)},
      {"dlg4", &m_flipPage, settings::Translate(key::kTabFlip)},
      {"dlg5", &m_systemPage, settings::Translate(key::kTabSystem)},
  }};

  settings::SettingTable entries;
  const int count = settings::ReadSettingSection(settings::section::kDialog, entries);

  for (CDialog* page :
       {static_cast<CDialog*>(&m_ledPage), static_cast<CDialog*>(&m_inputSourcePage),
        static_cast<CDialog*>(&m_temperaturePage), static_cast<CDialog*>(&m_systemPage),
        static_cast<CDialog*>(&m_flipPage)}) {
    page->Create(*this, kTabControlId);
  }

  // Tabs follow the enabling lines in file order. A page enabled twice keeps its first tab,
  // and there is room for five tabs only.
  int counter = 0;
  for (int i = 0; i < count && counter < kMaxTabs; ++i) {
    for (const Row& row : rows) {
      if (entries[i].key != row.key || entries[i].value != kEnabled) continue;
      const auto end = m_pages.begin() + counter;
      if (std::find(m_pages.begin(), end, row.page) != end) break;
      m_tabCtrl.InsertItem(counter, row.title);
      m_pages[counter++] = row.page;
      break;
    }
  }
  if (m_tabCtrl.GetItemCount() == 0) {
    for (const Row& row : rows) {
      m_tabCtrl.InsertItem(counter, row.title);
      m_pages[counter++] = row.page;
    }
  }

  SetWindowText(kProductName);
  CreateStatusLine();
  m_currentPage = 0;
  LayoutPage(*m_pages[0]);
  m_tabCtrl.SetCurSel(0);
  for (int i = 0; i < m_tabCtrl.GetItemCount(); ++i) m_pages[i]->ShowWindow(false);
  m_pages[0]->ShowWindow(true);

  OnTabSelChange(kTabControlId, [this] { OnSelChangeTab(); });
  return true;
}

void CMainDialog::LayoutPage(CDialog& page) {
  const Size size = page.TemplatePixelSize();
  const int w = size.width;
  const int h = size.height;
  page.MoveWindow(Rect{kPageLeft, kPageTop, w, h});
  MoveItem(kTabControlId, Rect{0, 0, w + kTabExtraWidth, h + kTabExtraHeight});
  // The window's client area is the tab control over the status line.
  const int status = m_statusLine.Height();
  if (m_statusLine.IsCreated()) {
    m_statusLine.MoveWindow(Rect{0, h + kTabExtraHeight, w + kTabExtraWidth, status});
  }
  SetFixedClientSize(Size{w + kTabExtraWidth, h + kTabExtraHeight + status});
  RefreshStatusLine();
}

void CMainDialog::OnSelChangeTab() {
  // While a command runs the window acts on nothing: an accessibility action that switched the
  // tab is undone, and the page does not run its showing (which may read the board).
  if (IsInputBlocked()) {
    m_tabCtrl.SetCurSel(m_currentPage);
    return;
  }
  const int selected = m_tabCtrl.GetCurSel();
  if (selected < 0 || selected >= m_tabCtrl.GetItemCount() || !m_pages[selected]) return;
  if (CDialog* old = m_pages[m_currentPage]) old->ShowWindow(false);
  m_currentPage = selected;
  CDialog& page = *m_pages[m_currentPage];
  LayoutPage(page);
  page.ShowWindow(true);
  // Pages re-translate their captions and re-caption their connect button at every showing.
  page.OnInitDialog();
}

void CMainDialog::OnSysCommand(unsigned id) {
  if ((id & 0xFFF0) == kIdmAboutBox) {
    CAboutDialog about(this);
    about.DoModal();
  }
}

bool CMainDialog::PreTranslateMessage(const InputMessage& message) {
  // Neither key closes the window or presses a button.
  if (IsEscapeOrReturnKeyDown(message)) return true;
  return CDialog::PreTranslateMessage(message);
}

void CMainDialog::OnCancel() {
  if (GuiWaitsForCommand()) {
    m_closePending = true;
    return;
  }
  if (m_trafficWindow) m_trafficWindow->Close();
  // The connection state stays as it is: the program is ending.
  m_temperatureHistory.OnCancel();
  transport::ClosePort();
  CDialog::OnCancel();
}

std::vector<MenuEntry> CMainDialog::ContextMenuEntries() {
  return {
      {kAboutMenuText, [this] { OnSysCommand(kIdmAboutBox); }},
      {Tr(key::kMenuSerialTraffic), [this] { OpenTrafficWindow(); }},
      {Tr(key::kHistoryMenu), [this] { m_temperatureHistory.Open(this); }},
  };
}

void CMainDialog::OpenTrafficWindow() {
  if (!m_trafficWindow) m_trafficWindow = std::make_unique<CTrafficWindow>(this);
  m_trafficWindow->Open();
}

}  // namespace lumivex::ui
