#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "ui/framework/win32/internal.h"

// After windows.h.
#include <commctrl.h>

namespace lumivex::ui::win32 {
namespace {

// The test program carries the panel's own resource script, as lumivex.exe does.

TEST(PanelResources, TheIconLoadsByTheNameTemplatesGiveIt) {
  for (const bool big : {false, true}) {
    HICON icon = ApplicationIcon(big);
    ASSERT_NE(icon, nullptr) << (big ? "big" : "small");
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    // Its own image at the size asked, not another one scaled.
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON));
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  }
  // What a template's ICON control with the caption "lumivex" asks for.
  EXPECT_NE(LoadIconW(Instance(), L"lumivex"), nullptr);
}

TEST(PanelResources, TheManifestBringsCommonControlsSix) {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES};
  ASSERT_TRUE(InitCommonControlsEx(&classes));
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  // Version 6 is the side-by-side assembly the manifest names; without it, system32's copy
  // (version 5, unthemed, no trackbar custom draw as the slider needs it) would be loaded.
  wchar_t path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(comctl, path, MAX_PATH), 0u);
  std::wstring lower = path;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
            std::wstring::npos)
      << Narrow(path);
}

TEST(PanelResources, TheManifestMakesUtf8TheCodePage) {
  // Narrow texts that reach Windows (a file name through a C library call) are read as UTF-8.
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return {};
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(PanelResources, VersionInformationIsTheProjects) {
  wchar_t path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  const DWORD size = GetFileVersionInfoSizeW(path, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
  EXPECT_EQ(VersionString(block, L"ProductName"), L"Lumivex");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), Widen(LUMIVEX_PROJECT_VERSION));
  EXPECT_EQ(VersionString(block, L"FileVersion"), Widen(LUMIVEX_PROJECT_VERSION));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  const std::string numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(numbers, LUMIVEX_PROJECT_VERSION);
}

}  // namespace
}  // namespace lumivex::ui::win32
