#!/usr/bin/env bash
# Installs what is missing, builds, and runs the viewer against the bundled
# peer server inside a private network namespace that this script creates
# (unshare -n; unshare -r -n without root): a veth pair qm0/qm1 with
# 10.77.0.1/24 on qm0 is the only network there, so the viewer's discovery
# broadcasts reach the peer and nothing else.
#
# The viewer connects by itself: its settings store (a folder of its own
# under build/, not the user's) holds automatic connect to 10.77.0.1, the
# peer's address, with local host connections enabled because the peer runs
# on this same machine. Without a display both run under Xvfb and a
# screenshot of the viewer window is saved to docs/screenshot-run.png
# (override with QUILLMERE_SCREENSHOT).
set -euo pipefail
script="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$script")/.."
ROOT=$PWD
address=10.77.0.1

if [[ "${QM_RUN_IN_PRIVATE_NETWORK:-}" != "$$" ]]; then
    bash scripts/setup.sh
    # The test command's configuration of the same tree: running one after
    # the other rebuilds nothing.
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQM_WERROR=ON \
        >/dev/null
    cmake --build build -j"$(nproc)" --target quillmere-viewer quillmere-peer quillmere-reg
    for how in "-n" "-r -n"; do
        # shellcheck disable=SC2086
        if unshare $how true 2>/dev/null; then
            # shellcheck disable=SC2086
            exec unshare $how bash -c 'QM_RUN_IN_PRIVATE_NETWORK=$$ exec bash "$0" "$@"' "$script" "$@"
        fi
    done
    echo "run: cannot create a network namespace; the viewer is not started (it would broadcast)" >&2
    exit 1
fi

# Inside the new namespace: nothing but loopback yet.
if [[ "$(ip -o link show | wc -l)" != 1 ]]; then
    echo "run: the new network namespace is not empty" >&2
    exit 1
fi
ip link set lo up
ip link add qm0 type veth peer name qm1
ip addr add "$address/24" brd + dev qm0
ip link set qm0 up
ip link set qm1 up

viewer="$ROOT/build/app/quillmere-viewer"
peer="$ROOT/build/peer/quillmere-peer"
reg="$ROOT/build/tools/quillmere-reg"
export XDG_CONFIG_HOME="$ROOT/build/run-config"
mkdir -p "$XDG_CONFIG_HOME"
unset QUILLMERE_CONNECT
key='Software\harrowfenlab\quillmere'
"$reg" set "$key" AutoConnectSetting REG_DWORD 1
"$reg" set "$key" AutoConnectToIpAddressList REG_MULTI_SZ "$address"
"$reg" set "$key" LocalHostConnectionEnable REG_DWORD 1

# Peer in the background, viewer in the foreground; the peer ends with it.
# The peer offers its test tone (feature 8): with a sound device, the
# viewer's Functionality menu item "Audio Speaker" plays it.
# A script text rather than a function: xvfb-run's shell drops exported
# functions.
run_both='
    "$peer" --bind "$address" --codec jpeg --features 8 --quiet &
    peer_pid=$!
    trap "kill $peer_pid 2>/dev/null; wait $peer_pid 2>/dev/null" EXIT
    sleep 0.5
    "$viewer"
'
export viewer peer address

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    export QUILLMERE_SCREENSHOT="${QUILLMERE_SCREENSHOT:-$ROOT/docs/screenshot-run.png}"
    export QT_QPA_PLATFORM=xcb
    if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
        XDG_RUNTIME_DIR="$(mktemp -d)"
        chmod 700 "$XDG_RUNTIME_DIR"
        export XDG_RUNTIME_DIR
        trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
    fi
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c "$run_both"
    echo "run: screenshot saved to $QUILLMERE_SCREENSHOT"
else
    bash -c "$run_both"
fi
