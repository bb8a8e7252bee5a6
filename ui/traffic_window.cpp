#include "ui/traffic_window.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "connection/connection_info.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/message_presenter.h"

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
  m_pending.push_back(QString::fromStdString(TrafficLine(ms, direction, bytes, count, name)));
  if (m_pending.size() > kMaxPending) {
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(
                                                               m_pending.size() - kMaxPending));
  }
}

void TrafficLog::SetOrigin(Clock::time_point origin) {
  std::lock_guard lock(m_mutex);
  m_origin = origin;
}

std::vector<QString> TrafficLog::Take() {
  std::lock_guard lock(m_mutex);
  std::vector<QString> lines;
  lines.swap(m_pending);
  return lines;
}

CTrafficWindow::CTrafficWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_log(std::make_shared<TrafficLog>()),
      m_view(new QPlainTextEdit(this)),
      m_copy(new QPushButton(this)),
      m_save(new QPushButton(this)),
      m_clear(new QPushButton(this)),
      m_pause(new QPushButton(this)),
      m_batch(new QTimer(this)) {
  setObjectName(QStringLiteral("trafficWindow"));
  // Looking at the traffic sends nothing: the window stays usable while a command runs.
  KeepUsableWhileBlocked(this);
  m_view->setReadOnly(true);
  m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_view->setMaximumBlockCount(kMaxLines);
  m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_pause->setCheckable(true);

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {m_copy, m_save, m_clear, m_pause}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_view);
  layout->addLayout(buttons);

  connect(m_copy, &QPushButton::clicked, this, &CTrafficWindow::OnCopy);
  connect(m_save, &QPushButton::clicked, this, &CTrafficWindow::OnSave);
  connect(m_clear, &QPushButton::clicked, this, &CTrafficWindow::OnClear);
  connect(m_pause, &QPushButton::toggled, this, &CTrafficWindow::OnPause);
  m_batch->setInterval(kBatchInterval);
  connect(m_batch, &QTimer::timeout, this, &CTrafficWindow::TakeNow);

  Translate();
  resize(720, 360);
}

CTrafficWindow::~CTrafficWindow() {
  Uninstall();
}

void CTrafficWindow::Translate() {
  auto tr = [](const char* key) { return QString::fromStdString(settings::Translate(key)); };
  setWindowTitle(tr(key::kTrafficTitle));
  m_copy->setText(tr(key::kTrafficCopy));
  m_save->setText(tr(key::kTrafficSave));
  m_clear->setText(tr(key::kTrafficClear));
  m_pause->setText(tr(key::kTrafficPause));
}

void CTrafficWindow::showEvent(QShowEvent* event) {
  Install();
  QWidget::showEvent(event);
}

void CTrafficWindow::hideEvent(QHideEvent* event) {
  // A closed window costs the link nothing.
  Uninstall();
  QWidget::hideEvent(event);
}

void CTrafficWindow::Install() {
  if (m_installed) return;
  m_installed = true;
  SyncOrigin();
  transport::SetLinkTrace([log = m_log](transport::LinkDirection direction, const uint8_t* bytes,
                                        uint32_t count) { log->Record(direction, bytes, count); });
  m_batch->start();
}

void CTrafficWindow::Uninstall() {
  if (!m_installed) return;
  m_installed = false;
  transport::SetLinkTrace({});
  m_batch->stop();
  TakeNow();
}

void CTrafficWindow::SyncOrigin() {
  // The connection's state belongs to the worker while the GUI thread waits for a command.
  if (IsInputBlocked()) return;
  if (const auto since = connection::ConnectedSince()) m_log->SetOrigin(*since);
}

void CTrafficWindow::TakeNow() {
  SyncOrigin();
  const std::vector<QString> lines = m_log->Take();
  if (!lines.empty()) Append(lines);
}

void CTrafficWindow::Append(const std::vector<QString>& lines) {
  if (IsPaused()) {
    m_held.insert(m_held.end(), lines.begin(), lines.end());
    if (m_held.size() > static_cast<std::size_t>(kMaxLines)) {
      m_held.erase(m_held.begin(), m_held.end() - kMaxLines);
    }
    return;
  }
  QStringList batch;
  batch.reserve(static_cast<qsizetype>(lines.size()));
  for (const QString& line : lines) batch.append(line);
  m_view->appendPlainText(batch.join(QLatin1Char('\n')));
}

QStringList CTrafficWindow::Lines() const {
  if (m_view->document()->isEmpty()) return {};
  return m_view->toPlainText().split(QLatin1Char('\n'));
}

bool CTrafficWindow::IsPaused() const {
  return m_pause->isChecked();
}

bool CTrafficWindow::SaveTo(const QString& path) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  QString text = m_view->toPlainText();
  if (!text.isEmpty()) text += QLatin1Char('\n');
  file.write(text.toUtf8());
  return file.commit();
}

void CTrafficWindow::OnCopy() {
  const QString selected = m_view->textCursor().selectedText();
  // A selection spans lines with the paragraph separator; the clipboard wants line ends.
  QApplication::clipboard()->setText(
      selected.isEmpty() ? m_view->toPlainText()
                         : QString(selected).replace(QChar::ParagraphSeparator, '\n'));
}

void CTrafficWindow::OnSave() {
  const QString path =
      QFileDialog::getSaveFileName(this, windowTitle(), QStringLiteral("lumivex-traffic.txt"),
                                   QStringLiteral("Text (*.txt);;All files (*)"));
  if (path.isEmpty()) return;
  if (!SaveTo(path)) {
    CurrentMessagePresenter().Show(*this, settings::Translate(key::kTrafficSaveFailed),
                                   windowTitle().toStdString());
  }
}

void CTrafficWindow::OnClear() {
  m_view->clear();
  m_held.clear();
}

void CTrafficWindow::OnPause(bool paused) {
  if (paused) return;
  std::vector<QString> held;
  held.swap(m_held);
  if (!held.empty()) Append(held);
}

}  // namespace lumivex::ui
