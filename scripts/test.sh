#!/usr/bin/env bash
# Installs what is missing, builds and runs every test:
#   1. the normal build (warnings are errors) and all its tests,
#   2. a second tree under AddressSanitizer + UndefinedBehaviorSanitizer,
#   3. a third tree under ThreadSanitizer for the concurrency tests,
#   4. the format and layering checks.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

bash scripts/setup.sh

status=0
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/qm-runtime.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"

echo "== checks: format and layering"
bash scripts/check.sh || status=1

echo "== build: release"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQM_WERROR=ON >/dev/null
cmake --build build -j"$JOBS"
echo "== test: release"
(cd build && ctest --output-on-failure -j"$JOBS") || status=1

echo "== build: address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=address -DQM_WERROR=ON \
    -DQM_BUILD_APP=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$JOBS"
echo "== test: address and undefined-behaviour sanitizers"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j"$JOBS" -LE no-asan) || status=1

echo "== build: thread sanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=thread -DQM_WERROR=ON \
    -DQM_BUILD_APP=OFF -DQM_BUILD_BENCH=OFF >/dev/null
# Only the tests labelled tsan run here, so only they (and what they start)
# are built.
tsan_targets=$(cd build-tsan && ctest -N -L tsan | sed -n 's/^ *Test *#[0-9]*: *//p')
cmake --build build-tsan -j"$JOBS" --target $tsan_targets
echo "== test: thread sanitizer"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --output-on-failure -j"$JOBS" -L tsan) || status=1

if [ $status -eq 0 ]; then
    echo "== all tests passed"
else
    echo "== some tests FAILED"
fi
exit $status
