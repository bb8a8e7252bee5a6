#include "ui/framework/message_presenter.h"

#include <QMessageBox>
#include <QWidget>

namespace lumivex::ui {

namespace {
std::unique_ptr<MessagePresenter>& Installed() {
  static std::unique_ptr<MessagePresenter> presenter = std::make_unique<ModalMessagePresenter>();
  return presenter;
}
}  // namespace

void ModalMessagePresenter::Show(QWidget& owner, const std::string& text,
                                 const std::string& title) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok, owner.window());
  // Texts come from language files and the board's world; never interpret them as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void MessageRecorder::Show(QWidget& owner, const std::string& text, const std::string& title) {
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
