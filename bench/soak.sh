#!/bin/bash
# Soak: quillmere-peer in chaos mode (random drops, stream resets, visibility
# flips, malformed, oversized, truncated and corrupt packets; JPEG and H.264
# in turn per connection) streams to quillmere-cli, which reconnects by itself
# after every lost connection, for MINUTES minutes, while this script samples
# the viewer's resident memory, threads and open descriptors once a second.
# With --gui the viewer is quillmere-viewer instead, under an Xvfb of the
# script's own, and every second the script also does one thing a user does
# (via xdotool): full screen on or off, the menu bar, zoom with the wheel,
# tilt with a right drag, a click or drag, keys, resizing or minimising the
# window. That is where the window thread, the renderers' paths and their
# switches meet the reconnects; run it on a sanitizer build of the viewer.
# Prints one line:
#   soak minutes=<m> rss_first_mb=<a> rss_last_mb=<b> rss_growth_pct=<g> fd_growth=<f> thread_growth=<t>
# Everything runs in a network namespace of its own with only loopback up.
#
# usage: bash bench/soak.sh [--gui] [MINUTES (default 2, at least 2)] [BUILD_DIR (default build)]
# Environment: QM_SOAK_SEED (default 1), QM_SOAK_FPS (default 15),
# QM_SOAK_SIZE (default 640x360), QM_SOAK_KEEP=1 keeps the working folder.
set -u
gui=0
if [ "${1:-}" = --gui ]; then
    gui=1
    shift
fi
minutes=${1:-2}
build=$(cd "${2:-build}" && pwd) || exit 2
if ! [[ $minutes =~ ^[0-9]+$ ]] || ((minutes < 2)); then
    echo "soak.sh: MINUTES must be a whole number of at least 2" >&2
    exit 2
fi

if [ -z "${QM_SOAK_IN_NAMESPACE:-}" ]; then
    export QM_SOAK_IN_NAMESPACE=1
    script=$(readlink -f "$0")
    mode=()
    ((gui)) && mode=(--gui)
    if [ "$(id -u)" = 0 ]; then
        exec unshare -n bash "$script" "${mode[@]}" "$minutes" "$build"
    fi
    exec unshare -r -n bash "$script" "${mode[@]}" "$minutes" "$build"
fi
ip link set lo up || exit 1
# The GUI viewer starts discovery, which broadcasts on every interface.
if ((gui)) && [ "$(ip -o link show | wc -l)" != 1 ]; then
    echo "soak.sh: not in a network namespace of loopback only; no viewer is started" >&2
    exit 1
fi

peer_exe=$build/peer/quillmere-peer
cli_exe=$build/tools/quillmere-cli
viewer_exe=$build/app/quillmere-viewer
reg_exe=$build/tools/quillmere-reg
if ((gui)); then
    needed=("$peer_exe" "$viewer_exe" "$reg_exe")
    for tool in Xvfb xdotool; do
        command -v $tool >/dev/null || { echo "soak.sh: --gui needs $tool" >&2; exit 2; }
    done
else
    needed=("$peer_exe" "$cli_exe")
fi
for exe in "${needed[@]}"; do
    [ -x "$exe" ] || { echo "soak.sh: $exe is missing (build quillmere-peer and quillmere-cli, or quillmere-viewer and quillmere-reg for --gui)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/qm-soak.XXXXXX)
mkdir -p "$work/config" "$work/data" "$work/runtime"
chmod 700 "$work/runtime"
# The viewer's own settings store and instance slot, never the user's.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/runtime
unset DISPLAY WAYLAND_DISPLAY

peer_pid=
cli_pid=
xvfb_pid=
finish() {
    [ -n "$cli_pid" ] && kill -INT "$cli_pid" 2>/dev/null && wait "$cli_pid" 2>/dev/null
    [ -n "$peer_pid" ] && kill -TERM "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill -TERM "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    if [ "${QM_SOAK_KEEP:-0}" = 1 ]; then
        echo "soak.sh: output kept in $work" >&2
    else
        rm -rf "$work"
    fi
}
trap finish EXIT

"$peer_exe" --bind 127.0.0.1 --chaos "${QM_SOAK_SEED:-1}" --size "${QM_SOAK_SIZE:-640x360}" \
    --fps "${QM_SOAK_FPS:-15}" --fragments 4 --gop 30 >"$work/peer.out" 2>"$work/peer.err" &
peer_pid=$!
for _ in $(seq 100); do
    grep -q "listening" "$work/peer.out" 2>/dev/null && break
    sleep 0.1
done
grep -q "listening" "$work/peer.out" || { echo "soak.sh: the peer did not start" >&2; cat "$work/peer.err" >&2; exit 1; }

total=$((minutes * 60))
if ((gui)); then
    "$reg_exe" set 'Software\harrowfenlab\quillmere' LocalHostConnectionEnable REG_DWORD 1 >/dev/null || exit 1
    Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp 9>"$work/display" 2>"$work/xvfb.err" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || { echo "soak.sh: Xvfb did not start" >&2; exit 1; }
    DISPLAY=:$(head -1 "$work/display")
    export DISPLAY
    LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy QUILLMERE_CONNECT=127.0.0.1 "$viewer_exe" >"$work/cli.out" 2>"$work/cli.err" &
else
    # The viewer's own limit is a backstop; the script interrupts it on time.
    "$cli_exe" --seconds $((total + 60)) 127.0.0.1 >"$work/cli.out" 2>"$work/cli.err" &
fi
cli_pid=$!

# One thing a user does to the viewer's window, picked at random.
user_act() {
    local window
    window=$(xdotool search --pid "$cli_pid" --onlyvisible | head -1)
    [ -n "$window" ] || return 0
    case $((RANDOM % 10)) in
    0) xdotool key --window "$window" alt+Return ;;
    1) xdotool key --window "$window" Escape ;;
    2) xdotool mousemove --window "$window" $((RANDOM % 600)) $((RANDOM % 400)) click $((4 + RANDOM % 2)) ;;
    3) xdotool mousemove --window "$window" 300 200 mousedown 3 mousemove_relative -- $((RANDOM % 80 - 40)) \
        $((RANDOM % 80 - 40)) mouseup 3 ;;
    4) xdotool windowsize "$window" $((300 + RANDOM % 900)) $((200 + RANDOM % 500)) ;;
    5) xdotool mousemove --window "$window" $((RANDOM % 600)) $((RANDOM % 400)) click 1 ;;
    6) xdotool key --window "$window" F10 Escape ;;
    7) xdotool mousemove --window "$window" 200 150 mousedown 1 mousemove_relative -- 30 20 mouseup 1 ;;
    8) xdotool key --window "$window" a b c ;;
    9) xdotool windowminimize "$window" && sleep 0.3 && xdotool windowactivate "$window" ;;
    esac
} >/dev/null 2>&1
RANDOM=${QM_SOAK_SEED:-1}

