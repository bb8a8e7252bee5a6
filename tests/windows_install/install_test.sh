#!/usr/bin/env bash
# The Windows installer under Wine, as a user meets it: a silent install, the program folder in
# Program Files, the working folder with its first Lumivex.ini, the Start-menu shortcut, the
# Add/Remove Programs entry, the installed lumivexctl.exe started from another folder; a second
# install over the first that keeps the user's settings and the panel's language; an install and
# an uninstall while a program of the folder runs, which fail; the silent uninstall, which leaves
# the settings in place; a first install in Chinese into another folder, which chooses the
# Chinese panel, and an uninstall that finds a file of the user's in that folder. Also the .zip:
# the same folder, byte for byte.
#
#   install_test.sh SETUP.exe PROGRAMS.zip STAGED_FOLDER VERSION FIRST_LUMIVEX_INI
#
# WINEPREFIX: the prefix to use (default: "wine" beside the installer). Whatever an earlier run
# left there (program folder, working folder, shortcut, registry entry) is removed first.
set -uo pipefail
setup=$(realpath "$1")
zip=$(realpath "$2")
stage=$(realpath "$3")
version=$4
first_ini=$(realpath "$5")
here=$(dirname "$(realpath "$0")")
export WINEPREFIX=${WINEPREFIX:-$(dirname "$setup")/wine}
# No menu entries on the build machine for the shortcuts made in the prefix.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
work=$(mktemp -d /tmp/lumivex-install.XXXXXX)
holder=""
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if [ ! -d "$WINEPREFIX/drive_c" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$work/wineboot.log" 2>&1
fi

# A Windows environment variable of the prefix's user, e.g. C:\users\root\AppData\Local.
windows_variable() {
  wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'
}
unix_path() {
  winepath -u "$1" 2>/dev/null | sed 's:/$::'
}
program_files_win=$(windows_variable ProgramW6432)
local_app_data_win=$(windows_variable LOCALAPPDATA)
app_data_win=$(windows_variable APPDATA)
if [ -z "$program_files_win" ] || [ -z "$local_app_data_win" ] || [ -z "$app_data_win" ]; then
  echo "cannot ask Wine for its folders"
  exit 1
fi
program_dir_win="$program_files_win\\Lumivex"
program_dir=$(unix_path "$program_dir_win")
work_dir_win="$local_app_data_win\\Lumivex"
work_dir=$(unix_path "$work_dir_win")
shortcut=$(unix_path "$app_data_win\\Microsoft\\Windows\\Start Menu\\Programs")/Lumivex.lnk
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumivex'
panel=false
[ -f "$stage/lumivex.exe" ] && panel=true

rm -rf "$program_dir" "$work_dir" "$shortcut"
wine reg delete "$key" /f >/dev/null 2>&1

# reg_value NAME: the value in the uninstall key's 64-bit view, empty when missing.
reg_value() {
  wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

# The files of the program folder, relative, sorted.
listing() {
  (cd "$1" && find . -type f | sed 's:^\./::' | LC_ALL=C sort)
}

# install [LOCALE [OPTION]]: a silent install, in a Windows display language after LOCALE.
install() {
  local status=0
  LC_ALL=${1:-C.UTF-8} wine "$setup" /S ${2:+"$2"} >"$work/setup.log" 2>&1 || status=$?
  [ "$status" -eq 0 ] || { fail "the installer exited with $status"; cat "$work/setup.log"; }
}

# Waits for an uninstall to end: the uninstaller hands over to a copy of itself in the temp folder
# and returns at once; that copy removes the registry entry last.
wait_uninstalled() {
  local start=$SECONDS
  while [ -n "$(reg_value DisplayName)" ]; do
    if [ $((SECONDS - start)) -gt 120 ]; then
      fail "the uninstaller did not finish in 120 s"
      return
    fi
    sleep 0.2
  done
}

# check_program_folder WHEN [FILE]: the installed files are the staged ones, FILE apart.
check_program_folder() {
  [ -d "$program_dir" ] || { fail "no program folder $program_dir_win"; return; }
  { listing "$stage"; echo Uninstall.exe; } | LC_ALL=C sort >"$work/expected"
  listing "$program_dir" >"$work/installed"
  diff -u "$work/expected" "$work/installed" >"$work/diff" ||
    { fail "$1: the program folder holds other files than the staged one:"; cat "$work/diff"; }
  while read -r file; do
    [ "$file" = "${2:-}" ] && continue
    cmp -s "$stage/$file" "$program_dir/$file" || fail "$1: $file differs from the staged one"
  done < <(listing "$stage")
}

echo "== install"
install
check_program_folder "first install"
[ -d "$work_dir" ] || fail "no working folder $work_dir_win"
cmp -s "$first_ini" "$work_dir/Lumivex.ini" || fail "the working folder lacks the first Lumivex.ini"

# The Add/Remove Programs entry, in the 64-bit view only.
[ "$(reg_value DisplayName)" = Lumivex ] || fail "DisplayName is '$(reg_value DisplayName)'"
[ "$(reg_value DisplayVersion)" = "$version" ] ||
  fail "DisplayVersion is '$(reg_value DisplayVersion)', not $version"
[ -n "$(reg_value Publisher)" ] || fail "no Publisher"
[ "$(reg_value InstallLocation)" = "$program_dir_win" ] ||
  fail "InstallLocation is '$(reg_value InstallLocation)'"
[ "$(reg_value UninstallString)" = "\"$program_dir_win\\Uninstall.exe\"" ] ||
  fail "UninstallString is '$(reg_value UninstallString)'"
[ "$(reg_value QuietUninstallString)" = "\"$program_dir_win\\Uninstall.exe\" /S" ] ||
  fail "QuietUninstallString is '$(reg_value QuietUninstallString)'"
icon=$(reg_value DisplayIcon)
expected_icon="$program_dir_win\\Uninstall.exe,0"
$panel && expected_icon="$program_dir_win\\lumivex.exe,0"
[ "$icon" = "$expected_icon" ] || fail "DisplayIcon is '$icon', not '$expected_icon'"
# EstimatedSize is in KiB: at least the folder's bytes, and not wildly more.
size_kib=$(($(reg_value EstimatedSize)))
folder_bytes=$(find "$program_dir" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
if [ $((size_kib * 1024)) -lt "$folder_bytes" ] ||
    [ $((size_kib * 1024)) -gt $((folder_bytes + folder_bytes / 10 + 65536)) ]; then
  fail "EstimatedSize is $size_kib KiB for $folder_bytes bytes"
fi
wine reg query "$key" /reg:32 >/dev/null 2>&1 && fail "the entry is in the 32-bit registry view"

# The shortcut starts the panel in the working folder.
if $panel; then
  if [ -f "$shortcut" ]; then
    python3 "$here/read_lnk.py" "$shortcut" >"$work/lnk" || fail "the shortcut cannot be read"
    target=$(sed -n 's/^target=//p' "$work/lnk")
    workdir=$(sed -n 's/^workdir=//p' "$work/lnk")
    [ "${target,,}" = "${program_dir_win,,}\\lumivex.exe" ] ||
      fail "the shortcut starts '$target'"
    [ "${workdir,,}" = "${work_dir_win,,}" ] ||
      fail "the shortcut's working folder is '$workdir', not '$work_dir_win'"
  else
    fail "no Start-menu shortcut $shortcut"
  fi
else
  echo "(no panel in this build: no shortcut expected)"
  [ -e "$shortcut" ] && fail "a shortcut to a panel that was not installed"
fi

# The installed lumivexctl.exe from another folder finds its language files in the program folder
# (behind a space in the path): its message is the text of LANGUAGE's file, not the key's fallback.
mkdir -p "$work/elsewhere"
ctl="$program_dir_win\\lumivexctl.exe"
check_installed_ctl() {
  local status=0
  (cd "$work/elsewhere" && wine "$ctl" --help >"$work/help.out" 2>"$work/help.err") || status=$?
  [ "$status" -eq 0 ] || fail "lumivexctl --help exited with $status"
  grep -q '^usage: lumivexctl ' "$work/help.out" || fail "lumivexctl --help printed no usage"
  status=0
  (cd "$work/elsewhere" && wine "$ctl" --port COM250 connect >"$work/connect.out" \
    2>"$work/connect.err") || status=$?
  [ "$status" -eq 3 ] ||
    { fail "lumivexctl connect to a missing port exited with $status, not 3"; cat "$work"/connect.*; }
  local message
  message=$(sed -n 's/^WarningUart.ConnectFail=//p' "$stage/Language/$1.lang" | tr -d '\r')
  [ -n "$message" ] || fail "$1.lang has no WarningUart.ConnectFail"
  grep -qF -- "$message" "$work/connect.err" ||
    { fail "lumivexctl did not show the $1 message:"; cat "$work/connect.err"; }
}
check_installed_ctl English

echo "== install again over it"
printf '[dialog]\ndlg3=true\n[system]\nFirmWareName=mine.bin\n' >"$work/mine.ini"
cp "$work/mine.ini" "$work_dir/Lumivex.ini"
# The language chosen for the installed version stays with the next.
sed -i 's/^Solution=.*/Solution=SimplifiedChinese/' "$program_dir/Config.ini"
install
check_program_folder "second install" Config.ini
cmp -s "$work/mine.ini" "$work_dir/Lumivex.ini" || fail "a second install changed the user's Lumivex.ini"
grep -q '^Solution=SimplifiedChinese' "$program_dir/Config.ini" ||
  { fail "a second install did not keep the language:"; cat "$program_dir/Config.ini"; }
check_installed_ctl SimplifiedChinese

echo "== install while a program of the folder runs"
# An earlier lumivexctl.exe that is still running (Wine's cmd, waiting for its input): its file
# cannot be replaced, and a silent install must fail rather than leave it and report success.
cp "$WINEPREFIX/drive_c/windows/system32/cmd.exe" "$program_dir/lumivexctl.exe"
mkfifo "$work/hold"
(cd "$work/elsewhere" && wine "$ctl" /k echo running <"$work/hold" >"$work/held.out" 2>&1) &
holder=$!
exec 9>"$work/hold"
start=$SECONDS
until grep -q running "$work/held.out" 2>/dev/null || [ $((SECONDS - start)) -gt 60 ]; do
  sleep 0.1
done
grep -q running "$work/held.out" || fail "the running program did not start"
status=0
LC_ALL=C.UTF-8 wine "$setup" /S >"$work/setup.log" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "an install that could not replace a running program reported success"
cmp -s "$WINEPREFIX/drive_c/windows/system32/cmd.exe" "$program_dir/lumivexctl.exe" ||
  fail "the running program's file changed"
# Nor may an uninstall then report success and drop the entry. Run in place (_?=), the
# uninstaller's exit status is its own, not that of the copy it hands over to; _?= takes the rest
# of the command line unquoted, which a batch file gives it.
printf '@"%s\\Uninstall.exe" /S _?=%s\r\n@exit /b %%ERRORLEVEL%%\r\n' "$program_dir_win" \
  "$program_dir_win" >"$work/uninstall.bat"
status=0
wine cmd /c "$(winepath -w "$work/uninstall.bat")" >"$work/uninstall.log" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "an uninstall that could not remove a running program reported success"
[ -n "$(reg_value DisplayName)" ] || fail "an uninstall that failed removed the entry"
[ -f "$program_dir/Uninstall.exe" ] || fail "an uninstall that failed removed the uninstaller"
exec 9>&-
wait "$holder"
install
check_program_folder "install after the program ended" Config.ini

echo "== uninstall"
status=0
wine "$program_dir_win\\Uninstall.exe" /S >"$work/uninstall.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || { fail "the uninstaller exited with $status"; cat "$work/uninstall.log"; }
wait_uninstalled
[ -e "$program_dir" ] && { fail "the program folder is still there:"; listing "$program_dir"; }
[ -e "$shortcut" ] && fail "the shortcut is still there"
cmp -s "$work/mine.ini" "$work_dir/Lumivex.ini" || fail "the uninstaller did not keep Lumivex.ini"

echo "== a first install in Chinese into another folder, uninstalled with a file of the user's in it"
# /D= takes the rest of the command line unquoted: a folder without blanks.
program_dir_win='C:\Tools\Lumivex'
program_dir=$(unix_path "$program_dir_win")
rm -rf "$program_dir"
install zh_CN.UTF-8 "/D=$program_dir_win"
check_program_folder "install in Chinese" Config.ini
[ "$(reg_value InstallLocation)" = "$program_dir_win" ] ||
  fail "InstallLocation is '$(reg_value InstallLocation)', not $program_dir_win"
[ "$(reg_value UninstallString)" = "\"$program_dir_win\\Uninstall.exe\"" ] ||
  fail "UninstallString is '$(reg_value UninstallString)'"
grep -q '^Solution=SimplifiedChinese' "$program_dir/Config.ini" ||
  { fail "an install in Chinese did not choose the Chinese panel:"; cat "$program_dir/Config.ini"; }
echo "notes" >"$program_dir/notes.txt"
status=0
wine "$program_dir_win\\Uninstall.exe" /S >"$work/uninstall.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the uninstaller exited with $status"
wait_uninstalled
left=$(listing "$program_dir" 2>/dev/null | tr '\n' ' ')
[ "$left" = "notes.txt " ] || fail "after the uninstall the program folder holds '$left', not notes.txt"
cmp -s "$work/mine.ini" "$work_dir/Lumivex.ini" || fail "the uninstaller did not keep Lumivex.ini"
rm -rf "$program_dir"
rmdir "$(dirname "$program_dir")" 2>/dev/null

echo "== the .zip"
python3 - "$zip" "$stage" >"$work/zip.log" 2>&1 <<'PY' || { fail "the .zip:"; cat "$work/zip.log"; }
import os, sys, zipfile
archive, stage = sys.argv[1], sys.argv[2]
expected = {}
for root, _, files in os.walk(stage):
    for name in files:
        path = os.path.join(root, name)
        expected["Lumivex/" + os.path.relpath(path, stage).replace(os.sep, "/")] = path
with zipfile.ZipFile(archive) as z:
    found = {i.filename for i in z.infolist() if not i.is_dir()}
    outside = [i.filename for i in z.infolist() if not i.filename.startswith("Lumivex/")]
    assert not outside, f"entries outside Lumivex/: {outside}"
    assert found == set(expected), f"entries {sorted(found)} != {sorted(expected)}"
    for name, path in expected.items():
        with open(path, "rb") as f:
            assert z.read(name) == f.read(), f"{name} differs"
PY

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
