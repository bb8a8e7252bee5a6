// lumivex-panel-driver: drives a running lumivex.exe by control id, as an operator would, from a
// script of steps, and checks what the panel shows and what the board received.
//
//   lumivex-panel-driver SCRIPT [--language FILE.lang] [--board-log FILE] [--shots FOLDER]
//                               [--lang-tag NAME]
//
// One step per line; blank lines and lines starting with # are skipped. Words are separated by
// blanks; "double quotes" keep blanks in a word. A word @Key is the language file's text for Key
// (the part after the first "." when the file has none), so one script serves every language.
//
//   window TITLE                 wait for the main window so titled; it becomes the one driven
//   tabs T1 T2 ...               the tab control's titles, in order
//   tab TITLE                    select that tab by keyboard (arrow keys to the tab control)
//   click ID                     press button ID of the page shown
//   check ID 0|1                 click check box ID until it is in that state
//   set ID TEXT                  put TEXT into edit box ID
//   select ID INDEX              choose entry INDEX of drop-down list ID
//   text ID TEXT                 wait until control ID reads TEXT
//   enabled ID 0|1               wait until control ID is enabled (1) or disabled (0)
//   box TITLE TEXT               wait for a message box, check its title and text, press OK
//   frames [HEX...|HEX...]       wait for the board to receive exactly these frames next
//   shot NAME                    capture the main window to FOLDER/windows-<tag>-<NAME>.bmp
//   close                        close the main window as its close box does
//
// Waits end as soon as their condition holds; their bounds are generous (the board's slowest
// exchange, a silent temperature read, takes about 7 s under Wine). Every step prints one line;
// the first failed check ends the run with exit status 1 and a line saying what differed.
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kWindowWait = 60s;
constexpr auto kStepWait = 40s;
constexpr UINT kMessageTimeoutMs = 10000;
// The text static and the OK button of a message box.
constexpr int kBoxTextId = 0xFFFF;

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// Output goes out as UTF-8 bytes whatever the console's code page.
void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

struct Failure {
  std::string what;
};

[[noreturn]] void Fail(const std::string& what) {
  throw Failure{what};
}

// Polls until done() holds or the bound has passed; true when it held.
template <typename Done>
bool WaitFor(Done done, Clock::duration bound) {
  const auto end = Clock::now() + bound;
  for (;;) {
    if (done()) return true;
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

// The text of a window of another process: WM_GETTEXT is carried across by the system.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                           &length))
    Fail("the panel does not answer WM_GETTEXTLENGTH");
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied);
  text.resize(copied);
  return text;
}

LRESULT Send(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, w, l, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result))
    Fail("the panel does not answer message " + std::to_string(message));
  return static_cast<LRESULT>(result);
}

// Memory in the panel's process, for the tab control's messages that carry a pointer.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND owner, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process_) Fail("cannot open the panel's process: error " + std::to_string(GetLastError()));
    address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!address_) Fail("cannot reserve memory in the panel's process");
  }
  ~RemoteBuffer() {
    VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  void* address() const { return address_; }
  void Write(const void* data, size_t size, size_t offset = 0) {
    SIZE_T done = 0;
    if (!WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &done))
      Fail("cannot write the panel's memory");
  }
  void Read(void* data, size_t size, size_t offset = 0) {
    SIZE_T done = 0;
    if (!ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &done))
      Fail("cannot read the panel's memory");
  }

 private:
  size_t size_;
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
};

// The language file's texts, as the panel would show them.
class Language {
 public:
  void Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("cannot read the language file " + path);
    std::string line;
    bool inStrings = false;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
      std::string trimmed = Trim(line);
      if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
      if (trimmed[0] == '[') {
        inStrings = trimmed == "[String]";
        continue;
      }
      size_t eq = trimmed.find('=');
      if (!inStrings || eq == std::string::npos) continue;
      texts_.emplace(Trim(trimmed.substr(0, eq)), Trim(trimmed.substr(eq + 1)));
    }
  }
  std::string Text(const std::string& key) const {
    auto it = texts_.find(key);
    if (it != texts_.end()) return it->second;
    size_t dot = key.find('.');
    return dot == std::string::npos ? key : key.substr(dot + 1);
  }

 private:
  static std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
  }
  std::map<std::string, std::string> texts_;
};

// The frames the board reports as received, in its trace's words: "<ms> ms recv E0 05 ...".
class BoardLog {
 public:
  void Open(const std::string& path) { path_ = path; }
  bool open() const { return !path_.empty(); }

