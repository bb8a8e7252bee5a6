#include "ui/traffic_window.h"

#include <cstdio>

#include "connection/connection_info.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/shell.h"
#include "ui/translate_window.h"
#include "ui/whole_file.h"

namespace lumivex::ui {

namespace {

// The hex column is as wide as sixteen bytes, so the columns after it line up for every
// frame but the long upgrade start.
constexpr std::size_t kHexColumn = 16 * 3 - 1;

struct NamedCommand {
  uint16_t code;
  const char* name;
};

constexpr NamedCommand kCommands[] = {
    {protocol::command::kHandshakeD, "Handshake"},
    {protocol::command::kHandshakeA, "Handshake (class A)"},
    {protocol::command::kReadTemperatures, "ReadTemperatures"},
    {protocol::command::kSetLedPower, "SetLedPower"},
    {protocol::command::kReadLedCurrents, "ReadLedCurrents"},
    {protocol::command::kWriteLedCurrents, "WriteLedCurrents"},
    {protocol::command::kSetFlip, "SetFlip"},
    {protocol::command::kSetInputSource, "SetInputSource"},
    {protocol::command::kStartFirmwareUpgrade, "StartFirmwareUpgrade"},
    {protocol::command::kSetLightColour, "SetLightColour"},
    {protocol::command::kFirmwareVersion, "FirmwareVersion"},
};

bool IsGreeting(const uint8_t* bytes, uint32_t count) {
  if (count < 4 || bytes[0] != protocol::kFrameHeader) return false;
  const auto code = static_cast<uint16_t>((bytes[2] << 8) | bytes[3]);
  return code == protocol::command::kHandshakeD || code == protocol::command::kHandshakeA;
}

}  // namespace

std::string CommandName(const uint8_t* bytes, uint32_t count) {
  if (bytes == nullptr || count < 3 || bytes[0] != protocol::kFrameHeader) return {};
  if (count == protocol::kShortUpgradeFrame.size() &&
      std::equal(bytes, bytes + count, protocol::kShortUpgradeFrame.begin())) {
    return "StartFirmwareUpgrade (short frame)";
  }
  // A request frame counts its own length in its second byte.
  if (count < 4 || bytes[1] != count) return {};
  const auto code = static_cast<uint16_t>((bytes[2] << 8) | bytes[3]);
  for (const NamedCommand& c : kCommands) {
    if (c.code == code) return c.name;
  }
  char unknown[8];
  std::snprintf(unknown, sizeof unknown, "0x%04X", static_cast<unsigned>(code));
  return unknown;
}

std::string TrafficLine(int64_t milliseconds, transport::LinkDirection direction,
                        const uint8_t* bytes, uint32_t count, const std::string& name) {
  char head[40];
  std::snprintf(head, sizeof head, "%8lld ms  %s  ", static_cast<long long>(milliseconds),
                direction == transport::LinkDirection::kSent ? "TX" : "RX");
  std::string hex;
  std::string ascii;
  hex.reserve(count * 3);
  ascii.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", static_cast<unsigned>(bytes[i]));
    hex += byte;
    ascii += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '.';
  }
  if (hex.size() < kHexColumn) hex.append(kHexColumn - hex.size(), ' ');
  std::string line = head + hex + "  |" + ascii + "|";
  if (!name.empty()) line += "  " + name;
  return line;
}

TrafficLog::TrafficLog() : m_origin(Clock::now()) {}

void TrafficLog::Record(transport::LinkDirection direction, const uint8_t* bytes, uint32_t count) {
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(m_mutex);
  std::string name;
  if (direction == transport::LinkDirection::kSent) {
    // A search counts from each greeting it sends; the connection it ends with, from its own.
    if (IsGreeting(bytes, count)) m_origin = now;
    name = CommandName(bytes, count);
    m_lastRequest = name;
  } else {
    // An answer belongs to the request before it: answers follow requests in line order.
    name = m_lastRequest;
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_origin).count();
  m_pending.push_back(TrafficLine(ms, direction, bytes, count, name));
  if (m_pending.size() > kMaxPending) {
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(
                                                               m_pending.size() - kMaxPending));
  }
}

void TrafficLog::SetOrigin(Clock::time_point origin) {
  std::lock_guard lock(m_mutex);
  m_origin = origin;
}

std::vector<std::string> TrafficLog::Take() {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> lines;
  lines.swap(m_pending);
  return lines;
}

CTrafficWindow::CTrafficWindow(CDialog* owner)
    : CDialog(templ::kTrafficWindow, owner),
      m_log(std::make_shared<TrafficLog>()),
      m_batch([this] { TakeNow(); }) {
  OnClicked(traffic::kCopy, [this] { OnCopy(); });
  OnClicked(traffic::kSave, [this] { OnSave(); });
  OnClicked(traffic::kClear, [this] { OnClear(); });
  OnClicked(traffic::kPause, [this] { OnPause(); });
}

