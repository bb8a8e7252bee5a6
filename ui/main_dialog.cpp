#include "ui/main_dialog.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QTabBar>
#include <algorithm>
#include <string_view>

#include "settings/language.h"
#include "settings/language_keys.h"
#include "settings/settings.h"
#include "transport/ports.h"
#include "ui/about_dialog.h"
#include "ui/app.h"
#include "ui/translate_window.h"

namespace lumivex::ui {

namespace {
// Where a page sits in its tab control, and what the tab bar and frame take around it.
constexpr int kPageLeft = 8;
constexpr int kPageTop = 25;
constexpr int kTabExtraWidth = 16;
constexpr int kTabExtraHeight = 33;

constexpr std::string_view kEnabled = "true";
}  // namespace

CMainDialog::CMainDialog() : CDialog(templ::kMain, nullptr), m_hIcon(ApplicationIcon()) {
  setAttribute(Qt::WA_QuitOnClose, false);
}

void CMainDialog::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, kTabControlId, m_tabCtrl);
}

bool CMainDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  TranslateWindow(*this);
  setWindowIcon(m_hIcon);

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

  TabControl* tabs = m_tabCtrl.Widget();
  for (CDialog* page :
       {static_cast<CDialog*>(&m_ledPage), static_cast<CDialog*>(&m_inputSourcePage),
        static_cast<CDialog*>(&m_temperaturePage), static_cast<CDialog*>(&m_systemPage),
        static_cast<CDialog*>(&m_flipPage)}) {
    page->Create(tabs);
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
  m_currentPage = 0;
  LayoutPage(*m_pages[0]);
  m_tabCtrl.SetCurSel(0);
  for (int i = 0; i < m_tabCtrl.GetItemCount(); ++i) m_pages[i]->hide();
  m_pages[0]->show();

  connect(tabs, &TabControl::selectionChanged, this, &CMainDialog::OnSelChangeTab,
          Qt::UniqueConnection);
  return true;
}

void CMainDialog::LayoutPage(CDialog& page) {
  const QSize size = page.TemplatePixelSize();
  const int w = size.width();
  const int h = size.height();
  page.setGeometry(kPageLeft, kPageTop, w, h);
  if (QWidget* tabs = m_tabCtrl.GetSafeWnd()) {
    tabs->setGeometry(0, 0, w + kTabExtraWidth, h + kTabExtraHeight);
  }
  // The window's client area is the tab control; its frame belongs to the window manager.
  const QPoint topLeft = pos();
  setFixedSize(w + kTabExtraWidth, h + kTabExtraHeight);
  move(topLeft);
}

void CMainDialog::OnSelChangeTab() {
  const int selected = m_tabCtrl.GetCurSel();
  if (selected < 0 || selected >= m_tabCtrl.GetItemCount() || !m_pages[selected]) return;
  if (CDialog* old = m_pages[m_currentPage]) old->hide();
  m_currentPage = selected;
  CDialog& page = *m_pages[m_currentPage];
  LayoutPage(page);
  page.show();
  // Pages re-translate their captions and re-caption their connect button at every showing.
  page.OnInitDialog();
}

void CMainDialog::OnSysCommand(unsigned id) {
  if ((id & 0xFFF0) == kIdmAboutBox) {
    CAboutDialog about(this);
    about.DoModal();
  }
}

bool CMainDialog::PreTranslateMessage(QObject* target, QEvent* event) {
  // Neither key closes the window or presses a button.
  if (IsEscapeOrReturnKeyDown(event)) return true;
  return CDialog::PreTranslateMessage(target, event);
}

void CMainDialog::OnCancel() {
  // The connection state stays as it is: the program is ending.
  m_temperatureHistory.OnCancel();
  transport::ClosePort();
  CDialog::OnCancel();
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* about = menu.addAction(QString::fromUtf8(kAboutMenuText));
  connect(menu.addAction(QString::fromStdString(settings::Translate(key::kHistoryMenu))),
          &QAction::triggered, this, [this] { m_temperatureHistory.Open(this); });
  if (menu.exec(event->globalPos()) == about) OnSysCommand(kIdmAboutBox);
}

}  // namespace lumivex::ui
