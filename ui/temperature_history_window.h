// The temperature history: a tool window beside the main window that reads the temperatures at
// a chosen interval while it is open and the board is connected, and plots them against time.
// Reads go through the board layer on the shared executor and never wait in line behind a
// command: when an exchange is under way, the reading waits for the next idle moment. GUI
// thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "board/temperature_history.h"
#include "ui/framework/dialog.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/plot_control.h"

namespace lumivex::ui {

namespace history {
constexpr int kPlot = 1201;
constexpr int kInterval = 1202;
constexpr int kRange = 1203;
constexpr int kLimitCheck = 1204;
constexpr int kLimitEdit = 1205;
constexpr int kSaveCsv = 1206;
constexpr int kClear = 1207;
constexpr int kStatus = 1208;

// The intervals offered, in seconds; the default is the second.
constexpr int kIntervals[] = {2, 5, 10, 30};
constexpr int kDefaultInterval = 1;
enum class Range { kLast10Minutes = 0, kLastHour = 1, kSession = 2 };

// Line colours, fixed so that a saved screenshot reads the same every time.
constexpr uint32_t kRedLine = 0xD62728;
constexpr uint32_t kGreenLine = 0x2CA02C;
constexpr uint32_t kBlueLine = 0x1F4FE0;
constexpr uint32_t kBoardLine = 0x505050;
}  // namespace history

class CTemperatureHistoryWindow : public CDialog {
 public:
  explicit CTemperatureHistoryWindow(CDialog* owner = nullptr);
  ~CTemperatureHistoryWindow() override;

  // Shows the window beside owner (building it the first time) and starts reading. The history
  // of the session stays from one opening to the next; the pause between shows as a gap.
  void Open(CDialog* owner);
  // Closing stops the reading; nothing keeps running.
  void OnCancel() override;
  void OnOK() override {}
  bool IsReading() const { return m_open; }

  bool OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  bool PreTranslateMessage(const InputMessage& message) override;

  // One turn of the reading timer: reads when the board is connected, idle and a reading is
  // due, else looks again a little later.
  void OnReadTimer();
  // What the timer does with a reading: keep it, redraw, say whether a limit is passed.
  void RecordReading(const board::TemperatureReading& reading, board::SteadyTime steady,
                     board::WallTime wall);

  // The log's CSV, written whole or not at all. False when the file cannot be written.
  bool SaveCsv(const std::string& path);
  void Clear();

  void SetInterval(int index);
  void SetRange(history::Range range);
  // Empty: no limit.
  void SetLimit(std::optional<int> degrees);

  const board::TemperatureHistory& History() const { return m_history; }
  // The plot control once the window is built, else null.
  CPlotCtrl* Plot();
  std::string StatusText() const { return GetDlgItemText(history::kStatus); }

 private:
  void FillChoices();
  void UpdateView();
  void Schedule(std::chrono::milliseconds delay);
  std::optional<int> LimitFromControls() const;
  std::chrono::seconds Interval() const;
  void OnSaveCsv();

  board::TemperatureHistory m_history;
  CTimer m_timer;
  CPlotCtrl m_plot;
  CEdit m_limitEdit;
  CComboBox m_intervalList;
  CComboBox m_rangeList;
  int m_intervalIndex = history::kDefaultInterval;
  history::Range m_range = history::Range::kLast10Minutes;
  bool m_open = false;
  bool m_reading = false;
  // The next reading starts a new stretch of line: reading was paused since the last one.
  bool m_resumed = true;
  std::optional<board::SteadyTime> m_lastStart;
  board::SteadyTime m_nextDue{};
  std::string m_note;  // a one-off word in the status line (saved, could not save)
  std::vector<board::PlotColumn> m_columnBuffer;
};

}  // namespace lumivex::ui
