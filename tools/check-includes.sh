#!/usr/bin/env bash
# Checks that includes point down only: no Qt below the window, no window folder from a
# library, update/ not from services/ or platform/, services/ not from platform/. Prints each
# include that points the wrong way and exits non-zero when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
# check FOLDERS PATTERN WHY: no tracked *.cpp/*.h under FOLDERS has an include matching PATTERN.
check() {
    local folders=$1 pattern=$2 why=$3 hits
    # shellcheck disable=SC2086
    hits=$(git ls-files -- $folders | grep -E '\.(cpp|h)$' |
        xargs -r grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($pattern)" || true)
    if [ -n "$hits" ]; then
        printf '%s\n%s\n' "$why:" "$hits"
        status=1
    fi
}

libraries="engine platform services update tools/cli"
check "$libraries" 'Q[A-Za-z]+|qt' 'Qt included below the window'
check "$libraries" '(ui|files|about|program)/' 'a window folder included from a library'
check "services platform" 'update/' 'update/ included from services/ or platform/'
check "platform" 'services/' 'services/ included from platform/'
check "engine" '(platform|services|update)/' 'a library above the engine included from the engine'
check "files about ui" 'program/' 'the main window included from a window part'
check "ui" '(files|about)/' 'a window part included from ui/'

exit $status
