#include "ui/temperature_history_window.h"

#include <algorithm>

#include "board/executor.h"
#include "board/temperatures.h"
#include "connection/connection.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "ui/framework/shell.h"
#include "ui/translate_window.h"
#include "ui/whole_file.h"

namespace lumivex::ui {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using board::TemperatureChannel;

// How soon the window looks again when it cannot read now: a command the user started is under
// way (it finishes within seconds), or there is no connection (it takes a click to make one).
constexpr auto kBusyRetry = 200ms;
constexpr auto kUnconnectedRetry = 1s;
constexpr char kDegrees[] = " °C";

struct LineKind {
  TemperatureChannel channel;
  const char* key;
  uint32_t rgb;
};
constexpr LineKind kLines[] = {
    {TemperatureChannel::kRed, key::kHistoryRed, history::kRedLine},
    {TemperatureChannel::kGreen, key::kHistoryGreen, history::kGreenLine},
    {TemperatureChannel::kBlue, key::kHistoryBlue, history::kBlueLine},
    {TemperatureChannel::kBoard, key::kHistoryBoard, history::kBoardLine},
};

double Minutes(board::SteadyTime::duration d) {
  return std::chrono::duration<double, std::ratio<60>>(d).count();
}

}  // namespace

CTemperatureHistoryWindow::CTemperatureHistoryWindow(CDialog* owner)
    : CDialog(templ::kTemperatureHistory, owner) {
  m_timer.SetHandler([this] { OnReadTimer(); });
  OnClicked(history::kSaveCsv, [this] { OnSaveCsv(); });
  OnClicked(history::kClear, [this] { Clear(); });
  OnClicked(history::kLimitCheck, [this] { UpdateView(); });
  OnEditChange(history::kLimitEdit, [this] { UpdateView(); });
  OnSelChange(history::kInterval, [this] { SetInterval(m_intervalList.GetCurSel()); });
  OnSelChange(history::kRange,
              [this] { SetRange(static_cast<history::Range>(m_rangeList.GetCurSel())); });
}

CTemperatureHistoryWindow::~CTemperatureHistoryWindow() {
  m_timer.Stop();
}

void CTemperatureHistoryWindow::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, history::kPlot, m_plot);
  DDX_Control(pDX, history::kLimitEdit, m_limitEdit);
  DDX_Control(pDX, history::kInterval, m_intervalList);
  DDX_Control(pDX, history::kRange, m_rangeList);
}

bool CTemperatureHistoryWindow::OnInitDialog() {
  CDialog::OnInitDialog();
  TranslateWindow(*this);
  FillChoices();
  if (CPlotCtrl* plot = Plot()) {
    plot->SetSource(
        [this](std::size_t line, double from, double to, std::span<PlotColumnValues> columns) {
          if (m_history.empty() || line >= std::size(kLines)) return;
          const board::SteadyTime origin = *m_history.origin();
          const auto at = [&](double minutes) {
            return origin + std::chrono::duration_cast<board::SteadyTime::duration>(
                                std::chrono::duration<double, std::ratio<60>>(minutes));
          };
          m_columnBuffer.resize(columns.size());
          m_history.Decimate(kLines[line].channel, at(from), at(to), m_columnBuffer);
          for (std::size_t i = 0; i < columns.size(); ++i) {
            const board::PlotColumn& c = m_columnBuffer[i];
            columns[i] = {c.any,           double(c.min),  double(c.max),
                          double(c.first), double(c.last), c.joinFrom};
          }
        });
  }
  UpdateView();
  return true;
}

bool CTemperatureHistoryWindow::PreTranslateMessage(const InputMessage& message) {
  // Return in the limit box must not close the window; Escape closes it like its close button.
  if (IsEscapeOrReturnKeyDown(message) && message.key != Key::kEscape) return true;
  return CDialog::PreTranslateMessage(message);
}

