#!/bin/sh
# Runs a command as a Wayland client of a headless Weston of its own (no
# screen, no GPU: it composites nothing and hands out no input devices), with
# Qt's wayland platform. XDG_RUNTIME_DIR must be a 0700 folder of the
# caller's, where the compositor's socket and log go.
set -eu
socket="qm-wayland-$$"
weston --backend=headless-backend.so --socket="$socket" --idle-time=0 --width=1280 --height=800 \
    --no-config --log="$XDG_RUNTIME_DIR/weston.log" &
compositor=$!
i=0
while [ ! -S "$XDG_RUNTIME_DIR/$socket" ] && [ "$i" -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
done
status=0
unset DISPLAY
WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland "$@" || status=$?
kill "$compositor" 2>/dev/null || true
wait "$compositor" 2>/dev/null || true
if [ "$status" -ne 0 ] && [ -s "$XDG_RUNTIME_DIR/weston.log" ]; then
    tail -n 20 "$XDG_RUNTIME_DIR/weston.log" >&2
fi
exit "$status"
