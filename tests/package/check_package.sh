#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and checks what an
# installation holds: programs that run from there, manual pages, desktop entry,
# icons, udev rules, documents whose paths exist, the Wireshark dissector found
# by tshark without -X, computed dependencies, Debian's hardening in every
# program (hardening-check) and no lintian errors (hardening and lintian not for
# sanitizer builds, whose binaries they rightly dislike).
# usage: check_package.sh BUILD_DIR VERSION PACKAGE_VERSION WIRESHARK_PLUGIN_DIR [sanitized]
set -euo pipefail
build=$1 version=$2 package_version=$3 plugin_dir=$4 sanitized=${5:-}
fail() { echo "check_package: $*" >&2; exit 1; }

cmake --build "$build" --target package >"$build/package.log" 2>&1 || { cat "$build/package.log" >&2; fail "building the package failed"; }
deb=$build/orderlink_${package_version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

for file in \
  usr/bin/orderlink usr/bin/orderlink-basesim usr/bin/orderlink-hostsim \
  usr/share/man/man1/orderlink.1.gz usr/share/man/man1/orderlink-basesim.1.gz \
  usr/share/man/man1/orderlink-hostsim.1.gz usr/share/man/man5/orderlink.conf.5.gz \
  usr/share/applications/orderlink.desktop \
  usr/share/icons/hicolor/16x16/apps/orderlink.png usr/share/icons/hicolor/48x48/apps/orderlink.png \
  usr/share/icons/hicolor/256x256/apps/orderlink.png usr/share/icons/hicolor/scalable/apps/orderlink.svg \
  usr/lib/udev/rules.d/60-orderlink-serial.rules \
  "usr/$plugin_dir/orderlink.lua" \
  usr/share/doc/orderlink/copyright usr/share/doc/orderlink/changelog.Debian.gz \
  usr/share/doc/orderlink/README.Debian usr/share/doc/orderlink/records.md \
  usr/share/doc/orderlink/host-link.md usr/share/doc/orderlink/host_link_example.py \
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
for page in "$root"/usr/share/man/man1/*.1.gz "$root"/usr/share/man/man5/*.5.gz; do
  zcat "$page" | grep -q "^\.TH .*\"orderlink $version\"" || fail "$page: no title line with the version"
done
grep -qx 'Name=无线点菜机管理' "$root/usr/share/applications/orderlink.desktop" || fail "desktop entry name"
grep -q '^GenericName=[A-Za-z]' "$root/usr/share/applications/orderlink.desktop" || fail "desktop entry generic name"
for icon in "$root"/usr/share/icons/hicolor/*x*/apps/orderlink.png; do
  size=$(basename "$(dirname "$(dirname "$icon")")")
  [[ $(identify -format '%wx%h' "$icon") == "$size" ]] || fail "the $size icon has another size"
done
grep -q 'ACTION!="add|change|bind"' "$root/usr/lib/udev/rules.d/60-orderlink-serial.rules" || fail "udev: bind"
for vendor in 0403 10c4 1a86 067b; do
  grep -q "ATTRS{idVendor}==\"$vendor\".*ID_MM_DEVICE_IGNORE" "$root/usr/lib/udev/rules.d/60-orderlink-serial.rules" \
    || fail "udev: ModemManager is not kept off vendor $vendor"
done

# The documents name no path of the source tree, and every installed path and
# every link beside them that they name is there.
docs=("$root"/usr/share/doc/orderlink/*.md "$root/usr/share/doc/orderlink/README.Debian")
for doc in "${docs[@]}" "$root"/usr/share/man/man*/*.gz; do
  text=$(zcat -f "$doc")
  if grep -nE '(^|[ (`])(build/bin|scripts/|tools/|docs/|packaging/)' <<<"$text" >&2; then
    fail "$doc names a path of the source tree"
  fi
  for path in $(grep -oE '/usr/(share|lib)/[A-Za-z0-9_./+-]*[A-Za-z0-9_/]' <<<"$text" | sort -u); do
    [[ -e $root$path ]] || fail "$doc names $path, which the package does not install"
  done
done
for doc in "$root"/usr/share/doc/orderlink/*.md; do
  for link in $(grep -oE '\]\([^)#:]+\)' "$doc" | sed 's/^](//; s/)$//'); do
    [[ -e $(dirname "$doc")/$link ]] || fail "$doc links to $link, which is not beside it"
  done
done

# The package's version carries a Debian revision; its maintainer is a team.
[[ $(dpkg-deb -f "$deb" Version) == "$package_version" && $package_version == "$version"-* ]] \
  || fail "version $(dpkg-deb -f "$deb" Version), expected $version-<revision>"
maintainer=$(dpkg-deb -f "$deb" Maintainer)
[[ $maintainer =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ && $maintainer != *example.* ]] || fail "maintainer: $maintainer"
zcat "$root/usr/share/doc/orderlink/changelog.Debian.gz" | head -1 | grep -qF "orderlink ($package_version)" \
  || fail "the changelog's first entry is not $package_version"

# tshark finds the dissector where the package puts it: that folder is its
# global Lua plugin folder, and the installed file, as the plugin of a user's
# folder (the global one is the system's), decodes a trace without -X.
if command -v tshark >/dev/null; then
  global=$(tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
  [[ $global == "/usr/$plugin_dir" ]] || fail "tshark's Lua plugins are in $global, the package's in /usr/$plugin_dir"
  home=$root/home
  mkdir -p "$home/.local/lib/wireshark/plugins"
  ln -s "$root/usr/$plugin_dir/orderlink.lua" "$home/.local/lib/wireshark/plugins/"
  # A trace of one poll frame to handset 5 (pcapng, link type USER0, outbound).
  python3 - "$root/poll.pcapng" <<'PY'
import struct, sys
def block(kind, body):
    body += b"\0" * (-len(body) % 4)
    return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)
frame = bytes([0, 0, 0, 0xC0, 0x01, 0x05])
flags = struct.pack("<HHI", 2, 4, 2) + struct.pack("<HH", 0, 0)
with open(sys.argv[1], "wb") as out:
    out.write(block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1)))
    out.write(block(1, struct.pack("<HHI", 147, 0, 0)))
    out.write(block(6, struct.pack("<IIIII", 0, 0, 0, len(frame), len(frame)) + frame + b"\0\0" + flags))
PY
  decoded=$(cd / && HOME=$home tshark -r "$root/poll.pcapng" -V 2>&1) || fail "tshark: $decoded"
  grep -q 'orderlink serial line' <<<"$decoded" || { echo "$decoded" >&2; fail "tshark did not decode the trace"; }
  grep -q 'Handset: 5' <<<"$decoded" || { echo "$decoded" >&2; fail "tshark decoded no handset 5"; }
fi

# Debian's hardening in every program.
if [[ -z $sanitized ]]; then
  command -v hardening-check >/dev/null || fail "hardening-check is missing (devscripts; scripts/bootstrap)"
  for program in orderlink orderlink-basesim orderlink-hostsim; do
    # Control-flow protection is not among the flags of Debian 12's dpkg-buildflags.
    hardening-check --nocfprotection "$root/usr/bin/$program" >&2 || fail "/usr/bin/$program lacks hardening"
  done
fi
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$root/usr/lib/udev/rules.d/60-orderlink-serial.rules" || fail "udev: ModemManager"
grep -q 'ATTR{latency_timer}="1"' "$root/usr/lib/udev/rules.d/60-orderlink-serial.rules" || fail "udev: latency"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libc6 qt6-translations-l10n; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

if [[ -z $sanitized ]] && command -v lintian >/dev/null; then
  # The default maintainer address is a local one on purpose (no public address
  # exists); a published build sets its own (ORDERLINK_PACKAGE_MAINTAINER).
  suppress=()
  [[ $maintainer == *@localhost\> ]] && suppress=(--suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog)
  lintian --fail-on error "${suppress[@]}" "$deb" >&2 || fail "lintian reports errors"
fi
echo "check_package: $deb passed"