void CTemperatureHistoryWindow::FillChoices() {
  // Filled at every opening, so a changed language shows; the choices stay.
  m_intervalList.ResetContent();
  for (int seconds : history::kIntervals) {
    m_intervalList.AddString(std::to_string(seconds) + " " +
                             settings::Translate(key::kHistorySeconds));
  }
  m_intervalList.SetCurSel(m_intervalIndex);
  m_rangeList.ResetContent();
  for (const char* k : {key::kHistoryLast10Minutes, key::kHistoryLastHour, key::kHistorySession}) {
    m_rangeList.AddString(settings::Translate(k));
  }
  m_rangeList.SetCurSel(static_cast<int>(m_range));
}

CPlotCtrl* CTemperatureHistoryWindow::Plot() {
  return m_plot.IsAttached() ? &m_plot : nullptr;
}

void CTemperatureHistoryWindow::Open(CDialog* owner) {
  if (!IsCreated()) {
    CreateModeless(owner);
  } else {
    OnInitDialog();
    ShowWindow(true);
    BringToFront();
  }
  m_open = true;
  m_resumed = true;
  m_nextDue = Clock::now();
  Schedule(0ms);
}

void CTemperatureHistoryWindow::OnCancel() {
  m_open = false;
  m_timer.Stop();
  CDialog::OnCancel();
}

std::chrono::seconds CTemperatureHistoryWindow::Interval() const {
  return std::chrono::seconds(history::kIntervals[m_intervalIndex]);
}

void CTemperatureHistoryWindow::Schedule(std::chrono::milliseconds delay) {
  if (!m_open) return;
  m_timer.Start(std::max(delay, 0ms), true);
}

void CTemperatureHistoryWindow::OnReadTimer() {
  // A reading is under way in a nested wait of the executor, or the window has been closed.
  if (!m_open || m_reading) return;
  if (!connection::IsConnected()) {
    m_resumed = true;
    UpdateView();
    Schedule(std::chrono::duration_cast<std::chrono::milliseconds>(kUnconnectedRetry));
    return;
  }
  const Clock::time_point now = Clock::now();
  if (now < m_nextDue) {
    Schedule(std::chrono::ceil<std::chrono::milliseconds>(m_nextDue - now));
    return;
  }
  // Never queue behind a command the user is waiting for, and never two readings at a time.
  if (board::CurrentExecutor().Busy()) {
    Schedule(kBusyRetry);
    return;
  }
  m_reading = true;
  const board::SteadyTime start = Clock::now();
  const board::WallTime wall = std::chrono::system_clock::now();
  const board::TemperatureReading reading = board::ReadTemperatures();
  m_reading = false;
  RecordReading(reading, start, wall);
  m_lastStart = start;
  // Steps count from the planned starts; a reading that overran its interval is followed at once.
  m_nextDue = std::max(m_nextDue + Interval(), Clock::now());
  Schedule(std::chrono::ceil<std::chrono::milliseconds>(m_nextDue - Clock::now()));
}

void CTemperatureHistoryWindow::RecordReading(const board::TemperatureReading& reading,
                                              board::SteadyTime steady, board::WallTime wall) {
  m_history.Add(steady, wall, reading, !m_resumed);
  m_resumed = false;
  m_note.clear();
  UpdateView();
}

void CTemperatureHistoryWindow::SetInterval(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(history::kIntervals))) return;
  m_intervalIndex = index;
  m_intervalList.SetCurSel(index);
  // The new interval counts from the last reading, so a longer one does not read at once.
  m_nextDue = m_lastStart ? *m_lastStart + Interval() : Clock::now();
  Schedule(0ms);
}

void CTemperatureHistoryWindow::SetRange(history::Range range) {
  if (static_cast<int>(range) < 0 || static_cast<int>(range) > 2) return;
  m_range = range;
  m_rangeList.SetCurSel(static_cast<int>(range));
  UpdateView();
}

