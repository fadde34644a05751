#!/bin/bash
# End-to-end benchmark: what a user of the viewer feels. quillmere-peer
# streams its synthetic desktop, panning as a whole every frame (--motion
# full), at 60 frames a second to the GUI viewer (quillmere-viewer full
# screen, as a second screen is used, under an Xvfb of its own whose screen
# is the stream's size, Mesa's software rasteriser) and to quillmere-cli (into
# memory, as it chooses where only a software rasteriser draws), over
# loopback in a network namespace that this script creates and that holds
# nothing but loopback. For each size, codec and viewer, after a warm-up,
# one line:
#   e2e <gui|cli> <codec> <W>x<H> fps=<f> cpu_ms=<c> limit_cpu_ms=<l> ack_p50=<ms> ack_p99=<ms> peak_mb=<m>
# (at 3840x2160 JPEG also at 30 frames a second, as codec "jpeg30"),
# and for each size and viewer the cost of a picture that stands still:
#   e2e <gui|cli> still <W>x<H> cpu_pct=<percent of one core>
# fps, ack_p50 and ack_p99 are the peer's --stats over the measured part;
# cpu_ms is the viewer's CPU time (all threads) in the measured interval
# per frame acknowledged in it; limit_cpu_ms is bench_decode's CPU time per
# frame for decoding the same packets alone, the mean of a measurement just
# before and one just after that viewer's run; peak_mb is the viewer's peak
# resident size (VmHWM) at the end.
#
# usage: bash bench/e2e.sh [--quick] [--only gui|cli] [--codec jpeg|yuv|raw|h264] [--build DIR]
#   --quick  1920x1080 only, 2 s warm-up and 5 s measured instead of 3 s and 10 s
#   --only   one viewer's cases; --codec: one codec's cases, without the still ones
# Needs quillmere-peer, quillmere-cli, quillmere-viewer, quillmere-reg and
# bench_decode built in DIR (default build). QM_E2E_KEEP=1 keeps the
# working folder (logs of every process).
set -u
script=$(readlink -f "$0")
root=$(dirname "$(dirname "$script")")
quick=0
only=
codec_only=
build=$root/build
args=("$@")
while (($#)); do
    case $1 in
    --quick) quick=1 ;;
    --only)
        only=${2:-}
        shift
        ;;
    --codec)
        codec_only=${2:-}
        shift
        ;;
    --build)
        build=$(readlink -f "${2:-}")
        shift
        ;;
    *)
        sed -n '2,/^set -u/p' "$script" | sed '$d' | sed 's/^# \{0,1\}//' >&2
        exit 2
        ;;
    esac
    shift
done
if [[ -n $only && $only != gui && $only != cli ]] || [[ -n $codec_only && ! $codec_only =~ ^(jpeg|yuv|raw|h264)$ ]]; then
    echo "e2e.sh: --only gui|cli, --codec jpeg|yuv|raw|h264" >&2
    exit 2
fi

# The viewers start discovery, which broadcasts on every interface: they run
# only in a network namespace of this script's own, with loopback alone.
if [[ ${QM_E2E_PRIVATE:-} != "$$" ]]; then
    QM_E2E_OUTER_NET=$(readlink /proc/self/ns/net)
    export QM_E2E_OUTER_NET
    for how in "-n" "-r -n"; do
        # shellcheck disable=SC2086
        if unshare $how true 2>/dev/null; then
            # shellcheck disable=SC2086,SC2016
            exec unshare $how bash -c 'QM_E2E_PRIVATE=$$ exec bash "$0" "$@"' "$script" "${args[@]}"
        fi
    done
    echo "e2e.sh: cannot create a network namespace; no viewer is started" >&2
    exit 1
fi

# True only inside a namespace other than the one the script was started
# in, holding nothing but loopback. Checked here and again by the very
# process that then becomes a viewer.
private_network() {
    [[ -n ${QM_E2E_OUTER_NET:-} && $(readlink /proc/self/ns/net) != "$QM_E2E_OUTER_NET" &&
        $(ip -o link show | wc -l) == 1 ]]
}
if ! private_network; then
    echo "e2e.sh: not in a private network namespace of loopback only; no viewer is started" >&2
    exit 1
fi
ip link set lo up || exit 1

peer=$build/peer/quillmere-peer
cli=$build/tools/quillmere-cli
viewer=$build/app/quillmere-viewer
reg=$build/tools/quillmere-reg
decode=$build/bench/bench_decode
for exe in "$peer" "$cli" "$decode" $([[ $only != cli ]] && echo "$viewer" "$reg"); do
    [[ -x $exe ]] || {
        echo "e2e.sh: $exe is missing (build quillmere-peer quillmere-cli quillmere-viewer quillmere-reg bench_decode)" >&2
        exit 2
    }
