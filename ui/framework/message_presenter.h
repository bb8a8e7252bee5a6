// Message boxes: one replaceable presenter shows every box of the program. The default shows a
// modal box with an OK button only and no icon, owned by the reporting window; tests install a
// MessageRecorder instead. GUI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace lumivex::ui {

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // text and title are display texts (already translated). Returns when the box is dismissed.
  virtual void Show(QWidget& owner, const std::string& text, const std::string& title) = 0;
};

// The modal box itself.
class ModalMessagePresenter : public MessagePresenter {
 public:
  void Show(QWidget& owner, const std::string& text, const std::string& title) override;
};

struct RecordedMessage {
  const QWidget* owner = nullptr;
  std::string text;
  std::string title;
};

// Records every box instead of showing it.
class MessageRecorder : public MessagePresenter {
 public:
  void Show(QWidget& owner, const std::string& text, const std::string& title) override;
  const std::vector<RecordedMessage>& Messages() const { return m_messages; }
  void Clear() { m_messages.clear(); }

 private:
  std::vector<RecordedMessage> m_messages;
};

// Loads Qt's own translation for the panel's language, so that the standard buttons of the
// boxes speak it ("确定" rather than "OK" for Chinese). languageFilePath is the language file in
// use; its name (SimplifiedChinese, German, or a locale name such as de or zh_CN) chooses the
// translation, looked for beside the program ("translations/") and then where Qt keeps its
// own. Returns whether one was installed; English and unknown names install none. Once, after
// the QApplication exists and before any window.
bool LoadQtTranslation(const std::string& languageFilePath, const std::string& programDirectory);
// The Qt locale name for a language name ("SimplifiedChinese" gives "zh_CN"); empty for
// English and for names it does not know.
std::string QtLocaleForLanguage(const std::string& languageName);

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
