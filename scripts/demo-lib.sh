# Shared parts of scripts/demo and scripts/screenshot, for use inside a lab:
# the simulated servers and a private X server. Sourced after lib.sh, not run.

readonly SERVERS=(SRV-ALPHA SRV-BRAVO SRV-CHARLIE)
readonly ANNOUNCER=SRV-CHARLIE
readonly ANNOUNCE_EVERY=5

# start_xvfb: starts Xvfb on a display of its own choosing and exports DISPLAY.
# It listens only on the lab's abstract socket, with no socket file and no lock
# file in /tmp, so it is private to the lab and leaves nothing behind.
start_xvfb() {
  command -v Xvfb >/dev/null || die "Xvfb is not installed (Debian package xvfb)"
  local fifo_dir number
  fifo_dir=$(mktemp -d)
  mkfifo "$fifo_dir/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -nolisten unix -nolock \
    3>"$fifo_dir/display" >/dev/null 2>&1 &
  read -r -t 15 number <"$fifo_dir/display" || die "Xvfb did not start"
  rm -rf "$fifo_dir"
  export DISPLAY=":$number"
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
}

# start_servers: the simulated servers, each a host of its own in the lab.
start_servers() {
  local name args
  for name in "${SERVERS[@]}"; do
    args=(serve)
    [ "$name" = "$ANNOUNCER" ] && args+=(--announce-every "$ANNOUNCE_EVERY")
    "$LANFINDER_ROOT/scripts/netlab" host "$name" -- "$BIN/aloha" "${args[@]}" 2>/dev/null &
  done
  sleep 1
}
