#!/usr/bin/env bash
# Checks that a built tree installs as a desktop program: the layout under a temporary prefix,
# the menu entry and software-centre data through their validators, the Debian package through
# lintian, and the installed launcher starting from a read-only copy with its settings in the
# user's configuration folder. Usage: scripts/check-install.sh <build folder>
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:?usage: check-install.sh <build folder>}")
ID=org.korvel.Korvel

WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvel-install.XXXXXX")
cleanup() { chmod -R u+w "$WORK" 2>/dev/null || true; rm -rf "$WORK"; }
trap cleanup EXIT
PREFIX=$WORK/prefix
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null

fail() { echo "check-install: $*" >&2; exit 1; }
# bin holds the launcher and nothing else; the program folder keeps its layout.
[ "$(ls "$PREFIX/bin")" = korvel ] || fail "bin holds more than the launcher: $(ls "$PREFIX/bin")"
[ -L "$PREFIX/bin/korvel" ] || fail "the launcher is not a link"
for f in Korvel libOrvid.so libContext.so libzelk.so libvindra.so ficomp/libsummary.so \
         ficomp/fimap.ini theme.zip home.dll Manual/index.html Start/index.html; do
  [ -e "$PREFIX/lib/korvel/$f" ] || fail "lib/korvel/$f is missing"
done
for size in 16x16 32x32 48x48 128x128 256x256 512x512; do
  [ -f "$PREFIX/share/icons/hicolor/$size/apps/$ID.png" ] || fail "no $size icon"
done
[ -f "$PREFIX/share/icons/hicolor/scalable/apps/$ID.svg" ] || fail "no scalable icon"

desktop-file-validate "$PREFIX/share/applications/$ID.desktop"
appstreamcli validate --no-net "$PREFIX/share/metainfo/$ID.metainfo.xml"

bash scripts/package.sh "$BUILD" >/dev/null
DEB=$(ls "$BUILD"/korvel_*.deb)
dpkg-deb --field "$DEB" Depends | grep -q libqt6 || fail "the package depends on no Qt"
lintian --fail-on error "$DEB"

# The installed copy from a read-only prefix: as root, read-only permissions bind nobody, so
# the program then runs as an unprivileged user.
mkdir -p "$WORK/user/config" "$WORK/user/data" "$WORK/user/cache" "$WORK/user/run"
chmod 700 "$WORK/user/run"
chmod -R a-w "$PREFIX"
AS=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R 65534:65534 "$WORK/user"
  chmod a+x "$WORK"
  AS=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
set +e
env -i PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen HOME="$WORK/user" \
  XDG_CONFIG_HOME="$WORK/user/config" XDG_DATA_HOME="$WORK/user/data" \
  XDG_CACHE_HOME="$WORK/user/cache" XDG_RUNTIME_DIR="$WORK/user/run" \
  ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0 \
  QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu" \
  timeout --signal=TERM --kill-after=20 15 "${AS[@]}" "$PREFIX/bin/korvel" >"$WORK/run.log" 2>&1
status=$?
set -e
# 124: still running when asked to end, which is what a shown window does.
[ $status -eq 124 ] || { cat "$WORK/run.log"; fail "the installed program ended by itself ($status)"; }
[ -f "$WORK/user/config/vAdaziv/Korvel.ini" ] || { cat "$WORK/run.log"; fail "no settings in the configuration folder"; }
[ ! -e "$PREFIX/lib/korvel/Korvel.ini" ] || fail "settings written into the program folder"
echo "The installed tree, its desktop files, its package and its launcher are sound."
