#!/usr/bin/env bash
# Checks the installed layout and the Debian package of a built tree:
#   bash packaging/check.sh [build dir, default build/default]
# Installs into a temporary DESTDIR with prefix /usr, validates the desktop
# entry and the AppStream metainfo, builds the .deb with cpack in a temporary
# directory and checks its contents and dependencies. Leaves no files behind.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
[ -f "$build/CPackConfig.cmake" ] || {
  echo "check.sh: $build is not a configured build directory" >&2
  exit 1
}

tmp=$(mktemp -d)
manifest="$build/install_manifest.txt"
had_manifest=0
[ -e "$manifest" ] && had_manifest=1
cleanup() {
  rm -rf "$tmp"
  # cmake --install records what it copied in the build directory.
  [ "$had_manifest" = 1 ] || rm -f "$manifest"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

echo "== install into a temporary DESTDIR (prefix /usr)"
DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
root="$tmp/root/usr"
expected=(
  bin/pendlo
  share/applications/io.github.pendlo.Pendlo.desktop
  share/doc/pendlo/copyright
  share/icons/hicolor/32x32/apps/pendlo.png
  share/icons/hicolor/scalable/apps/pendlo.svg
  share/pixmaps/pendlo.xpm
  share/metainfo/io.github.pendlo.Pendlo.metainfo.xml
  share/man/man1/pendlo.1
  share/pendlo/translations/pendlo_en.qm
)
for f in "${expected[@]}"; do
  [ -f "$root/$f" ] || fail "not installed: /usr/$f"
done
[ -x "$root/bin/pendlo" ] || fail "/usr/bin/pendlo is not executable"

# The PNG header holds width and height as big-endian 32-bit numbers.
png="$root/share/icons/hicolor/32x32/apps/pendlo.png"
if [ -f "$png" ]; then
  size=$(od -An -tu1 -j16 -N8 "$png" | tr -s ' ' | sed 's/^ //')
  [ "$size" = "0 0 0 32 0 0 0 32" ] || fail "hicolor 32x32 icon is not 32 x 32 ($size)"
fi

# An installed binary must not look for libraries in the build tree.
runpath=$(readelf -d "$root/bin/pendlo" | grep -E 'RPATH|RUNPATH' || true)
case "$runpath" in
*"$(pwd)"*) fail "/usr/bin/pendlo keeps a run path into the build tree: $runpath" ;;
esac

# The committed icons must be what the drawing script makes of them today.
if command -v python3 >/dev/null; then
  echo "== icons match data/make_icon.py"
  mkdir "$tmp/icons"
  (cd "$tmp/icons" && python3 "$OLDPWD/data/make_icon.py")
  for f in pendlo.png pendlo.svg pendlo.xpm; do
    cmp -s "$tmp/icons/$f" "data/$f" || fail "data/$f differs from what data/make_icon.py draws"
  done
fi

echo "== desktop-file-validate"
desktop-file-validate "$root/share/applications/io.github.pendlo.Pendlo.desktop" || fail "desktop entry"

echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net "$root/share/metainfo/io.github.pendlo.Pendlo.metainfo.xml" ||
  fail "AppStream metainfo"

if command -v groff >/dev/null; then
  echo "== man page"
  warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -K utf8 -ww -z "$root/share/man/man1/pendlo.1" 2>&1)
  [ -z "$warnings" ] || fail "man page: $warnings"
fi

echo "== cpack -G DEB (manual page gzipped in the package)"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/cpack" >"$tmp/cpack.log" 2>&1 || {
  cat "$tmp/cpack.log" >&2
  fail "cpack"
}
deb=$(find "$tmp/cpack" -maxdepth 1 -name 'pendlo_*.deb' | head -n 1)
if [ -z "$deb" ]; then
  fail "cpack made no pendlo_*.deb"
else
  echo "$(basename "$deb"):"
  dpkg-deb -c "$deb" | tee "$tmp/contents"
  for f in bin/pendlo share/icons/hicolor/32x32/apps/pendlo.png \
    share/icons/hicolor/scalable/apps/pendlo.svg share/applications/io.github.pendlo.Pendlo.desktop \
    share/metainfo/io.github.pendlo.Pendlo.metainfo.xml share/man/man1/pendlo.1.gz \
    share/pendlo/translations/pendlo_en.qm; do
    grep -q " \./usr/$f\$" "$tmp/contents" || fail "not in the package: /usr/$f"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  # The fonts and SDL2 (loaded at run time) are named by hand; the other
  # libraries come from dpkg-shlibdeps.
  for p in fonts-ipafont-gothic fonts-liberation2 libqt6widgets6 libsdl2-2.0-0 libc6; do
    grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "package does not depend on $p"
  done
  recommends=$(dpkg-deb -f "$deb" Recommends)
  grep -qE "(^|, )libpipewire-0.3-0( |,|$)" <<<"$recommends" ||
    fail "package does not recommend libpipewire-0.3-0 (loaded at run time)"
  for f in share/doc/pendlo/copyright share/doc/pendlo/changelog.gz; do
    grep -q " \./usr/$f\$" "$tmp/contents" || fail "not in the package: /usr/$f"
  done

  echo "== lintian (errors fail the check; warnings are shown)"
  lintian --tag-display-limit 0 "$deb" 2>&1 | tee "$tmp/lintian" || true
  grep -q '^E: ' "$tmp/lintian" && fail "lintian reports errors"
fi

if [ "$failures" -ne 0 ]; then
  echo "packaging check: $failures failure(s)" >&2
  exit 1
fi
echo "packaging check: OK"
