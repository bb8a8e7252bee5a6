// The panel as the program runs it: the main window with the worker installed as the board
// layer's executor, against simulated boards.
#pragma once

#include <QString>
#include <memory>
#include <string>

#include "board/executor.h"
#include "settings/language.h"
#include "tests/ui_pages/page_test_support.h"
#include "ui/framework/command_worker.h"
#include "ui/main_dialog.h"

namespace lumivex::ui::test {

class PanelTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    board::SetExecutor(&worker_);
  }
  void TearDown() override {
    panel_.reset();
    board::SetExecutor(nullptr);
    PageTest::TearDown();
  }

  // The main window with the settings given, shown.
  CMainDialog& OpenPanel(const std::string& settings = "") {
    if (!settings.empty()) WriteSettings(settings);
    panel_ = std::make_unique<CMainDialog>();
    panel_->AttachWorker(&worker_);
    EXPECT_TRUE(panel_->CreateAsWindow());
    return *panel_;
  }

  static QString Tr(const char* key) { return QString::fromStdString(settings::Translate(key)); }

  CommandWorker worker_;
  std::unique_ptr<CMainDialog> panel_;
};

}  // namespace lumivex::ui::test