  // Frames received since the last call that took them.
  std::vector<std::string> Fresh() {
    std::vector<std::string> all = Received();
    return {all.begin() + static_cast<long>(std::min(taken_, all.size())), all.end()};
  }
  void Take(size_t n) { taken_ += n; }

 private:
  std::vector<std::string> Received() const {
    std::ifstream in(path_, std::ios::binary);
    std::vector<std::string> frames;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t at = line.find(" ms recv ");
      if (at != std::string::npos) frames.push_back(line.substr(at + 9));
    }
    return frames;
  }
  std::string path_;
  size_t taken_ = 0;
};

struct Options {
  std::string script;
  std::string language;
  std::string boardLog;
  std::string shots = ".";
  std::string tag = "en";
};

class Driver {
 public:
  explicit Driver(const Options& options) : options_(options) {
    if (!options.language.empty()) language_.Load(options.language);
    if (!options.boardLog.empty()) board_.Open(options.boardLog);
  }

  void Run(std::istream& script) {
    std::string line;
    int number = 0;
    while (std::getline(script, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos ||
          line[line.find_first_not_of(" \t")] == '#')
        continue;
      try {
        Print("step " + std::to_string(number) + ": " + line);
        Step(Split(line, number));
      } catch (const Failure& failure) {
        Print("FAILED at line " + std::to_string(number) + " (" + line + "): " + failure.what);
        throw;
      }
    }
  }

