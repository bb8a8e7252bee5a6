#!/usr/bin/env bash
# install_test.sh tree|deb BUILD_DIR
# tree: DESTDIR=<tmp> cmake --install; deb: cpack, then the package's files unpacked into <tmp>.
# Either way the programs run from /opt/lumivex inside <tmp>, from another working directory:
# the settings file must follow the working directory, the language files the program.
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
    dpkg-deb -x "$deb" "$root"
    ;;
  *) fail "unknown mode $mode" ;;
esac

opt=$root/opt/lumivex
for f in lumivex lumivexctl lumivex-boardsim Config.ini Language/English.lang \
         Language/SimplifiedChinese.lang; do
  [ -e "$opt/$f" ] || fail "missing /opt/lumivex/$f"
done
for p in lumivex lumivexctl lumivex-boardsim; do
  [ "$(readlink "$root/usr/local/bin/$p")" = "/opt/lumivex/$p" ] || fail "no link for $p"
done
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
