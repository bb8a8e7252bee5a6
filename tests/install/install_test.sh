#!/usr/bin/env bash
# install_test.sh tree|deb BUILD_DIR
# tree: DESTDIR=<tmp> cmake --install; deb: cpack, then the package's files unpacked into <tmp>.
# Either way the programs run from /opt/lumivex inside <tmp>, from another working directory:
# the settings file must follow the working directory, the language files the program. The
# package must also be one Debian accepts: lintian finds no error in it but the program folder
# in /opt.
set -euo pipefail
mode=$1
build=$2
root=$(mktemp -d)
work=$(mktemp -d)
ports=$(mktemp -d)
board=""
cleanup() {
  [ -n "$board" ] && kill "$board" 2>/dev/null && wait "$board" 2>/dev/null
  rm -rf "$root" "$work" "$ports"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

case $mode in
  tree)
    DESTDIR=$root cmake --install "$build" >/dev/null
    ;;
  deb)
    (cd "$build" && cpack -G DEB >/dev/null) || fail "cpack"
    deb=$(ls -t "$build"/lumivex_*.deb | head -1)
    info=$(dpkg-deb --info "$deb")
    [[ $info == *"Depends:"*libqt6widgets6* ]] || fail "the package does not declare its Qt dependency"
    recommends=$(dpkg-deb -f "$deb" Recommends)
    [[ $recommends == *fonts-noto-cjk* ]] || fail "the package does not recommend the CJK font"
    [[ $recommends == *qt6-translations-l10n* ]] || fail "the package does not recommend Qt's translations"
    [[ $(dpkg-deb -f "$deb" Depends) != *fonts-noto-cjk* ]] || fail "the CJK font is required, not recommended"
    [[ $(dpkg-deb -f "$deb" Description) == *$'\n'" "?* ]] || fail "no extended description"
    command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps installs it)"
    lintian --fail-on error --suppress-tags dir-or-file-in-opt "$deb" >"$work/lintian.log" 2>&1 ||
      fail "lintian: $(cat "$work/lintian.log")"
    ! grep -q '^E: ' "$work/lintian.log" || fail "lintian: $(cat "$work/lintian.log")"
    dpkg-deb -x "$deb" "$root"
    [ ! -e "$root/usr/local" ] || fail "the package installs into /usr/local"
    ;;
  *) fail "unknown mode $mode" ;;
esac

opt=$root/opt/lumivex
for f in lumivex lumivexctl lumivex-boardsim Config.ini Language/English.lang \
         Language/SimplifiedChinese.lang; do
  [ -e "$opt/$f" ] || fail "missing /opt/lumivex/$f"
done
links=usr/local/bin other=usr/bin
[ "$mode" = deb ] && links=usr/bin other=usr/local/bin
[ ! -e "$root/$other/lumivex" ] || fail "a link in /$other as well"
for p in lumivex lumivexctl lumivex-boardsim; do
  [ "$(readlink "$root/$links/$p")" = "/opt/lumivex/$p" ] || fail "no link for $p in /$links"
  page=$root/usr/share/man/man1/$p.1.gz
  [ -f "$page" ] || fail "no manual page for $p"
  # Compressed without a name or time stamp, and a page man can format.
  [ "$(od -An -tx1 -j4 -N4 "$page" | tr -d ' ')" = 00000000 ] || fail "$p.1.gz has a time stamp"
  zcat "$page" | grep -q "^\.TH" || fail "$p.1.gz is no manual page"
done
[ -f "$root/usr/share/doc/lumivex/copyright" ] || fail "missing copyright file"
zcat "$root/usr/share/doc/lumivex/changelog.gz" | head -1 | grep -q '^lumivex (' ||
  fail "missing or malformed changelog"
[ -f "$root/usr/share/applications/lumivex.desktop" ] || fail "missing .desktop file"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/lumivex.svg" ] || fail "missing icon"

# A board on a virtual port of this test's own, and the installed CLI run from another folder.
export XDG_RUNTIME_DIR=$ports
"$opt/lumivex-boardsim" --no-pace >"$ports/board.log" 2>&1 &
board=$!
for _ in $(seq 50); do grep -q ' -> ' "$ports/board.log" && break; sleep 0.1; done
port=$(sed -n 's/^lumivex-boardsim: \(COM[0-9]*\) .*/\1/p' "$ports/board.log")
[ -n "$port" ] || fail "the installed board did not start: $(cat "$ports/board.log")"

cd "$work"
out=$("$opt/lumivexctl" --port "$port" temp 2>"$work/err") || fail "lumivexctl: $(cat "$work/err")"
[[ $out == red=*" green="*" blue="*" board="* ]] || fail "unexpected output: $out"
# The success message comes from the installed English file, not from the key's fallback.
grep -q "Connected to the board" "$work/err" || fail "language file not found: $(cat "$work/err")"
[ ! -e "$opt/Lumivex.ini" ] || fail "settings file written beside the program"
echo "PASS ($mode): $out"
