// Shared set-up of the page tests: Qt's offscreen platform, a private virtual ports folder and
// working folder per test, a language file that translates every key to itself (so a recorded
// box reads as the keys the page chose), simulated boards, and the pages' one-shot flags.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/ui_pages/one_shot_flags.h"
#include "tools/boardsim/board.h"
#include "ui/framework/dialog.h"
#include "ui/framework/message_presenter.h"

namespace lumivex::ui::test {

using Bytes = std::vector<uint8_t>;

// Names a parameterized case after its "name" field.
struct CaseName {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& row) const {
    return row.param.name;
  }
};

// A fresh run as far as the pages know: every one-shot flag set again.
void ResetOneShotFlags();

// Runs the GUI thread's events until done() holds or timeout has passed; returns done().
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Runs the GUI thread's events for a while.
void Pump(std::chrono::milliseconds duration);

// The frames a board received with this command code (class byte high).
std::vector<Bytes> FramesWithCommand(const boardsim::SimulatedBoard& board, uint16_t command);

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A board registered on the lowest free COM number; fails the test when it cannot start.
  std::unique_ptr<boardsim::SimulatedBoard> StartBoard(boardsim::BoardOptions options = {});
  // Writes the settings file of the working folder.
  void WriteSettings(const std::string& text);
  std::string SettingsText() const;

  // A click by the user on a button or check box of page.
  static void Click(CDialog& page, int id);
  // Connects with the page's own connect button; the connection's boxes are checked, then
  // forgotten.
  void ConnectWith(CDialog& page);
  // Connects and disconnects without any page of the tests being involved.
  static void ConnectElsewhere();
  static void DisconnectElsewhere();

  // Every box of the test: text and title as keys.
  std::vector<std::pair<std::string, std::string>> Boxes();

  ScopedMessageRecorder recorder_;
  std::string workDir_;
};

}  // namespace lumivex::ui::test
