#!/usr/bin/env bash
# Pictures of every page of lumivex.exe under Wine, in English and in Chinese, taken by
# lumivex-panel-driver.exe through screenshots.steps: OUT_DIR/windows-<language>-<page>.png.
#
#   panel_screenshots.sh LUMIVEX_EXE DRIVER_EXE SOURCE_DIR OUT_DIR
panel_exe=$(realpath "$1")
driver_exe=$(realpath "$2")
source_dir=$(realpath "$3")
out=$(realpath -m "$4")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# shellcheck source=wine_session.sh
source "$here/wine_session.sh"

wine_session_start "${WINEPREFIX:-$(dirname "$(dirname "$panel_exe")")/wine}"
mkdir -p "$out"
# With no window manager on the display, Wine draws the caption bar itself only when told to;
# otherwise the pictures have none.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null
failures=0
for pair in english:English chinese:SimplifiedChinese; do
  tag=${pair%%:*}
  language=${pair#*:}
  program=$work/program-$language
  make_program_folder "$program" "$panel_exe" "$language"
  cp "$driver_exe" "$work/"
  run=$work/run-$language
  mkdir -p "$run"
  printf '[dialog]\r\ndlg1=true\r\ndlg2=true\r\ndlg3=true\r\ndlg4=true\r\ndlg5=true\r\n[led]\r\nr=true\r\ng=true\r\nb=true\r\n' \
    >"$run/Lumivex.ini"
  start_panel "$run" "$program" "$work/panel-$language.log"
  wine "$work/$(basename "$driver_exe")" "$(wine_path "$here/screenshots.steps")" \
    --language "$(wine_path "$program/Language/$language.lang")" \
    --shots "$(wine_path "$out")" --lang-tag "$tag" 2>&1 | tr -d '\r'
  [ "${PIPESTATUS[0]}" = 0 ] || { echo "FAIL $language"; failures=$((failures + 1)); }
  wait_exit "$panel" 30 || kill "$panel" 2>/dev/null
done
# PNG where imagemagick is at hand; the .bmp files otherwise.
if command -v convert >/dev/null; then
  for bmp in "$out"/windows-*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
fi
ls "$out"/windows-*
[ "$failures" -eq 0 ]
