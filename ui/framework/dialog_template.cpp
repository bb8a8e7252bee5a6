#include "ui/framework/dialog_template.h"

#include <charconv>
#include <map>
#include <memory>
#include <utility>

namespace lumivex::ui {

// The texts of resources/templates/*.dlg, written into a source file when the program is built
// (dialog_templates.cpp in the build folder), so both backends build their dialogs from the
// same files and a program never runs without its windows.
namespace embedded {
struct TemplateText {
  int id;
  const char* text;
  std::size_t size;
};
extern const TemplateText kTemplateTexts[];
extern const std::size_t kTemplateTextCount;
}  // namespace embedded

namespace {

const std::map<std::string_view, ControlKind>& KindNames() {
  static const std::map<std::string_view, ControlKind> names = {
      {"PUSHBUTTON", ControlKind::kPushButton},
      {"CHECKBOX", ControlKind::kCheckBox},
      {"RADIOBUTTON", ControlKind::kRadioButton},
      {"GROUPBOX", ControlKind::kGroupBox},
      {"LTEXT", ControlKind::kLabel},
      {"EDITTEXT", ControlKind::kEdit},
      {"COMBOBOX", ControlKind::kComboBox},
      {"SLIDER", ControlKind::kSlider},
      {"TABCONTROL", ControlKind::kTabControl},
      {"ICON", ControlKind::kIcon},
      {"PLOT", ControlKind::kPlot},
      {"TEXTVIEW", ControlKind::kTextView},
  };
  return names;
}

const std::map<std::string_view, uint32_t>& StyleNames() {
  static const std::map<std::string_view, uint32_t> names = {
      {"HIDDEN", style::kHidden},     {"DISABLED", style::kDisabled}, {"GROUP", style::kGroup},
      {"NUMBER", style::kNumber},     {"CENTER", style::kCentred},    {"RIGHT", style::kRight},
      {"LEFTTEXT", style::kTextLeft}, {"NOTICKS", style::kNoTicks},   {"DEFAULT", style::kDefault},
      {"PUSHLIKE", style::kPushLike},
  };
  return names;
}

// Splits a line into words; a quoted word keeps its blanks. Returns false on an unterminated
// quote or an unknown escape.
bool SplitWords(std::string_view line, std::vector<std::pair<std::string, bool>>& words) {
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i >= line.size() || (line[i] != '"' && line[i] != '\\')) return false;
          c = line[i++];
        }
        word += c;
      }
      if (!closed) return false;
      words.emplace_back(std::move(word), true);
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
      words.emplace_back(std::move(word), false);
    }
  }
  return true;
}

bool ToInt(const std::pair<std::string, bool>& word, int& out) {
  if (word.second) return false;
  const char* first = word.first.data();
  const char* last = first + word.first.size();
  auto [end, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && end == last;
}

}  // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const {
  if (controlId == kStaticId) return nullptr;
  for (const ControlTemplate& c : controls) {
    if (c.id == controlId) return &c;
  }
  return nullptr;
}

std::optional<DialogTemplate> ParseDialogTemplate(std::string_view text, std::string* error) {
  DialogTemplate result;
  bool haveHeader = false;
  int lineNumber = 0;
  auto fail = [&](const std::string& reason) -> std::optional<DialogTemplate> {
    if (error) *error = "line " + std::to_string(lineNumber) + ": " + reason;
    return std::nullopt;
  };
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::vector<std::pair<std::string, bool>> words;
    if (!SplitWords(line, words)) return fail("unterminated caption");
    if (words.empty() || (!words[0].second && words[0].first[0] == '#')) continue;

    if (words[0].first == "DIALOG") {
      if (haveHeader) return fail("second DIALOG line");
      if (words.size() != 5 || !words[4].second)
        return fail("expected DIALOG id width height \"caption\"");
      if (!ToInt(words[1], result.id) || !ToInt(words[2], result.width) ||
          !ToInt(words[3], result.height) || result.width <= 0 || result.height <= 0) {
        return fail("bad DIALOG numbers");
      }
      result.caption = words[4].first;
      haveHeader = true;
      continue;
    }
    if (!haveHeader) return fail("control before the DIALOG line");

    auto kind = KindNames().find(words[0].first);
    if (words[0].second || kind == KindNames().end())
      return fail("unknown control kind " + words[0].first);
    if (words.size() < 7 || !words[2].second) {
      return fail("expected KIND id \"caption\" x y width height [STYLE...]");
    }
    ControlTemplate control;
    control.kind = kind->second;
    control.caption = words[2].first;
    if (!ToInt(words[1], control.id) || !ToInt(words[3], control.x) ||
        !ToInt(words[4], control.y) || !ToInt(words[5], control.width) ||
        !ToInt(words[6], control.height)) {
      return fail("bad control numbers");
    }
    if (control.id < kStaticId || control.id > 0xFFFF) return fail("bad control id");
    if (control.width < 0 || control.height < 0) return fail("negative control size");
    if (control.id != kStaticId && result.Find(control.id)) {
      return fail("control id " + std::to_string(control.id) + " used twice");
    }
    for (std::size_t i = 7; i < words.size(); ++i) {
      auto s = StyleNames().find(words[i].first);
      if (words[i].second || s == StyleNames().end())
        return fail("unknown style " + words[i].first);
      control.styles |= s->second;
    }
    result.controls.push_back(std::move(control));
  }
  if (!haveHeader) return fail("no DIALOG line");
  return result;
}

const DialogTemplate* FindDialogTemplate(int id) {
  static std::map<int, std::unique_ptr<DialogTemplate>> cache;
  auto it = cache.find(id);
  if (it != cache.end()) return it->second.get();

  std::unique_ptr<DialogTemplate> found;
  for (std::size_t i = 0; i < embedded::kTemplateTextCount; ++i) {
    const embedded::TemplateText& text = embedded::kTemplateTexts[i];
    if (text.id != id) continue;
    auto parsed = ParseDialogTemplate(std::string_view(text.text, text.size));
    if (parsed && parsed->id == id) found = std::make_unique<DialogTemplate>(std::move(*parsed));
    break;
  }
  const DialogTemplate* result = found.get();
  cache.emplace(id, std::move(found));
  return result;
}

}  // namespace lumivex::ui