done

if ((quick)); then
    warmup=2 measure=5 sizes=(1920x1080)
else
    warmup=3 measure=10 sizes=(1920x1080 3840x2160)
fi
codecs=(jpeg yuv raw h264)
[[ -n $codec_only ]] && codecs=("$codec_only")
modes=(gui cli)
[[ -n $only ]] && modes=("$only")
address=127.0.0.1
tick=$(getconf CLK_TCK)

work=$(mktemp -d /tmp/qm-e2e.XXXXXX)
mkdir -p "$work/config" "$work/data"
# The viewers' own settings store, never the user's.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb
unset DISPLAY WAYLAND_DISPLAY QUILLMERE_CONNECT QUILLMERE_SCREENSHOT

peer_pid='' viewer_pid='' xvfb_pid=''
stop() { # pid signal
    [[ -n $1 ]] || return 0
    kill -"$2" "$1" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
finish() {
    stop "$viewer_pid" TERM
    stop "$peer_pid" TERM
    stop "$xvfb_pid" TERM
    if [[ ${QM_E2E_KEEP:-0} == 1 ]]; then
        echo "e2e.sh: output kept in $work" >&2
    else
        rm -rf "$work"
    fi
}
trap finish EXIT

if [[ $only != cli ]]; then
    # The GUI viewer connects to the peer on this machine only when local
    # host connections are enabled; it goes full screen once connected.
    "$reg" set 'Software\harrowfenlab\quillmere' LocalHostConnectionEnable REG_DWORD 1 >/dev/null || exit 1
    "$reg" set 'Software\harrowfenlab\quillmere' FullScreenUponConnectEnable REG_DWORD 1 >/dev/null || exit 1
fi

# xvfb_start WxH: an X server whose screen is the stream's size, so that the
# full-screen viewer shows the picture at its own size.
xvfb_start() {
    [[ $only == cli ]] && return 0
    stop "$xvfb_pid" TERM
    rm -f "$work/display"
    Xvfb -displayfd 9 -screen 0 "${1}x24" -nolisten tcp 9>"$work/display" 2>"$work/xvfb.err" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s $work/display ]] && break
        sleep 0.1
    done
    [[ -s $work/display ]] || { echo "e2e.sh: Xvfb did not start" >&2; cat "$work/xvfb.err" >&2; exit 1; }
    display=:$(head -1 "$work/display")
}

cpu_ticks() { # utime + stime of every thread of a process, in clock ticks
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    awk '{print $12 + $13}' <<<"$stat"
}
now() { date +%s.%N; }

# peer_start NAME PEER-OPTIONS...: waits for its listening line (after any
# --loop frames are encoded).
peer_start() {
    local name=$1
    shift
    "$peer" --bind "$address" "$@" >"$work/$name.peer" 2>"$work/$name.peer.err" &
    peer_pid=$!
    for _ in $(seq 600); do
        grep -q "listening" "$work/$name.peer" 2>/dev/null && return 0
        kill -0 "$peer_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "e2e.sh: $name: the peer did not start" >&2
    cat "$work/$name.peer.err" >&2
    return 1
}

# viewer_start MODE NAME: the viewer connected to the peer, as its own
# process (its pid in viewer_pid); waits until the peer has its connection.
viewer_start() {
    local mode=$1 name=$2
    mkdir -p "$work/$name.runtime"
    chmod 700 "$work/$name.runtime"
    if [[ $mode == gui ]]; then
        (
            private_network || { echo "e2e.sh: refusing to start the viewer outside the private network" >&2; exit 1; }
            export DISPLAY=$display XDG_RUNTIME_DIR=$work/$name.runtime QUILLMERE_CONNECT=$address
            exec "$viewer"
        ) >"$work/$name.viewer" 2>"$work/$name.viewer.err" &
    else
        (
            private_network || { echo "e2e.sh: refusing to start the viewer outside the private network" >&2; exit 1; }
            export XDG_RUNTIME_DIR=$work/$name.runtime
            exec "$cli" --seconds 600 "$address"
        ) >"$work/$name.viewer" 2>"$work/$name.viewer.err" &
    fi
    viewer_pid=$!
    for _ in $(seq 300); do
        grep -q "connection 1 from" "$work/$name.peer" 2>/dev/null && return 0
        kill -0 "$viewer_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "e2e.sh: $name: the viewer did not connect" >&2
    tail -5 "$work/$name.viewer.err" >&2
    return 1
}

