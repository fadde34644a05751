#!/bin/sh
# Runs one widget test program on a private X server with a 1920 x 1080
# screen, Qt's xcb platform, and fresh configuration and runtime folders that
# are removed afterwards.
set -eu
root=$(mktemp -d /tmp/qm-dialogs-XXXXXX)
trap 'rm -rf "$root"' EXIT INT TERM
mkdir -p "$root/config" "$root/runtime"
chmod 700 "$root/runtime"
export XDG_CONFIG_HOME="$root/config"
export XDG_RUNTIME_DIR="$root/runtime"
export QT_QPA_PLATFORM=xcb
# Each test brings its own screen: no window of the user's session is touched.
unset WAYLAND_DISPLAY
# xvfb-run -a looks for a free display from its start number (-n, which must
# come first) on, but two runs starting together can pick the same one;
# starting each run's search at its own number keeps parallel tests apart.
start=$((100 + $$ % 800))
status=0
xvfb-run -n "$start" -a -e "$root/xvfb.log" -s "-screen 0 1920x1080x24" "$@" || status=$?
if [ "$status" -ne 0 ] && [ -s "$root/xvfb.log" ]; then
    cat "$root/xvfb.log" >&2
fi
exit "$status"
