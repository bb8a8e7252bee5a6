#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/framework/win32/internal.h"

namespace lumivex::ui::win32 {
namespace {

// The pixels of one character drawn in black on white in face, 40 pixels high.
std::vector<unsigned> Draw(const std::wstring& face, wchar_t character) {
  constexpr int kSide = 64;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kSide;
  info.bmiHeader.biHeight = -kSide;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  LOGFONTW logFont{};
  logFont.lfHeight = -40;
  logFont.lfCharSet = DEFAULT_CHARSET;
  logFont.lfQuality = NONANTIALIASED_QUALITY;
  lstrcpynW(logFont.lfFaceName, face.c_str(), LF_FACESIZE);
  HFONT font = CreateFontIndirectW(&logFont);
  HGDIOBJ oldFont = SelectObject(dc, font);
  RECT all{0, 0, kSide, kSide};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  TextOutW(dc, 4, 4, &character, 1);
  GdiFlush();
  const auto* pixels = static_cast<const unsigned*>(bits);
  std::vector<unsigned> copy(pixels, pixels + kSide * kSide);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return copy;
}

size_t InkOf(const std::vector<unsigned>& pixels) {
  size_t ink = 0;
  for (unsigned pixel : pixels) ink += (pixel & 0xFFFFFF) != 0xFFFFFF;
  return ink;
}

// The dialogs use the desktop's message font; a Chinese caption in it must come out as its own
// characters (Windows links a CJK face to the UI fonts; a Wine prefix gets the same link from
// tests/windows/prepare_prefix.sh), not as the empty boxes of a missing glyph, which all look
// alike.
TEST(DialogFont, ChineseCharactersDrawAsTheirOwnGlyphs) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  const std::wstring face = metrics.lfMessageFont.lfFaceName;
  // 关 于 光 机: from the About box and the panel's Chinese captions.
  const wchar_t characters[] = {L'\u5173', L'\u4E8E', L'\u5149', L'\u673A'};
  std::vector<std::vector<unsigned>> drawn;
  for (wchar_t c : characters) {
    drawn.push_back(Draw(face, c));
    EXPECT_GT(InkOf(drawn.back()), 40u) << "U+" << std::hex << static_cast<unsigned>(c);
  }
  for (size_t i = 0; i < drawn.size(); ++i) {
    for (size_t j = i + 1; j < drawn.size(); ++j) {
      EXPECT_TRUE(drawn[i] != drawn[j]) << "characters " << i << " and " << j << " in "
                                        << Narrow(face) << " draw alike: no CJK font behind it";
    }
  }
}

}  // namespace
}  // namespace lumivex::ui::win32
