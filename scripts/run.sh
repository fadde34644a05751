#!/usr/bin/env bash
# Installs what is missing, builds, and runs the viewer against the bundled
# peer server on this machine (loopback only; nothing is broadcast).
#
# The viewer connects by itself through QUILLMERE_CONNECT, the demo's stand-in
# for picking a server in the connect view. Without a display both run under
# Xvfb and a screenshot of the viewer window is saved to
# docs/screenshot-run.png (override with QUILLMERE_SCREENSHOT).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quillmere-viewer quillmere-peer

viewer="$PWD/build/app/quillmere-viewer"
peer="$PWD/build/peer/quillmere-peer"
export QUILLMERE_CONNECT=127.0.0.1

# Peer in the background, viewer in the foreground; the peer ends with it.
# A script text rather than a function: xvfb-run's shell drops exported
# functions.
run_both='
    "$peer" --bind 127.0.0.1 --codec jpeg --quiet &
    peer_pid=$!
    trap "kill $peer_pid 2>/dev/null; wait $peer_pid 2>/dev/null" EXIT
    sleep 0.5
    "$viewer"
'
export viewer peer

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    export QUILLMERE_SCREENSHOT="${QUILLMERE_SCREENSHOT:-$PWD/docs/screenshot-run.png}"
    export QT_QPA_PLATFORM=xcb
    if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
        XDG_RUNTIME_DIR="$(mktemp -d)"
        chmod 700 "$XDG_RUNTIME_DIR"
        export XDG_RUNTIME_DIR
    fi
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c "$run_both"
    echo "run: screenshot saved to $QUILLMERE_SCREENSHOT"
else
    bash -c "$run_both"
fi
