// The Win32 carrier of the worker gate: a drain request is a call posted to the GUI thread's
// hidden message window.
#include "ui/framework/gui_call_carrier.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

namespace {

class Win32GuiCallCarrier : public GuiCallCarrier {
 public:
  explicit Win32GuiCallCarrier(std::weak_ptr<GuiCallGate::State> state)
      : m_state(std::move(state)), m_guiThread(GetCurrentThreadId()) {
    win32::MessageWindow();
  }

  bool OnGuiThread() const override { return GetCurrentThreadId() == m_guiThread; }

  bool RequestDrain() override {
    return win32::PostCall([state = m_state] {
      // A gate that has gone meanwhile has nothing left to run.
      if (const std::shared_ptr<GuiCallGate::State> alive = state.lock()) DrainGuiCalls(*alive);
    });
  }

 private:
  std::weak_ptr<GuiCallGate::State> m_state;
  DWORD m_guiThread;
};

}  // namespace

std::unique_ptr<GuiCallCarrier> MakeGuiCallCarrier(std::weak_ptr<GuiCallGate::State> state) {
  return std::make_unique<Win32GuiCallCarrier>(std::move(state));
}

}  // namespace lumivex::ui
