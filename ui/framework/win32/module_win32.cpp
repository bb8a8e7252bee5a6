#include <climits>

#include "ui/framework/win32/internal.h"

namespace lumivex::ui::win32 {

namespace {
// The conversions take an int length; longer texts go over in pieces. A piece never ends inside
// a UTF-8 sequence or between the halves of a surrogate pair, so each converts as it would whole.
constexpr size_t kPiece = INT_MAX / 4;

size_t Utf8PieceEnd(std::string_view text, size_t begin) {
  size_t end = begin + kPiece;
  if (end >= text.size()) return text.size();
  // Step back over continuation bytes to a sequence's first byte (at most 3 steps).
  for (int step = 0; step < 3 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++step) {
    --end;
  }
  return end;
}

size_t Utf16PieceEnd(std::wstring_view text, size_t begin) {
  size_t end = begin + kPiece;
  if (end >= text.size()) return text.size();
  if (text[end] >= 0xDC00 && text[end] <= 0xDFFF) --end;
  return end;
}
}  // namespace

std::wstring Widen(std::string_view utf8) {
  std::wstring out;
  for (size_t begin = 0; begin < utf8.size();) {
    const size_t end = Utf8PieceEnd(utf8, begin);
    const int length = static_cast<int>(end - begin);
    // Without MB_ERR_INVALID_CHARS a stray byte becomes U+FFFD instead of failing the text.
    const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data() + begin, length, nullptr, 0);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(wide));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data() + begin, length, out.data() + at, wide);
    begin = end;
  }
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  std::string out;
  for (size_t begin = 0; begin < utf16.size();) {
    const size_t end = Utf16PieceEnd(utf16, begin);
    const int length = static_cast<int>(end - begin);
    const int narrow =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data() + begin, length, nullptr, 0, nullptr, nullptr);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(narrow));
    WideCharToMultiByte(CP_UTF8, 0, utf16.data() + begin, length, out.data() + at, narrow, nullptr,
                        nullptr);
    begin = end;
  }
  return out;
}

HINSTANCE Instance() {
  return GetModuleHandleW(nullptr);
}

HICON ApplicationIcon(bool big) {
  // Loaded at the size the system shows it, from the icon's own images: Windows would otherwise
  // scale the first image it finds.
  static HICON icons[2] = {
      static_cast<HICON>(LoadImageW(Instance(), L"lumivex", IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                    LR_DEFAULTCOLOR | LR_SHARED)),
      static_cast<HICON>(LoadImageW(Instance(), L"lumivex", IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                    GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR | LR_SHARED))};
  return icons[big ? 1 : 0];
}

}  // namespace lumivex::ui::win32