CTrafficWindow::~CTrafficWindow() {
  Uninstall();
}

void CTrafficWindow::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, traffic::kView, m_view);
}

bool CTrafficWindow::OnInitDialog() {
  const bool first = !m_view.IsAttached();
  CDialog::OnInitDialog();
  if (first) {
    // Looking at the traffic sends nothing: the window stays usable while a command runs.
    KeepUsableWhileBlocked(GetSafeWnd());
    m_view.SetMaxLines(kMaxLines);
    m_templateSize = TemplatePixelSize();
    for (const ControlSlot& slot : Controls()) {
      if (slot.tmpl->id != kStaticId)
        m_templateRects.emplace_back(slot.tmpl->id, ItemRect(slot.tmpl->id));
    }
    // Down to the buttons' row and a few lines of the view.
    const Rect pause = ItemRect(traffic::kPause);
    SetResizable(Size{pause.x + pause.width + pause.x - ItemRect(traffic::kCopy).x + 8,
                      m_templateSize.height / 2});
  }
  Translate();
  return true;
}

void CTrafficWindow::Open() {
  if (!IsCreated()) {
    CreateModeless(Owner());
    return;
  }
  Translate();
  ShowWindow(true);
  BringToFront();
}

void CTrafficWindow::Translate() {
  TranslateWindow(*this);
}

bool CTrafficWindow::PreTranslateMessage(const InputMessage& message) {
  // Neither key closes the window or presses a button, as in any window that is not a dialog.
  if (IsEscapeOrReturnKeyDown(message)) return true;
  return CDialog::PreTranslateMessage(message);
}

void CTrafficWindow::OnShowWindow(bool shown) {
  // A closed window costs the link nothing.
  if (shown) {
    Install();
  } else {
    Uninstall();
  }
}

void CTrafficWindow::OnSize(Size client) {
  if (m_templateRects.empty()) return;
  const int dx = client.width - m_templateSize.width;
  const int dy = client.height - m_templateSize.height;
  for (const auto& [id, rect] : m_templateRects) {
    if (id == traffic::kView) {
      MoveItem(id,
               Rect{rect.x, rect.y, std::max(1, rect.width + dx), std::max(1, rect.height + dy)});
    } else {
      MoveItem(id, Rect{rect.x, rect.y + dy, rect.width, rect.height});
    }
  }
}

void CTrafficWindow::Install() {
  if (m_installed) return;
  m_installed = true;
  SyncOrigin();
  transport::SetLinkTrace([log = m_log](transport::LinkDirection direction, const uint8_t* bytes,
                                        uint32_t count) { log->Record(direction, bytes, count); });
  m_batch.Start(kBatchInterval);
}

void CTrafficWindow::Uninstall() {
  if (!m_installed) return;
  m_installed = false;
  transport::SetLinkTrace({});
  m_batch.Stop();
  TakeNow();
}

void CTrafficWindow::SyncOrigin() {
  // The connection's state belongs to the worker while the GUI thread waits for a command.
  if (IsInputBlocked()) return;
  if (const auto since = connection::ConnectedSince()) m_log->SetOrigin(*since);
}

void CTrafficWindow::TakeNow() {
  SyncOrigin();
  const std::vector<std::string> lines = m_log->Take();
  if (!lines.empty()) Append(lines);
}

void CTrafficWindow::Append(const std::vector<std::string>& lines) {
  if (IsPaused()) {
    m_held.insert(m_held.end(), lines.begin(), lines.end());
    if (m_held.size() > static_cast<std::size_t>(kMaxLines)) {
      m_held.erase(m_held.begin(), m_held.end() - kMaxLines);
    }
    return;
  }
  m_view.AppendLines(lines);
}

std::vector<std::string> CTrafficWindow::Lines() const {
  return m_view.Lines();
}

bool CTrafficWindow::IsPaused() const {
  return IsDlgButtonChecked(traffic::kPause) == 1;
}

bool CTrafficWindow::SaveTo(const std::string& path) const {
  std::string text;
  for (const std::string& line : m_view.Lines()) {
    text += line;
    text += '\n';
  }
  return WriteWholeFile(path, text);
}

void CTrafficWindow::OnCopy() {
  SetClipboardText(m_view.SelectedOrAllText());
}

void CTrafficWindow::OnSave() {
  const std::optional<std::string> path =
      AskSaveFileName(*this, GetWindowText(), "lumivex-traffic.txt", "Text", "*.txt");
  if (!path) return;
  if (!SaveTo(*path)) MessageBox(settings::Translate(key::kTrafficSaveFailed), GetWindowText());
}

void CTrafficWindow::OnClear() {
  m_view.Clear();
  m_held.clear();
}

void CTrafficWindow::OnPause() {
  if (IsPaused()) return;
  std::vector<std::string> held;
  held.swap(m_held);
  if (!held.empty()) Append(held);
}

}  // namespace lumivex::ui
