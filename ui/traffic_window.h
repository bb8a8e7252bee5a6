// The serial traffic window: every frame that crosses the link while it is open, one line each,
// with milliseconds since the connection was made, direction, hex bytes, printable ASCII and
// the command's name. Copy, Save as text, Clear and Pause; the last kMaxLines lines are kept.
//
// Thread safety: the window lives on the GUI thread. The link reports bytes on whichever thread
// exchanges them; TrafficLog formats them there and the window takes them in batches a few
// times a second. The link trace is installed only while the window is open: closed, it costs
// the link one atomic load per frame.
#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transport/link.h"

class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace lumivex::ui {

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
  std::vector<QString> Take();

  static constexpr std::size_t kMaxPending = 10000;

 private:
  std::mutex m_mutex;
  std::vector<QString> m_pending;
  Clock::time_point m_origin;
  std::string m_lastRequest;
};

class CTrafficWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kMaxLines = 10000;
  static constexpr std::chrono::milliseconds kBatchInterval{100};

  explicit CTrafficWindow(QWidget* parent = nullptr);
  ~CTrafficWindow() override;

  // Translates the captions again (the language file may have changed).
  void Translate();
  // Every line shown, oldest first.
  QStringList Lines() const;
  bool IsPaused() const;
  // Takes the lines recorded so far at once instead of at the next batch.
  void TakeNow();

  // The buttons, for tests and accessibility names.
  QPushButton* CopyButton() const { return m_copy; }
  QPushButton* SaveButton() const { return m_save; }
  QPushButton* ClearButton() const { return m_clear; }
  QPushButton* PauseButton() const { return m_pause; }

  // Writes every line shown to path, one per line; false when the file could not be written.
  bool SaveTo(const QString& path) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Install();
  void Uninstall();
  // Times count from the connection the window finds.
  void SyncOrigin();
  void Append(const std::vector<QString>& lines);
  void OnCopy();
  void OnSave();
  void OnClear();
  void OnPause(bool paused);

  std::shared_ptr<TrafficLog> m_log;
  QPlainTextEdit* m_view;
  QPushButton* m_copy;
  QPushButton* m_save;
  QPushButton* m_clear;
  QPushButton* m_pause;
  QTimer* m_batch;
  // Lines that arrived while paused; shown when the pause ends.
  std::vector<QString> m_held;
  bool m_installed = false;
};

}  // namespace lumivex::ui
