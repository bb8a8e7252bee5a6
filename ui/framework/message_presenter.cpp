#include "ui/framework/message_presenter.h"

#include <utility>

namespace lumivex::ui {

namespace {
std::unique_ptr<MessagePresenter>& Installed() {
  static std::unique_ptr<MessagePresenter> presenter = std::make_unique<ModalMessagePresenter>();
  return presenter;
}
}  // namespace

void MessageRecorder::Show(CDialog& owner, const std::string& text, const std::string& title) {
  m_messages.push_back(RecordedMessage{&owner, text, title});
}

MessagePresenter& CurrentMessagePresenter() {
  return *Installed();
}

std::unique_ptr<MessagePresenter> SetMessagePresenter(std::unique_ptr<MessagePresenter> presenter) {
  if (!presenter) presenter = std::make_unique<ModalMessagePresenter>();
  std::swap(Installed(), presenter);
  return presenter;
}

ScopedMessageRecorder::ScopedMessageRecorder() {
  auto recorder = std::make_unique<MessageRecorder>();
  m_recorder = recorder.get();
  m_previous = SetMessagePresenter(std::move(recorder));
}

ScopedMessageRecorder::~ScopedMessageRecorder() {
  SetMessagePresenter(std::move(m_previous));
}

}  // namespace lumivex::ui