start=$SECONDS
while ((SECONDS - start < total)); do
    if ! kill -0 "$cli_pid" 2>/dev/null; then
        wait "$cli_pid"
        echo "soak.sh: the viewer ended after $((SECONDS - start)) s with status $? (see $work)" >&2
        tail -5 "$work/cli.out" >&2
        cli_pid=
        QM_SOAK_KEEP=1
        exit 1
    fi
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$cli_pid/status" 2>/dev/null)
    threads=$(ls "/proc/$cli_pid/task" 2>/dev/null | wc -l)
    fds=$(ls "/proc/$cli_pid/fd" 2>/dev/null | wc -l)
    [ -n "$rss" ] && echo "$((SECONDS - start)) $rss $threads $fds" >>"$work/samples"
    ((gui)) && user_act
    sleep 1
done

# Both must end cleanly: the GUI viewer closes its window on SIGTERM, as at
# the end of a session, the cli on SIGINT.
kill -"$( ((gui)) && echo TERM || echo INT)" "$cli_pid"
wait "$cli_pid"
cli_status=$?
cli_pid=
connections=$(grep -c "from 127.0.0.1" "$work/peer.out")
frames=$(grep -o "Frames:[0-9]*" "$work/cli.out" | tail -1)
echo "soak.sh: $connections connections, viewer $frames, viewer exit status $cli_status" >&2

# Growth is measured after the first minute (start-up, first allocations of
# both codecs): the first window is the W seconds that follow it, the last
# window the final W seconds, W = 60 (less for a short run, which then has
# two halves of its second minute). Memory: the highest resident size in
# each window, since the heap's size swings with the codec and the moment of
# a connection. Threads and descriptors: the value seen most often in each
# window (the larger on a tie). A reconnect in progress briefly holds an
# extra socket and worker threads, and a lost connection briefly fewer; both
# last a small part of a second of a window of seconds, so they never set
# the most frequent value, while anything leaked per connection shifts it.
awk -v total="$total" -v minutes="$minutes" '
    function mode(counts,    v, best, bestCount) {
        bestCount = -1
        for (v in counts)
            if (counts[v] > bestCount || (counts[v] == bestCount && v + 0 > best + 0)) {
                best = v; bestCount = counts[v]
            }
        return best + 0
    }
    BEGIN { w = (total - 60) / 2; if (w > 60) w = 60 }
    {
        t = $1
        if (t >= 60 && t < 60 + w) { if ($2 > rssFirst) rssFirst = $2; thrFirst[$3]++; fdFirst[$4]++ }
        if (t >= total - w) { if ($2 > rssLast) rssLast = $2; thrLast[$3]++; fdLast[$4]++ }
    }
    END {
        if (rssFirst == 0 || rssLast == 0) { print "soak.sh: too few samples" > "/dev/stderr"; exit 1 }
        printf "soak minutes=%d rss_first_mb=%.1f rss_last_mb=%.1f rss_growth_pct=%.1f fd_growth=%d thread_growth=%d\n",
            minutes, rssFirst / 1024, rssLast / 1024, 100 * (rssLast - rssFirst) / rssFirst,
            mode(fdLast) - mode(fdFirst), mode(thrLast) - mode(thrFirst)
    }' "$work/samples" || exit 1
[ "$cli_status" = 0 ]