void CTemperatureHistoryWindow::SetLimit(std::optional<int> degrees) {
  CheckDlgButton(history::kLimitCheck, degrees ? 1 : 0);
  if (degrees) m_limitEdit.SetWindowText(std::to_string(*degrees));
  UpdateView();
}

std::optional<int> CTemperatureHistoryWindow::LimitFromControls() const {
  if (IsDlgButtonChecked(history::kLimitCheck) != 1) return std::nullopt;
  const std::string text = m_limitEdit.GetWindowText();
  if (text.empty() || text.size() > 5) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return std::stoi(text);
}

void CTemperatureHistoryWindow::Clear() {
  m_history.Clear();
  m_resumed = true;
  m_note.clear();
  UpdateView();
}

bool CTemperatureHistoryWindow::SaveCsv(const std::string& path) {
  const bool saved = WriteWholeFile(path, m_history.Csv());
  m_note = settings::Translate(saved ? key::kHistorySaved : key::kHistorySaveFailed) + " " + path;
  UpdateView();
  return saved;
}

void CTemperatureHistoryWindow::OnSaveCsv() {
  const std::optional<std::string> path = AskSaveFileName(
      *this, settings::Translate(key::kHistorySaveTitle), "temperatures.csv", "CSV", "*.csv");
  if (path) SaveCsv(*path);
}

void CTemperatureHistoryWindow::UpdateView() {
  CPlotCtrl* plot = Plot();
  if (!plot) return;
  const std::optional<int> limit = LimitFromControls();

  std::vector<PlotLine> lines;
  for (const LineKind& line : kLines) {
    std::optional<int16_t> latest;
    if (!m_history.empty()) latest = m_history.back().Value(line.channel);
    lines.push_back({settings::Translate(line.key), line.rgb,
                     latest ? std::to_string(*latest) + kDegrees : "----"});
  }
  plot->SetLines(std::move(lines));
  plot->SetAxisUnits(settings::Translate(key::kHistoryMinutes), "°C");
  plot->SetEmptyText(settings::Translate(key::kHistoryNoReadings));
  plot->SetLimit(limit ? std::optional<double>(*limit) : std::nullopt);

  // x in minutes since the session's first reading; the window's span ends at the latest.
  double span = 0;
  switch (m_range) {
    case history::Range::kLast10Minutes:
      span = 10;
      break;
    case history::Range::kLastHour:
      span = 60;
      break;
    case history::Range::kSession:
      span = 0;
      break;
  }
  const double latest =
      m_history.empty() ? 0 : Minutes(m_history.back().steady - *m_history.origin());
  if (span > 0) {
    const double to = std::max(latest, span);
    plot->SetXRange(to - span, to);
  } else {
    plot->SetXRange(0, std::max(latest, 1.0));
  }

  // The status line: a passed limit first (it is what the window is watched for), then the
  // state of the reading.
  std::string status;
  if (limit && !m_history.empty()) {
    std::string passed;
    for (const LineKind& line : kLines) {
      if (line.channel == TemperatureChannel::kBoard) continue;
      const std::optional<int16_t> value = m_history.back().Value(line.channel);
      if (!value || *value <= *limit) continue;
      passed += (passed.empty() ? "" : ", ") + settings::Translate(line.key) + " " +
                std::to_string(*value) + kDegrees;
    }
    if (!passed.empty()) {
      status = settings::Translate(key::kHistoryOverLimit) + " (" + std::to_string(*limit) +
               kDegrees + "): " + passed;
    }
  }
  if (status.empty() && !m_note.empty()) status = m_note;
  if (status.empty() && m_open && !connection::IsConnected()) {
    status = settings::Translate(key::kHistoryNotConnected);
  }
  if (status.empty() && !m_history.empty() && !m_history.back().Reading().answered) {
    status = settings::Translate(key::kHistoryNoAnswer);
  }
  if (status.empty()) {
    status = settings::Translate(key::kHistoryReadings) + ": " + std::to_string(m_history.size());
  }
  SetDlgItemText(history::kStatus, status);
}

}  // namespace lumivex::ui
