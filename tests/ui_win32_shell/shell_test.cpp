// The message box, clipboard and save chooser of the Win32 shell, as real windows under Wine:
// each test finds the window Windows made, reads it as a user sees it, and answers it.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run_loop.h"
#include "ui/framework/dialog.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/shell.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {
namespace {

using namespace std::chrono_literals;
using win32::Narrow;
using win32::Widen;

std::wstring ClassOf(HWND w) {
  wchar_t name[64] = {};
  GetClassNameW(w, name, 64);
  return name;
}

std::wstring TextOf(HWND w) {
  wchar_t text[1024] = {};
  GetWindowTextW(w, text, 1024);
  return text;
}

// The dialog-class window of this thread that Windows made for a box or chooser, once it is
// visible; nullptr when none is.
HWND FindDialogOwnedBy(HWND owner) {
  struct Search {
    HWND owner;
    HWND found = nullptr;
  } search{owner};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (ClassOf(w) == L"#32770" && IsWindowVisible(w) && GetWindow(w, GW_OWNER) == s->owner) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Runs answer(window) once the window Windows makes for owner is up, from inside the modal
// loop that shows it; gives up after 20 s so that a box that never comes cannot hang the test.
class WhenShown {
 public:
  WhenShown(HWND owner, std::function<void(HWND)> answer)
      : m_owner(owner), m_answer(std::move(answer)) {
    m_poll.SetHandler([this] {
      if (HWND w = FindDialogOwnedBy(m_owner)) {
        m_poll.Stop();
        m_seen = true;
        m_answer(w);
      } else if (++m_ticks > 2000) {
        m_poll.Stop();
      }
    });
    m_poll.Start(10ms);
  }
  bool Seen() const { return m_seen; }

 private:
  HWND m_owner;
  std::function<void(HWND)> m_answer;
  CTimer m_poll;
  int m_ticks = 0;
  bool m_seen = false;
};

TEST(MessageBox, ShowsTheTextAndTitleWithOnlyAnOkButtonOwnedByTheTopLevelWindow) {
  CDialog window(templ::kAbout);
  ASSERT_TRUE(window.CreateAsWindow());
  HWND top = window.GetSafeHwnd();
  std::wstring title;
  std::wstring text;
  std::vector<std::wstring> buttons;
  int icons = 0;
  bool ownerDisabled = false;
  WhenShown answer(top, [&](HWND box) {
    title = TextOf(box);
    ownerDisabled = !IsWindowEnabled(top);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      const std::wstring cls = ClassOf(child);
      const LONG style = GetWindowLongW(child, GWL_STYLE);
      if (cls == L"Button" && IsWindowVisible(child)) buttons.push_back(TextOf(child));
      // Wine keeps an empty icon control in every box; an icon is one that holds an image.
      if (cls == L"Static" && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
          SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        ++icons;
      }
      if (cls == L"Static" && (style & SS_TYPEMASK) != SS_ICON && !TextOf(child).empty()) {
        text = TextOf(child);
      }
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  ModalMessagePresenter().Show(window, "\xE8\xBF\x9E\xE6\x8E\xA5\xE5\xA4\xB1\xE8\xB4\xA5 <b>&amp;",
                               "Lumivex \xE5\x8D\x87\xE7\xBA\xA7");
  ASSERT_TRUE(answer.Seen());
  EXPECT_EQ(title, L"Lumivex \u5347\u7EA7");
  // Shown as written: no markup, no access key.
  EXPECT_EQ(text, L"\u8FDE\u63A5\u5931\u8D25 <b>&amp;");
  EXPECT_EQ(buttons.size(), 1u);
  EXPECT_EQ(icons, 0);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(top));
}

TEST(MessageBox, AChildPagesBoxBelongsToItsWindow) {
  CDialog window(templ::kMain);
  ASSERT_TRUE(window.CreateAsWindow());
  CDialog page(templ::kFlipPage);
  ASSERT_TRUE(page.Create(window, 1000));
  WhenShown answer(window.GetSafeHwnd(), [](HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); });
  ModalMessagePresenter().Show(page, "text", "title");
  EXPECT_TRUE(answer.Seen());
}

TEST(MessageBox, StaysUsableWhileACommandBlocksInput) {
  CDialog window(templ::kAbout);
  ASSERT_TRUE(window.CreateAsWindow());
  ScopedInputBlock block;
  HWND shownBox = nullptr;
  bool neededCommand = false;
  // Should the click be swallowed, the box is closed without input after a while, so that the
  // test reports instead of hanging.
  CTimer fallback([&] {
    if (shownBox && IsWindow(shownBox)) {
      neededCommand = true;
      PostMessageW(shownBox, WM_COMMAND, IDOK, 0);
    }
  });
  WhenShown answer(window.GetSafeHwnd(), [&](HWND box) {
    shownBox = box;
    // A click on OK as the mouse gives it: down and up over the button.
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok) ok = FindWindowExW(box, nullptr, L"Button", nullptr);
    RECT r{};
    GetClientRect(ok, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageW(ok, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(ok, WM_LBUTTONUP, 0, at);
    fallback.Start(5s, true);
    // The click goes through the panel's own loop, as it does when a command's wait turns one
    // while the box is up; the box's own loop would not ask the gate.
    test::RunUntil([&] { return !IsWindowVisible(box); }, 3s);
  });
  ModalMessagePresenter().Show(window, "text", "title");
  EXPECT_TRUE(answer.Seen());
  EXPECT_FALSE(neededCommand);
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return L"<clipboard busy>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

TEST(Clipboard, TakesTheTextAsUnicodeWithWindowsLineEnds) {
  SetClipboardText("12.345  TX  55 AA\n\xE6\x8A\x95\xE5\xBD\xB1\r\nend");
  EXPECT_EQ(ClipboardText(), L"12.345  TX  55 AA\r\n\u6295\u5F71\r\nend");
  SetClipboardText("");
  EXPECT_EQ(ClipboardText(), L"");
}

std::wstring WorkingFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

TEST(SaveChooser, OffersTheFilterAddsItsExtensionAndKeepsTheWorkingFolder) {
  CDialog window(templ::kAbout);
  ASSERT_TRUE(window.CreateAsWindow());
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"lumivex-save-test";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring before = WorkingFolder();
  std::wstring title;
  WhenShown answer(window.GetSafeHwnd(), [&](HWND chooser) {
    title = TextOf(chooser);
    // The file name box: cmb13 (a combo box) in the Explorer-style chooser, edt1 otherwise.
    const std::wstring name = folder + L"\\traffic";
    if (!SetDlgItemTextW(chooser, 0x47C, name.c_str()))
      SetDlgItemTextW(chooser, 0x480, name.c_str());
    PostMessageW(chooser, WM_COMMAND, IDOK, 0);
  });
  const std::optional<std::string> chosen =
      AskSaveFileName(window, "Save serial traffic", "traffic.txt", "Text", "*.txt");
  ASSERT_TRUE(answer.Seen());
  EXPECT_EQ(title, L"Save serial traffic");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(Widen(*chosen), folder + L"\\traffic.txt");
  EXPECT_EQ(WorkingFolder(), before);
  RemoveDirectoryW(folder.c_str());
}

TEST(SaveChooser, CancelledGivesNothing) {
  CDialog window(templ::kAbout);
  ASSERT_TRUE(window.CreateAsWindow());
  WhenShown answer(window.GetSafeHwnd(),
                   [](HWND chooser) { PostMessageW(chooser, WM_COMMAND, IDCANCEL, 0); });
  EXPECT_FALSE(AskSaveFileName(window, "Save", "x.csv", "CSV", "*.csv").has_value());
  EXPECT_TRUE(answer.Seen());
}

}  // namespace
}  // namespace lumivex::ui
