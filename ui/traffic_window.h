// The serial traffic window: every frame that crosses the link while it is open, one line each,
// with milliseconds since the connection was made, direction, hex bytes, printable ASCII and
// the command's name. Copy, Save as text, Clear and Pause; the last kMaxLines lines are kept.
//
// Thread safety: the window lives on the GUI thread. The link reports bytes on whichever thread
// exchanges them; TrafficLog formats them there and the window takes them in batches a few
// times a second. The link trace is installed only while the window is open: closed, it costs
// the link one atomic load per frame.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transport/link.h"
#include "ui/framework/dialog.h"
#include "ui/framework/event_loop.h"

namespace lumivex::ui {

namespace traffic {
constexpr int kView = 1301;
constexpr int kCopy = 1302;
constexpr int kSave = 1303;
constexpr int kClear = 1304;
constexpr int kPause = 1305;
}  // namespace traffic

// The command a request frame carries ("ReadTemperatures"), or its code in hex ("0x4499") for
// one the board does not know; empty for bytes that are not a request frame.
std::string CommandName(const uint8_t* bytes, uint32_t count);

// One line of the window: "  1234 ms  TX  E0 05 44 05 D2   |..D..|  ReadTemperatures".
std::string TrafficLine(int64_t milliseconds, transport::LinkDirection direction,
                        const uint8_t* bytes, uint32_t count, const std::string& name);

// Turns link reports into lines. Any thread may Record; Take on one.
class TrafficLog {
 public:
  using Clock = std::chrono::steady_clock;
  TrafficLog();
  void Record(transport::LinkDirection direction, const uint8_t* bytes, uint32_t count);
  // Times count from origin: the moment the connection was made. Until one is given, and
  // during a search, from the last greeting sent.
  void SetOrigin(Clock::time_point origin);
  // The lines recorded since the last Take, oldest first (at most kMaxPending: a burst beyond
  // what the window keeps is cut from its oldest end).
  std::vector<std::string> Take();

  static constexpr std::size_t kMaxPending = 10000;

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_pending;
  Clock::time_point m_origin;
  std::string m_lastRequest;
};

class CTrafficWindow : public CDialog {
 public:
  static constexpr int kMaxLines = 10000;
  static constexpr std::chrono::milliseconds kBatchInterval{100};

  explicit CTrafficWindow(CDialog* owner = nullptr);
  ~CTrafficWindow() override;

  // Shows the window beside its owner (building it the first time), its captions translated
  // again (the language file may have changed).
  void Open();
  // Translates the captions again.
  void Translate();
  // Every line shown, oldest first.
  std::vector<std::string> Lines() const;
  bool IsPaused() const;
  // Takes the lines recorded so far at once instead of at the next batch.
  void TakeNow();

  // The buttons, for tests.
  NativeWindow CopyButton() const { return GetDlgItem(traffic::kCopy); }
  NativeWindow SaveButton() const { return GetDlgItem(traffic::kSave); }
  NativeWindow ClearButton() const { return GetDlgItem(traffic::kClear); }
  NativeWindow PauseButton() const { return GetDlgItem(traffic::kPause); }

  // Writes every line shown to path, one per line, whole or not at all; false when the file
  // could not be written.
  bool SaveTo(const std::string& path) const;

  bool OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  bool PreTranslateMessage(const InputMessage& message) override;
  // Neither key closes the window; its close button hides it.
  void OnOK() override {}
  void OnShowWindow(bool shown) override;
  void OnSize(Size client) override;

 private:
  void Install();
  void Uninstall();
  // Times count from the connection the window finds.
  void SyncOrigin();
  void Append(const std::vector<std::string>& lines);
  void OnCopy();
  void OnSave();
  void OnClear();
  void OnPause();

  std::shared_ptr<TrafficLog> m_log;
  CTextView m_view;
  CTimer m_batch;
  // Where the controls sit in the template's size; a larger window moves them by its growth.
  Size m_templateSize;
  std::vector<std::pair<int, Rect>> m_templateRects;
  // Lines that arrived while paused; shown when the pause ends.
  std::vector<std::string> m_held;
  bool m_installed = false;
};

}  // namespace lumivex::ui
