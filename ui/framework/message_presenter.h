// Message boxes: one replaceable presenter shows every box of the program. The default shows a
// modal box with an OK button only and no icon, owned by the reporting window (MessageBoxW with
// MB_OK under Win32); tests install a MessageRecorder instead. GUI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace lumivex::ui {

class CDialog;

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // text and title are display texts (already translated). Returns when the box is dismissed.
  virtual void Show(CDialog& owner, const std::string& text, const std::string& title) = 0;
};

// The modal box itself.
class ModalMessagePresenter : public MessagePresenter {
 public:
  void Show(CDialog& owner, const std::string& text, const std::string& title) override;
};

struct RecordedMessage {
  const CDialog* owner = nullptr;
  std::string text;
  std::string title;
};

// Records every box instead of showing it.
class MessageRecorder : public MessagePresenter {
 public:
  void Show(CDialog& owner, const std::string& text, const std::string& title) override;
  const std::vector<RecordedMessage>& Messages() const { return m_messages; }
  void Clear() { m_messages.clear(); }

 private:
  std::vector<RecordedMessage> m_messages;
};

// The presenter in use (the modal one until replaced).
MessagePresenter& CurrentMessagePresenter();
// Installs presenter (nullptr restores the modal one); returns the one it replaces.
std::unique_ptr<MessagePresenter> SetMessagePresenter(std::unique_ptr<MessagePresenter> presenter);

// Installs a recorder for the lifetime of the object and restores the previous presenter after.
class ScopedMessageRecorder {
 public:
  ScopedMessageRecorder();
  ~ScopedMessageRecorder();
  ScopedMessageRecorder(const ScopedMessageRecorder&) = delete;
  ScopedMessageRecorder& operator=(const ScopedMessageRecorder&) = delete;

  MessageRecorder& operator*() { return *m_recorder; }
  MessageRecorder* operator->() { return m_recorder; }

 private:
  MessageRecorder* m_recorder;
  std::unique_ptr<MessagePresenter> m_previous;
};

}  // namespace lumivex::ui