 private:
  std::vector<std::string> Split(const std::string& line, int number) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
      if (line[i] == ' ' || line[i] == '\t') {
        ++i;
        continue;
      }
      std::string word;
      bool key = false;
      if (line[i] == '"') {
        size_t end = line.find('"', i + 1);
        if (end == std::string::npos) Fail("line " + std::to_string(number) + ": unmatched quote");
        word = line.substr(i + 1, end - i - 1);
        i = end + 1;
      } else {
        size_t end = line.find_first_of(" \t", i);
        if (end == std::string::npos) end = line.size();
        word = line.substr(i, end - i);
        key = word.size() > 1 && word[0] == '@';
        i = end;
      }
      words.push_back(key ? language_.Text(word.substr(1)) : word);
    }
    return words;
  }

  static int Number(const std::string& word) {
    char* end = nullptr;
    long n = std::strtol(word.c_str(), &end, 0);
    if (word.empty() || *end) Fail("not a number: " + word);
    return static_cast<int>(n);
  }

  void Need(const std::vector<std::string>& words, size_t n) {
    if (words.size() != n) Fail(words[0] + " takes " + std::to_string(n - 1) + " words");
  }

  void Step(const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    // An operator acts only on a window without a message box in front of it: a box still open
    // here is one the script did not expect.
    static const char* const kActions[] = {"tab", "click", "check", "set", "select", "close"};
    for (const char* action : kActions) {
      if (verb != action) continue;
      NeedMain();
      if (HWND box = FindBox()) Fail("an unexpected message box is open: " + Describe(box));
    }
    if (verb == "window") {
      Need(w, 2);
      FindMain(Widen(w[1]));
    } else if (verb == "tabs") {
      CheckTabs({w.begin() + 1, w.end()});
    } else if (verb == "tab") {
      Need(w, 2);
      SelectTab(w[1]);
    } else if (verb == "click") {
      Need(w, 2);
      Click(Control(Number(w[1])));
    } else if (verb == "check") {
      Need(w, 3);
      SetCheck(Number(w[1]), Number(w[2]));
    } else if (verb == "set") {
      Need(w, 3);
      HWND edit = Control(Number(w[1]));
      Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(w[2]).c_str()));
      ExpectText(Number(w[1]), w[2]);
    } else if (verb == "select") {
      Need(w, 3);
      SelectEntry(Number(w[1]), Number(w[2]));
    } else if (verb == "text") {
      Need(w, 3);
      ExpectText(Number(w[1]), w[2]);
    } else if (verb == "enabled") {
      Need(w, 3);
      HWND control = Control(Number(w[1]));
      bool want = Number(w[2]) != 0;
      if (!WaitFor([&] { return (IsWindowEnabled(control) != FALSE) == want; }, kStepWait))
        Fail("control " + w[1] + " is still " + (want ? "disabled" : "enabled"));
    } else if (verb == "box") {
      Need(w, 3);
      Box(w[1], w[2]);
    } else if (verb == "frames") {
      Frames({w.begin() + 1, w.end()});
    } else if (verb == "shot") {
      Need(w, 2);
      Shot(w[1]);
    } else if (verb == "close") {
      Need(w, 1);
      PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
      if (!WaitFor([&] { return !IsWindow(main_); }, kWindowWait))
        Fail("the main window did not close");
    } else {
      Fail("unknown step " + verb);
    }
  }

  void FindMain(const std::wstring& title) {
    if (!WaitFor(
            [&] {
              main_ = FindWindowW(nullptr, title.c_str());
              return main_ && IsWindowVisible(main_);
            },
            kWindowWait)) {
      HWND any = GetTopWindow(nullptr);
      std::string seen;
      for (HWND h = any; h; h = GetWindow(h, GW_HWNDNEXT))
        if (IsWindowVisible(h)) seen += " [" + Narrow(TextOf(h)) + "]";
      Fail("no visible window titled " + Narrow(title) + "; visible:" + seen);
    }
    GetWindowThreadProcessId(main_, &pid_);
    tabs_ = nullptr;
    EnumChildWindows(
        main_,
        [](HWND h, LPARAM self) -> BOOL {
          if (ClassOf(h) == WC_TABCONTROLW) {
            reinterpret_cast<Driver*>(self)->tabs_ = h;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    if (!tabs_) Fail("the main window has no " + Narrow(WC_TABCONTROLW));
    RECT r{};
    GetWindowRect(main_, &r);
    Print("  found " + Narrow(ClassOf(main_)) + " \"" + Narrow(TextOf(main_)) + "\", " +
          std::to_string(r.right - r.left) + " x " + std::to_string(r.bottom - r.top) +
          " pixels, tab control id " + std::to_string(GetDlgCtrlID(tabs_)));
  }

  void NeedMain() const {
    if (!main_ || !IsWindow(main_)) Fail("no main window (a window step comes first)");
  }

  std::vector<std::string> TabTitles() {
    NeedMain();
    int count = static_cast<int>(Send(tabs_, TCM_GETITEMCOUNT, 0, 0));
    std::vector<std::string> titles;
    constexpr size_t kChars = 256;
    RemoteBuffer remote(tabs_, sizeof(TCITEMW) + kChars * sizeof(wchar_t));
    for (int i = 0; i < count; ++i) {
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText =
          reinterpret_cast<wchar_t*>(static_cast<char*>(remote.address()) + sizeof(TCITEMW));
      item.cchTextMax = kChars;
      wchar_t empty[kChars] = {};
      remote.Write(&item, sizeof item);
      remote.Write(empty, sizeof empty, sizeof(TCITEMW));
      if (!Send(tabs_, TCM_GETITEMW, static_cast<WPARAM>(i),
                reinterpret_cast<LPARAM>(remote.address())))
        Fail("TCM_GETITEMW failed for tab " + std::to_string(i));
      wchar_t text[kChars] = {};
      remote.Read(text, sizeof text - sizeof(wchar_t), sizeof(TCITEMW));
      titles.push_back(Narrow(text));
    }
    return titles;
  }

  static std::string Join(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : " | ") + w;
    return out;
  }

  void CheckTabs(const std::vector<std::string>& want) {
    std::vector<std::string> have = TabTitles();
    if (have != want) Fail("tabs are [" + Join(have) + "], expected [" + Join(want) + "]");
    Print("  tabs: " + Join(have));
  }

  void SelectTab(const std::string& title) {
    std::vector<std::string> titles = TabTitles();
    int target = -1;
    for (size_t i = 0; i < titles.size(); ++i)
      if (titles[i] == title) target = static_cast<int>(i);
    if (target < 0) Fail("no tab titled " + title + " among [" + Join(titles) + "]");
    // Arrow keys to the tab control, one at a time, each awaited: the tab control moves its
    // selection and tells the main window, which shows the page.
    for (int guard = 0; guard < 16; ++guard) {
      int current = static_cast<int>(Send(tabs_, TCM_GETCURSEL, 0, 0));
      if (current == target) break;
      WPARAM key = current < target ? VK_RIGHT : VK_LEFT;
      PostMessageW(tabs_, WM_KEYDOWN, key, 1);
      PostMessageW(tabs_, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
      if (!WaitFor([&] { return Send(tabs_, TCM_GETCURSEL, 0, 0) != current; }, kStepWait))
        Fail("the tab control did not move from tab " + std::to_string(current));
    }
    if (Send(tabs_, TCM_GETCURSEL, 0, 0) != target) Fail("could not reach tab " + title);
    if (!WaitFor([&] { return Page() != nullptr; }, kStepWait))
      Fail("no page is shown for tab " + title);
    Print("  page shown: tab " + std::to_string(target));
  }

  // The visible page: a child dialog of the main window (or of its tab control) that is shown.
  HWND Page() {
    struct Search {
      HWND page = nullptr;
    } search;
    EnumChildWindows(
        main_,
        [](HWND h, LPARAM p) -> BOOL {
          // Every page has the connect button; other child dialogs (a status line) do not.
          if (ClassOf(h) == L"#32770" && IsWindowVisible(h) && GetDlgItem(h, 1001)) {
            reinterpret_cast<Search*>(p)->page = h;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.page;
  }

  // Control id on the page shown (ids repeat across pages: every page has 1001).
  HWND Control(int id) {
    NeedMain();
    HWND page = Page();
    if (!page) Fail("no page is shown");
    HWND control = GetDlgItem(page, id);
    if (!control) Fail("the page shown has no control " + std::to_string(id));
    return control;
  }

  void Click(HWND button) {
    const std::string id = std::to_string(GetDlgCtrlID(button));
    if (!IsWindowVisible(button)) Fail("control " + id + " is hidden");
    if (!IsWindowEnabled(button)) Fail("control " + id + " is disabled");
    // Sent from a thread of its own, which returns when the panel's handler does: the step ends
    // when the handler has run, or when it waits in a message box of its own.
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([button, done] {
      SendMessageW(button, BM_CLICK, 0, 0);
      *done = true;
    }).detach();
    if (!WaitFor([&] { return *done || FindBox() != nullptr; }, kStepWait))
      Fail("the click on " + id + " is still being handled");
  }

  void SetCheck(int id, int want) {
    HWND box = Control(id);
    for (int tries = 0; tries < 2 && Send(box, BM_GETCHECK, 0, 0) != want; ++tries) {
      LRESULT before = Send(box, BM_GETCHECK, 0, 0);
      Click(box);
      if (!WaitFor([&] { return Send(box, BM_GETCHECK, 0, 0) != before; }, kStepWait))
        Fail("check box " + std::to_string(id) + " does not change when clicked");
    }
    if (Send(box, BM_GETCHECK, 0, 0) != want)
      Fail("check box " + std::to_string(id) + " is not in state " + std::to_string(want));
  }

  void SelectEntry(int id, int index) {
    HWND list = Control(id);
    int count = static_cast<int>(Send(list, CB_GETCOUNT, 0, 0));
    if (index >= count)
      Fail("list " + std::to_string(id) + " has " + std::to_string(count) + " entries");
    Send(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // CB_SETCURSEL does not notify; the operator's choice does.
    PostMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    if (Send(list, CB_GETCURSEL, 0, 0) != index) Fail("list " + std::to_string(id) + " refused");
    Print("  selected \"" + Narrow(TextOf(list)) + "\"");
  }

  void ExpectText(int id, const std::string& want) {
    HWND control = Control(id);
    std::string have;
    if (!WaitFor([&] { return (have = Narrow(TextOf(control))) == want; }, kStepWait))
      Fail("control " + std::to_string(id) + " reads \"" + have + "\", expected \"" + want + "\"");
  }

  // A message box of the panel: a top-level dialog of its process other than the main window,
  // with the box's text static.
  HWND FindBox() {
    struct Search {
      DWORD pid;
      HWND main;
      HWND box = nullptr;
    } search{pid_, main_};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
          auto* s = reinterpret_cast<Search*>(p);
          DWORD pid = 0;
          GetWindowThreadProcessId(h, &pid);
          if (pid == s->pid && h != s->main && IsWindowVisible(h) && ClassOf(h) == L"#32770" &&
              GetDlgItem(h, kBoxTextId)) {
            s->box = h;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.box;
  }

  std::string Describe(HWND box) {
    return "\"" + Narrow(TextOf(box)) + "\": \"" + Narrow(TextOf(GetDlgItem(box, kBoxTextId))) +
           "\"";
  }

  void Box(const std::string& title, const std::string& text) {
    NeedMain();
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = FindBox()) != nullptr; }, kStepWait))
      Fail("no message box appeared");
    // The box fills in its text as it is created; give it the moment.
    std::string haveTitle, haveText;
    WaitFor(
        [&] {
          haveTitle = Narrow(TextOf(box));
          haveText = Narrow(TextOf(GetDlgItem(box, kBoxTextId)));
          return haveTitle == title && haveText == text;
        },
        2s);
    HWND owner = GetWindow(box, GW_OWNER);
    Print("  box \"" + haveTitle + "\": \"" + haveText + "\" (owner " + Narrow(ClassOf(owner)) +
          ")");
    if (haveTitle != title || haveText != text)
      Fail("box " + Describe(box) + ", expected \"" + title + "\": \"" + text + "\"");
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok) Fail("the box has no OK button");
    PostMessageW(ok, BM_CLICK, 0, 0);
    if (!WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, kStepWait))
      Fail("the box did not close on OK");
  }

  void Frames(const std::vector<std::string>& words) {
    if (!board_.open()) Fail("frames needs --board-log");
    // Words form frames; "|" ends one.
    std::vector<std::string> want;
    std::string frame;
    for (const auto& w : words) {
      if (w == "|") {
        if (!frame.empty()) want.push_back(frame);
        frame.clear();
      } else {
        frame += (frame.empty() ? "" : " ") + w;
      }
    }
    if (!frame.empty()) want.push_back(frame);
    std::vector<std::string> have;
    WaitFor([&] { return (have = board_.Fresh()).size() >= want.size(); }, kStepWait);
    if (want.empty()) {
      // Nothing is due: give a stray frame the time to show.
      std::this_thread::sleep_for(500ms);
      have = board_.Fresh();
    }
    if (have != want)
      Fail("the board received [" + Join(have) + "], expected [" + Join(want) + "]");
    board_.Take(have.size());
    Print("  board received " + std::to_string(have.size()) + " frames as expected");
  }

  void Shot(const std::string& name) {
    NeedMain();
    // Let the page finish painting after a switch.
    RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    std::this_thread::sleep_for(300ms);
    RECT r{};
    GetWindowRect(main_, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const int stride = ((width * 3 + 3) / 4) * 4;
    // A DC of another process's window cannot be printed into (PrintWindow hands the window a DC
    // of ours), so copy what the window shows: from its own window DC, else from the screen.
    auto uniform = [&] {
      GdiFlush();
      const auto* p = static_cast<const unsigned char*>(bits);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
          if (p[y * stride + x] != p[0]) return false;
      return true;
    };
    HDC window = GetWindowDC(main_);
    BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY);
    ReleaseDC(main_, window);
    const char* source = "window";
    if (uniform()) {
      BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
      source = "screen";
    }
    if (uniform()) Fail("the window's picture is blank");
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(stride * height);
    const std::string path = options_.shots + "\\windows-" + options_.tag + "-" + name + ".bmp";
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(stride) * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!out) Fail("cannot write " + path);
    Print("  wrote " + path + " (" + std::to_string(width) + " x " + std::to_string(height) +
          ", from the " + source + ")");
  }

  Options options_;
  Language language_;
  BoardLog board_;
  HWND main_ = nullptr;
  HWND tabs_ = nullptr;
  DWORD pid_ = 0;
};

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = Narrow(argv[i]);
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        Print(arg + " needs a value");
        std::exit(2);
      }
      return Narrow(argv[++i]);
    };
    if (arg == "--language")
      options.language = value();
    else if (arg == "--board-log")
      options.boardLog = value();
    else if (arg == "--shots")
      options.shots = value();
    else if (arg == "--lang-tag")
      options.tag = value();
    else if (options.script.empty() && arg.rfind("--", 0) != 0)
      options.script = arg;
    else {
      Print(
          "usage: lumivex-panel-driver SCRIPT [--language FILE] [--board-log FILE] "
          "[--shots FOLDER] [--lang-tag NAME]");
      return 2;
    }
  }
  if (options.script.empty()) {
    Print(
        "usage: lumivex-panel-driver SCRIPT [--language FILE] [--board-log FILE] "
        "[--shots FOLDER] [--lang-tag NAME]");
    return 2;
  }
  std::ifstream script(options.script, std::ios::binary);
  if (!script) {
    Print("cannot read the script " + options.script);
    return 2;
  }
  try {
    Driver driver(options);
    driver.Run(script);
  } catch (const Failure& failure) {
    Print("lumivex-panel-driver: " + failure.what);
    return 1;
  }
  Print("all steps passed");
  return 0;
}
