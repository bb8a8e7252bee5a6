// What the panel asks of the desktop beside its dialogs: preparing the toolkit, the clipboard,
// and the file chooser. Backend: Qt (QApplication, QClipboard, QFileDialog) or Win32
// (comctl32 initialisation, the clipboard as CF_UNICODETEXT, GetSaveFileNameW). GUI thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace lumivex::ui {

class CDialog;

// Runs the panel: prepares the toolkit (the dialog font, the application icon, the standard
// buttons in the panel's language once languageFile is known), then run(); returns the
// program's exit status. argc/argv are the program's own.
int RunApplication(int argc, char** argv, const std::function<void()>& run);
// After the language has been chosen: the toolkit's standard texts (the boxes' OK button) in
// the panel's language, where the toolkit has them. languageFilePath is the language file in
// use; its name (SimplifiedChinese, German, or a locale name such as de or zh_CN) chooses.
// Returns whether a translation was installed.
bool LoadToolkitTranslation(const std::string& languageFilePath,
                            const std::string& programDirectory);

void SetClipboardText(const std::string& text);

// Asks where to save: title and suggested file name; filterName and pattern describe the files
// offered ("CSV", "*.csv"). Empty when the user cancelled.
std::optional<std::string> AskSaveFileName(CDialog& owner, const std::string& title,
                                           const std::string& suggestedName,
                                           const std::string& filterName,
                                           const std::string& pattern);

}  // namespace lumivex::ui