# measure: after the warm-up, the viewer's CPU ticks and wall time over the
# measured interval (cpu_s, wall_s) and its peak resident size (peak_kb).
measure() {
    local t0 t1 c0 c1
    sleep "$warmup"
    c0=$(cpu_ticks "$viewer_pid") || return 1
    t0=$(now)
    sleep "$measure"
    c1=$(cpu_ticks "$viewer_pid") || return 1
    t1=$(now)
    peak_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$viewer_pid/status" 2>/dev/null)
    [[ -n $peak_kb ]] || return 1
    cpu_s=$(awk -v a="$c0" -v b="$c1" -v t="$tick" 'BEGIN {printf "%.3f", (b - a) / t}')
    wall_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", b - a}')
}

case_end() {
    stop "$viewer_pid" "$1"
    viewer_pid=
    stop "$peer_pid" TERM
    peer_pid=
}

# limit_measure NAME: bench_decode's CPU milliseconds a frame for the
# current case's packets (options), on standard output.
limit_measure() {
    local ms
    ms=$("$decode" "${options[@]}" 2>"$work/decode-$1.err" | sed -n 's/.*cpu_ms=\([0-9.]*\).*/\1/p')
    [[ -n $ms ]] && echo "$ms"
}

status=0
failed() {
    echo "e2e.sh: $1 failed (logs: $work; QM_E2E_KEEP=1 keeps them)" >&2
    QM_E2E_KEEP=1
    status=1
    case_end KILL
}

for size in "${sizes[@]}"; do
    xvfb_start "$size"
    cases=("${codecs[@]}")
    [[ $size == 3840x2160 && " ${codecs[*]} " == *" jpeg "* ]] && cases+=(jpeg30)
    for codec in "${cases[@]}"; do
        fps=60
        case $codec in
        jpeg) options=(--codec jpeg --quality 70 --fragments 4 --loop 30) ;;
        jpeg30)
            options=(--codec jpeg --quality 70 --fragments 4 --loop 30)
            fps=30
            ;;
        yuv) options=(--codec yuv --fragments 4 --loop 8) ;;
        raw) options=(--codec raw --fragments 4 --loop 4) ;;
        h264) options=(--codec h264 --quality 70 --loop 60) ;;
        esac
        options+=(--size "$size" --motion full)
        # The limit is taken right before and right after each viewer's run
        # and averaged: this machine's speed drifts by a fifth within a
        # minute, and one measurement some seconds away from the run put
        # that drift into the ratio.
        limit_before=$(limit_measure "$codec-$size") || { failed "bench_decode $codec $size"; continue; }
        for mode in "${modes[@]}"; do
            name=$mode-$codec-$size
            peer_start "$name" "${options[@]}" --fps "$fps" --stats --stats-warmup "$warmup" \
                --stats-seconds "$measure" || { failed "$name"; continue; }
            viewer_start "$mode" "$name" || { failed "$name"; continue; }
            measure || { failed "$name (the viewer ended)"; continue; }
            case_end "$([[ $mode == gui ]] && echo TERM || echo INT)"
            stats=$(grep -m1 "^stats " "$work/$name.peer")
            [[ -n $stats ]] || { failed "$name (no stats)"; continue; }
            limit_after=$(limit_measure "$name") || { failed "bench_decode $codec $size"; continue; }
            limit=$(awk -v a="$limit_before" -v b="$limit_after" 'BEGIN {printf "%.3f", (a + b) / 2}')
            limit_before=$limit_after
            awk -v mode="$mode" -v codec="$codec" -v size="$size" -v cpu="$cpu_s" -v wall="$wall_s" \
                -v limit="$limit" -v peak="$peak_kb" '
                {
                    for (i = 2; i <= NF; ++i) { split($i, kv, "="); s[kv[1]] = kv[2] }
                    frames = s["fps"] * wall
                    printf "e2e %s %s %s fps=%.1f cpu_ms=%.2f limit_cpu_ms=%.2f ack_p50=%.1f ack_p99=%.1f peak_mb=%.0f\n",
                        mode, codec, size, s["fps"], (frames > 0 ? cpu * 1000 / frames : 0), limit,
                        s["ack_p50"], s["ack_p99"], peak / 1024
                }' <<<"$stats"
        done
    done
    [[ -n $codec_only ]] && continue
    for mode in "${modes[@]}"; do
        name=$mode-still-$size
        peer_start "$name" --codec jpeg --quality 70 --fragments 4 --size "$size" --still || { failed "$name"; continue; }
        viewer_start "$mode" "$name" || { failed "$name"; continue; }
        measure || { failed "$name (the viewer ended)"; continue; }
        case_end "$([[ $mode == gui ]] && echo TERM || echo INT)"
        awk -v mode="$mode" -v size="$size" -v cpu="$cpu_s" -v wall="$wall_s" \
            'BEGIN {printf "e2e %s still %s cpu_pct=%.2f\n", mode, size, 100 * cpu / wall}'
    done
done
exit $status
