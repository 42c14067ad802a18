#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and checks what an
# installation holds: programs that run from there, manual pages, desktop entry,
# icons, udev rules, documents, computed dependencies; lintian finds no errors
# (when installed; not for sanitizer builds, whose binaries it rightly dislikes).
# usage: check_package.sh BUILD_DIR VERSION [sanitized]
set -euo pipefail
build=$1 version=$2 sanitized=${3:-}
fail() { echo "check_package: $*" >&2; exit 1; }

cmake --build "$build" --target package >"$build/package.log" 2>&1 || { cat "$build/package.log" >&2; fail "building the package failed"; }
deb=$build/orderlink_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

for file in \
  usr/bin/orderlink usr/bin/orderlink-basesim usr/bin/orderlink-hostsim \
  usr/share/man/man1/orderlink.1.gz usr/share/man/man1/orderlink-basesim.1.gz \
  usr/share/man/man1/orderlink-hostsim.1.gz \
  usr/share/applications/orderlink.desktop \
  usr/share/icons/hicolor/16x16/apps/orderlink.png usr/share/icons/hicolor/48x48/apps/orderlink.png \
  usr/share/icons/hicolor/128x128/apps/orderlink.png \
  usr/lib/udev/rules.d/60-orderlink-serial.rules \
  usr/share/doc/orderlink/copyright usr/share/doc/orderlink/changelog.gz \
  usr/share/doc/orderlink/host-link.md usr/share/doc/orderlink/examples/host_link_example.py \
  usr/share/doc/orderlink/examples/orderlink.conf.example \
  usr/share/doc/orderlink/examples/orderlink-autostart.desktop; do
  [[ -s $root/$file ]] || fail "missing or empty: /$file"
done
for program in orderlink orderlink-basesim orderlink-hostsim; do
  [[ -x $root/usr/bin/$program ]] || fail "/usr/bin/$program is not executable"
done

# The installed program answers without a display and without the build folder.
out=$(cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LD_LIBRARY_PATH \
      "$root/usr/bin/orderlink" --version) || fail "orderlink --version failed"
[[ $out == "orderlink $version" ]] || fail "orderlink --version said: $out"
env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/orderlink" --help | grep -q '^Usage: orderlink' \
  || fail "orderlink --help has no usage line"

# Each manual page is valid compressed roff with the version filled in.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  zcat "$page" | grep -q "^\.TH .*\"orderlink $version\"" || fail "$page: no title line with the version"
done
grep -qx 'Name=无线点菜机管理' "$root/usr/share/applications/orderlink.desktop" || fail "desktop entry name"
grep -q '^GenericName=[A-Za-z]' "$root/usr/share/applications/orderlink.desktop" || fail "desktop entry generic name"
[[ $(identify -format '%wx%h' "$root/usr/share/icons/hicolor/48x48/apps/orderlink.png") == 48x48 ]] \
  || fail "the 48x48 icon has another size"
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$root/usr/lib/udev/rules.d/60-orderlink-serial.rules" || fail "udev: ModemManager"
grep -q 'ATTR{latency_timer}="1"' "$root/usr/lib/udev/rules.d/60-orderlink-serial.rules" || fail "udev: latency"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libc6 qt6-translations-l10n; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

if [[ -z $sanitized ]] && command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >&2 || fail "lintian reports errors"
fi
echo "check_package: $deb passed"
