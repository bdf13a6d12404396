# Station plumbing shared by scripts/run and scripts/run-two-stations (sourced, not run): the stations' folders
# and registries, network namespaces joined by veth pairs, the simulated robots and cameras, and the mixer Talvor
# as a station of its own. Callers set `kavro_bin` (the build's bin/ folder) and add the processes they start
# to `kavro_pids`; kavro_cleanup ends them and removes the namespaces made here.

kavro_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
kavro_pids=()
kavro_namespaces=()
kavro_cables=0

# The plug-ins a station registers (those missing from the build are passed over).
kavro_plugins=(noir.ax capTelcar.ax Mesh.ax WinGraphviz.dll Adlink.ax SenderJPEG.ax camIP.ax camIP2.ax camIP3.ax
  camIP4.ax JPEG_Receiver.ax VitaminCtrl.dll)

# Ends what was started here, last started first and each before the next (the mixer ends before the cameras it
# reads, so its log ends with its own quit, not with their lost streams), then removes the namespaces (and with
# them the veth ends inside them).
kavro_cleanup() {
  local i ns
  for ((i = ${#kavro_pids[@]} - 1; i >= 0; i--)); do
    kill "${kavro_pids[i]}" 2>/dev/null || true
    wait "${kavro_pids[i]}" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  for ns in "${kavro_namespaces[@]}"; do ip netns delete "$ns" 2>/dev/null || true; done
}

# kavro_register_plugins REGISTRY: the plug-ins registered in that registry file, as setup does on a station.
kavro_register_plugins() {
  local plugin
  for plugin in "${kavro_plugins[@]}"; do
    [ -f "$kavro_bin/$plugin" ] || continue
    KAVRO_REGISTRY="$1" "$kavro_bin/regsvr32" /s "$kavro_bin/$plugin" || echo "could not register $plugin" >&2
  done
}

# kavro_station DIR: a station's working folder with configs/, drive_c/ and registry.xml, its plug-ins registered,
# and its installation folder DIR/installation/ named by the registry's "Installation" value, holding the mesh
# view's default picture (the console refuses to build its video without that value).
kavro_station() {
  mkdir -p "$1/configs" "$1/drive_c" "$1/installation/Images"
  kavro_register_plugins "$1/registry.xml"
  cp -n "$kavro_root/filters/mesh/Images/mesh.ppm" "$1/installation/Images/"
  KAVRO_REGISTRY="$1/registry.xml" "$kavro_bin/reg" add 'HKLM\SOFTWARE\KAVRO' /v Installation /d "$1/installation/" \
    /f >/dev/null || echo "could not record the installation folder of $1" >&2
}

# kavro_install_pages SOURCE_ROOT DRIVE_C: the console's web pages (the home page, the map page) installed into
# the drive-C folder, beside the snapshot folder, as the installation lays them out.
kavro_install_pages() {
  local map="$2/Program Files/KAVRO/Map"
  mkdir -p "$map/snapshot"
  cp "$1"/console/pages/web/* "$map/"
}

# kavro_can_make_namespaces: whether this process may make network namespaces (root, and a kernel that lets it).
kavro_can_make_namespaces() {
  [ "$(id -u)" -eq 0 ] || return 1
  local probe="kavro-probe-$$"
  ip netns add "$probe" 2>/dev/null || return 1
  ip netns delete "$probe"
}

# kavro_may_listen_on PORT: whether this process may listen on PORT (root, or a port at or above the first one
# the kernel leaves to every user).
kavro_may_listen_on() {
  [ "$(id -u)" -eq 0 ] && return 0
  local first
  first=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
  [ "$1" -ge "$first" ]
}

# kavro_namespace NAME: a new network namespace with its loopback up.
kavro_namespace() {
  ip netns add "$1"
  kavro_namespaces+=("$1")
  ip netns exec "$1" ip link set lo up
}

# kavro_cable NS_A ADDRESS_A NS_B ADDRESS_B [EXTRA_ADDRESS_A...]: a veth pair between two namespaces ("" for this
# one), each end with its /24 address (and NS_A's end with the extra addresses, e.g. the robots'), both up.
kavro_cable() {
  local ns_a=$1 address_a=$2 ns_b=$3 address_b=$4
  shift 4
  kavro_cables=$((kavro_cables + 1))
  local end_a="kva$$-$kavro_cables" end_b="kvb$$-$kavro_cables"
  ip link add "$end_a" type veth peer name "$end_b"
  [ -n "$ns_a" ] && ip link set "$end_a" netns "$ns_a"
  [ -n "$ns_b" ] && ip link set "$end_b" netns "$ns_b"
  local in_a=() in_b=()
  [ -n "$ns_a" ] && in_a=(ip netns exec "$ns_a")
  [ -n "$ns_b" ] && in_b=(ip netns exec "$ns_b")
  local extra
  "${in_a[@]}" ip addr add "$address_a/24" dev "$end_a"
  for extra in "$@"; do "${in_a[@]}" ip addr add "$extra/24" dev "$end_a"; done
  "${in_b[@]}" ip addr add "$address_b/24" dev "$end_b"
  "${in_a[@]}" ip link set "$end_a" up
  "${in_b[@]}" ip link set "$end_b" up
}

# kavro_in NS COMMAND...: runs COMMAND in namespace NS ("" for this one).
kavro_in() {
  local ns=$1
  shift
  if [ -n "$ns" ]; then ip netns exec "$ns" "$@"; else "$@"; fi
}

# kavro_set_console_address INTERFACE_XML BLOCK A B C D: in the console's settings, the address of BLOCK ("mixer"
# or "robot N") becomes A.B.C.D, whatever it was (the mixer's "Web" box, local or remote, stays as it is).
kavro_set_console_address() {
  local file=$1 block=$2 head
  case "$block" in
    mixer) head='<mixer><local_mixer_1_remote_mixer_0>[01]</local_mixer_1_remote_mixer_0>' ;;
    robot\ [1-4]) head="<robot number=\"${block#robot }\">" ;;
    *) echo "kavro_set_console_address: no block $block" >&2; return 1 ;;
  esac
  sed -i -E "s#($head)<address_a>[0-9]+</address_a><address_b>[0-9]+</address_b><address_c>[0-9]+</address_c><address_d>[0-9]+</address_d>#\\1<address_a>$3</address_a><address_b>$4</address_b><address_c>$5</address_c><address_d>$6</address_d>#" \
    "$file"
}

# kavro_spawn NS COMMAND...: starts COMMAND in namespace NS ("" for this one) in the background, as the process
# whose id kavro_pids gets (so that kavro_cleanup ends the program itself, not a shell around it).
kavro_spawn() {
  local ns=$1
  shift
  if [ -n "$ns" ]; then
    exec ip netns exec "$ns" "$@" &
  else
    exec "$@" &
  fi
  kavro_pids+=($!)
}

# kavro_start_robots NS COMMAND_ADDRESS... [-- EXTRA ARGUMENTS]: the robot simulator in NS, one robot per
# address (command port 15000, status port 15010).
kavro_start_robots() {
  local ns=$1
  shift
  local args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do args+=(--robot "$1:15000"); shift; done
  [ "${1:-}" = "--" ] && shift
  kavro_spawn "$ns" "$kavro_bin/kavro-robot-sim" "${args[@]}" --status-port 15010 "$@"
}

# kavro_start_cameras NS: four simulated network cameras at 127.0.0.21..24:8080 in NS, the addresses the shipped
# settings give cameras 1 to 4 (and the mixer's streams 8 to 11).
kavro_start_cameras() {
  kavro_spawn "$1" "$kavro_bin/kavro-camera-sim" --camera 127.0.0.21:8080 --camera 127.0.0.22:8080 \
    --camera 127.0.0.23:8080 --camera 127.0.0.24:8080
}

# kavro_mixer_configs DIR SHIPPED_MIXER_XML: the mixer's stored configurations when missing: the shipped layout
# as the last one used, and two for the console's "Web" mode to choose: the first camera full screen, and the
# shipped grid again (choosing a configuration makes it the mixer's kavro_old.xml, so without a copy of its own
# the grid could not be chosen back).
kavro_mixer_configs() {
  mkdir -p "$1/configs"
  [ -f "$1/configs/kavro_old.xml" ] || cp "$2" "$1/configs/kavro_old.xml"
  [ -f "$1/configs/grid.xml" ] || cp "$2" "$1/configs/grid.xml"
  [ -f "$1/configs/camera1_full.xml" ] ||
    sed -e '0,/<right>0.25<\/right><bottom>0.333333<\/bottom>/s##<right>1</right><bottom>1</bottom>#' \
      "$2" >"$1/configs/camera1_full.xml"
}

# kavro_start_mixer NS DIR ADDRESS [ENV=VALUE...]: Talvor in namespace NS, working in station folder DIR, its
# network sender on ADDRESS:9000 (the console's mixer view); waits until it answers "getconf" on port 11000,
# (15 s at most), then gives it the four simulated cameras of its namespace (MJPEG, kind 2) on port 10000. A
# remote shut-down is recorded in DIR/shutdown.log, never carried out. ENV=VALUE settings go to the mixer's
# environment. Answers non-zero when the mixer ended or did not answer.
kavro_start_mixer() {
  local ns=$1 dir=$2 address=$3
  shift 3
  (cd "$dir" && exec env KAVRO_REGISTRY="$dir/registry.xml" KAVRO_DRIVE_C="$dir/drive_c" \
    KAVRO_JPEG_SENDER_ADDRESS="$address" KAVRO_JPEG_SENDER_PORT=9000 KAVRO_SHUTDOWN_RECORD=shutdown.log "$@" \
    ip netns exec "$ns" "$kavro_bin/Talvor") &
  kavro_pids+=($!)
  local mixer=$! reply="" _
  for _ in $(seq 150); do
    kill -0 "$mixer" 2>/dev/null || return 1
    reply=$(kavro_in "$ns" bash -c 'exec 3<>/dev/udp/127.0.0.1/11000; printf getconf >&3; timeout 0.2 head -c 4 <&3' \
      2>/dev/null || true)
    [ -n "$reply" ] && break
    sleep 0.1
  done
  kavro_in "$ns" bash -c 'printf "127 0 0 21 8080 2 127 0 0 22 8080 2 127 0 0 23 8080 2 127 0 0 24 8080 2" \
    >/dev/udp/127.0.0.1/10000'
  [ -n "$reply" ]
}
