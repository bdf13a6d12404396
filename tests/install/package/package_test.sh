#!/usr/bin/env bash
# The package as a user gets it: `cpack` builds the .deb from the build folder given, `dpkg-deb -x` puts it into
# a scratch root, and a user whose home is in that root starts the console through the desktop entry's command
# (first start: registry value, working folder, setup). Checked: what the package holds and where, nothing in a
# home; setup registered every plug-in from the package's Filtres/; the console runs and reports no missing
# component.
set -euo pipefail
build="$1"
create_classes="$2"
fail() { echo "package test: $*" >&2; exit 1; }

# A short scratch path: the installation folder must fit the 39 characters the registry value allows.
scratch=$(mktemp -d /tmp/kd.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$scratch"/cpack/kavro_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no .deb in $scratch/cpack"
root="$scratch/r"
dpkg-deb -x "$deb" "$root"

# What the package holds, and nothing outside the installation folder and the desktop menu.
inst="$root/opt/kavro"
for f in bin/InterfaceKAVRO bin/setup bin/regsvr32 bin/kavro-start Images/mesh.ppm configs/interface.xml \
         Filtres/Default.olsr Filtres/d3dx9_24.dll Filtres/ijl15.dll Filtres/kavro-layout \
         Filtres/WinGraphviz.dll Filtres/xplug.ocx Filtres/VitaminCtrl.dll Filtres/VADecoder.dll Filtres/Adlink.ax \
         Filtres/camIP.ax Filtres/camIP2.ax Filtres/camIP3.ax Filtres/camIP4.ax Filtres/capTelcar.ax \
         Filtres/JPEG_Receiver.ax Filtres/Mesh.ax Filtres/noir.ax Filtres/SenderJPEG.ax \
         ../../usr/share/applications/kavro-interface.desktop ../../usr/share/applications/kavro-talvor.desktop; do
  [ -e "$inst/$f" ] || fail "the package lacks $f"
done
outside=$(cd "$root" && find . -type f | grep -v -E '^\./(opt/kavro|usr/share/applications)/' || true)
[ -z "$outside" ] || fail "files outside the installation folder and the menu: $outside"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "the package does not depend on Qt: $(dpkg-deb -f "$deb" Depends)"
grep -q '^Exec=/opt/kavro/bin/kavro-start InterfaceKAVRO$' "$root/usr/share/applications/kavro-interface.desktop" ||
  fail "the console's desktop entry does not start it through kavro-start"

# A user of the scratch root with the mesh daemon installed (so setup goes to its end), no desktop.
home="$scratch/home"
export HOME="$home" XDG_DATA_HOME="$home/.local/share" QT_QPA_PLATFORM=offscreen
unset KAVRO_DRIVE_C KAVRO_REGISTRY DISPLAY WAYLAND_DISPLAY
drive="$XDG_DATA_HOME/kavro/drive_c"
mkdir -p "$drive/Program Files/olsrd"
echo "the daemon's own" >"$drive/Program Files/olsrd/Default.olsr"

# The console in a network namespace of its own (loopback up), so that a console of another test does not
# refuse it; it runs until the timeout ends it (status 124) unless it fails first.
in_namespace() { unshare -rn sh -c 'ip link set lo up 2>/dev/null; exec "$@"' sh "$@"; }
status=0
timeout 10 unshare -rn sh -c 'ip link set lo up 2>/dev/null; exec "$@"' sh "$inst/bin/kavro-start" InterfaceKAVRO \
  >"$scratch/console.log" 2>&1 || status=$?
cat "$scratch/console.log"
[ "$status" = 124 ] || fail "the console ended with status $status before the timeout"
grep -q -i -E 'introuvable|Unexpected error|cannot|not registered' "$scratch/console.log" &&
  fail "the first start or the console reported a failure"

# Every class registered from the package's Filtres/ is created by its CLSID, as the programs create them.
in_namespace "$create_classes" "$inst/Filtres/" >"$scratch/classes.log" 2>&1 ||
  { cat "$scratch/classes.log"; fail "a registered class cannot be created"; }
for lib in WinGraphviz.dll VitaminCtrl.dll Adlink.ax camIP.ax camIP2.ax camIP3.ax camIP4.ax capTelcar.ax \
           JPEG_Receiver.ax Mesh.ax noir.ax SenderJPEG.ax; do
  grep -q "^libraries:.* $lib\b" "$scratch/classes.log" || { cat "$scratch/classes.log"; fail "no class of $lib"; }
done

# setup's work: the registry names the installation folder, the runtime libraries are in the system folder,
# the daemon's configuration is ours, the console's working folder has its settings.
registry="$drive/windows/registry.xml"
grep -q "<value name=\"Installation\" type=\"sz\">$inst/</value>" "$registry" || fail "no Installation value"
for lib in d3dx9_24.dll ijl15.dll VitaminCtrl.dll; do
  [ -f "$drive/windows/system32/$lib" ] || fail "$lib is not in the system folder"
done
cmp -s "$inst/Filtres/Default.olsr" "$drive/Program Files/olsrd/Default.olsr" || fail "Default.olsr not installed"
[ -f "$drive/Program Files/KAVRO/configs/interface.xml" ] || [ -f "$drive/Program Files/KAVRO/configs/interface_old.xml" ] ||
  fail "the console's working folder has no configs"
echo "package test: $(basename "$deb") installs, sets up and starts the console"
