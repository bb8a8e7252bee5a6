#!/bin/sh
# Makes a Wine prefix ready for the panel's windows; run once per prefix (again does no harm).
#   WINEPREFIX=/path/to/prefix prepare_prefix.sh
# Creates the prefix when it does not exist yet, then lets its dialog font show Chinese: on
# Windows a CJK face is linked behind the UI fonts, so a Chinese caption in the dialog font
# draws from it; a fresh Wine prefix has no such link, and a Chinese caption comes out as empty
# boxes. The CJK face is the Linux system's (fonts-noto-cjk), which Wine finds via fontconfig:
#   - Tahoma (the message font, and what "MS Shell Dlg" stands for) and the other UI faces get
#     the CJK face as their link (FontLink\SystemLink), for when the face exists (fonts-wine);
#   - where Tahoma does not exist, Wine replaces it by the CJK face itself, which has Latin
#     letters of its own (Wine\Fonts\Replacements; Wine skips it when Tahoma is there).
set -eu

if [ -z "${WINEPREFIX:-}" ]; then
  echo "prepare_prefix: set WINEPREFIX to the prefix to prepare" >&2
  exit 2
fi
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A Simplified Chinese sans-serif face of the system, as fontconfig chooses it.
font=$(fc-match -f '%{file}' 'sans-serif:lang=zh-cn' 2>/dev/null || true)
family=$(fc-match -f '%{family[0]}' 'sans-serif:lang=zh-cn' 2>/dev/null || true)
if [ -z "$font" ] || ! fc-list ':lang=zh-cn' file | grep -qF "$font"; then
  echo "prepare_prefix: no Chinese font found; install one (apt-get install fonts-noto-cjk)" >&2
  exit 1
fi
file=$(basename "$font")

marker="$WINEPREFIX/.lumivex-cjk-font"
if [ -f "$marker" ] && [ "$(cat "$marker")" = "$file,$family" ]; then
  exit 0
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi
# No wait for the prefix's server to end: a test run keeps one running for all its tests
# (wineserver -p), and what reg writes below reaches every later program through it.

links='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI"; do
  wine reg add "$links" /v "$face" /t REG_MULTI_SZ /d "$file,$family" /f >/dev/null 2>&1
done
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /t REG_SZ /d "$family" /f \
  >/dev/null 2>&1
printf '%s,%s\n' "$file" "$family" >"$marker"
