#!/usr/bin/env bash
# Installs what is missing, builds and runs every test:
#   1. the normal build (warnings are errors) and all its tests,
#   2. a second tree under AddressSanitizer + UndefinedBehaviorSanitizer,
#   3. a third tree under ThreadSanitizer for the concurrency tests,
#   4. a fourth tree, with clang, of the libFuzzer targets only (ASan and
#      UBSan too), each run for FUZZ_SECONDS (default 20) seconds,
#   5. the format and layering checks.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

bash scripts/setup.sh

# Runs ctest in the tree $1 with the remaining arguments. LeakSanitizer stops
# every thread with a ptrace tracer at exit; rarely that tracer itself crashes
# ("Tracer caught signal 11") after every test case has passed, which says
# nothing about the program. Only tests whose failure is exactly that are run
# once more; any other failure stands.
run_ctest() {
    local tree=$1
    shift
    (cd "$tree" && ctest --output-on-failure "$@") && return 0
    local failed=$tree/Testing/Temporary/LastTestsFailed.log
    local log=$tree/Testing/Temporary/LastTest.log
    [ -s "$failed" ] || return 1
    local name
    for name in $(cut -d: -f2 "$failed"); do
        awk -v name="$name" '
            $0 ~ "^[0-9]+/[0-9]+ Testing: " name "$" { inside = 1; next }
            inside && /^<end of output>$/ { exit }
            inside && /LeakSanitizer has encountered a fatal error/ { found = 1 }
            END { exit found ? 0 : 1 }' "$log" || return 1
    done
    echo "== the leak checker's own tracer crashed in: $(cut -d: -f2 "$failed" | tr '\n' ' ')- running them once more"
    (cd "$tree" && ctest --output-on-failure --rerun-failed)
}

status=0
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb}
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
    XDG_RUNTIME_DIR=$(mktemp -d /tmp/qm-runtime.XXXXXX)
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
export XDG_RUNTIME_DIR
chmod 700 "$XDG_RUNTIME_DIR"

echo "== checks: format and layering"
bash scripts/check.sh || status=1

echo "== build: release"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQM_WERROR=ON >/dev/null
cmake --build build -j"$JOBS"
echo "== packaging: menu entry, AppStream metadata, Debian package"
desktop-file-validate packaging/*.desktop || status=1
appstreamcli validate --no-net packaging/*.metainfo.xml || status=1
(cd build && cpack -G DEB) || status=1
echo "== test: release"
run_ctest build -j"$JOBS" || status=1

echo "== build: address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=address -DQM_WERROR=ON \
    -DQM_BUILD_APP=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$JOBS"
echo "== test: address and undefined-behaviour sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build-asan -j"$JOBS" -LE no-asan || status=1

echo "== build: thread sanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=thread -DQM_WERROR=ON \
    -DQM_BUILD_APP=OFF -DQM_BUILD_BENCH=OFF >/dev/null
# Only the tests labelled tsan run here, so only they (and what they start)
# are built.
tsan_targets=$(cd build-tsan && ctest -N -L tsan | sed -n 's/^ *Test *#[0-9]*: *//p')
cmake --build build-tsan -j"$JOBS" --target $tsan_targets
echo "== test: thread sanitizer"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest build-tsan -j"$JOBS" -L tsan || status=1

echo "== build: fuzz targets (clang, address and undefined-behaviour sanitizers)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_SANITIZE=address \
    -DQM_FUZZ=ON -DQM_BUILD_APP=OFF -DQM_BUILD_BENCH=OFF >/dev/null
# Only the fuzz targets (and the libraries they reach) are built here.
cmake --build build-fuzz -j"$JOBS" --target fuzz_all
echo "== test: every fuzz target for ${FUZZ_SECONDS:-20} s"
bash bench/fuzz.sh --tree build-fuzz --seconds "${FUZZ_SECONDS:-20}" || status=1

if [ $status -eq 0 ]; then
    echo "== all tests passed"
else
    echo "== some tests FAILED"
fi
exit $status
