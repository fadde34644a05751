#!/usr/bin/env bash
# Format check (clang-format) and layering check: only app/ and the on-screen
# part of render/ may include Qt.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0

files=$(git ls-files '*.cpp' '*.h' 2>/dev/null)
if [ -n "$files" ]; then
    if ! report=$(echo "$files" | xargs clang-format --dry-run --Werror 2>&1 >/dev/null); then
        echo "check: files are not clang-formatted:"
        echo "$report" | grep -o '^[^:]*\.\(cpp\|h\)' | sort -u | sed 's/^/  /'
        status=1
    fi
fi

qt=$(git ls-files '*.cpp' '*.h' | grep -v -E '^(app/|render/qt/|tests/app/|tests/app_input/|tests/dialogs/|tests/render_qt/)' \
    | xargs -r grep -l -E '#include *[<"]Q[A-Za-z]*(/|>)' 2>/dev/null)
if [ -n "$qt" ]; then
    echo "check: Qt included outside app/, render/qt/ and their tests:"
    echo "$qt" | sed 's/^/  /'
    status=1
fi
[ $status -eq 0 ] && echo "check: format and layering ok"
exit $status
