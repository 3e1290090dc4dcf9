#!/bin/sh
# End-to-end check of the real program on a virtual display.
#
#   tests/app/e2e.sh [PROGRAM] [PICTURE]      (PICTURE: tests/data/engine/small-photo.jpg)
#
# Starts a copy of PROGRAM (default build/program/tintavo) under xvfb-run with HOME and the
# XDG folders in a fresh temporary folder and its update service on a loopback server, then
# drives it with xdotool like a user would:
#   1. installed run: load PICTURE through the file chooser (Ctrl+O), which renders it, then
#      Ctrl+Q; the run log must tell the whole story and the data folder must stay;
#   2. portable run: start and Ctrl+Q; the data folder, the company folder and the registry
#      hive must be gone and settings.ini must carry the settings back.
# Needs xvfb-run, xdotool and python3 (exits 77, "skipped", without them). Exits 0 when
# every check holds.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
program=$(realpath "${1:-$root/build/program/tintavo}")
picture=$(realpath "${2:-$root/tests/data/engine/small-photo.jpg}")

# Exit code 77 tells CTest the check was skipped.
for tool in xvfb-run xdotool python3; do
    command -v "$tool" >/dev/null || { echo "e2e: $tool is missing, skipped"; exit 77; }
done
# Always on a display of its own, never on the user's.
if [ -z "${TINTAVO_E2E_DISPLAY:-}" ]; then
    TINTAVO_E2E_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$program" "$picture"
fi
[ -x "$program" ] || { echo "e2e: no program at $program"; exit 2; }
[ -r "$picture" ] || { echo "e2e: no picture at $picture"; exit 2; }

sandbox=$(mktemp -d "${TMPDIR:-/tmp}/tintavo-e2e-XXXXXX")
server_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$sandbox"
}
trap cleanup EXIT INT TERM

export HOME="$sandbox/home"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config"
export XDG_STATE_HOME="$HOME/.local/state" XDG_CACHE_HOME="$HOME/.cache"
export XDG_DATA_DIRS="$sandbox/share" XDG_CONFIG_DIRS="$sandbox/etc/xdg"
export XDG_RUNTIME_DIR="$sandbox/run"
unset QT_QPA_PLATFORM
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

failures=0
check() { # check DESCRIPTION COMMAND...
    what=$1; shift
    if "$@"; then echo "ok   - $what"; else echo "FAIL - $what"; failures=$((failures + 1)); fi
}
wait_for() { # wait_for SECONDS COMMAND...: true once COMMAND succeeds
    limit=$(($1 * 10)); shift
    while [ "$limit" -gt 0 ]; do
        "$@" 2>/dev/null && return 0
        sleep 0.1; limit=$((limit - 1))
    done
    return 1
}

# The update service: answers every check with the version the program has, and stops by
# itself after a minute.
mkdir -p "$sandbox/www/zelk"
printf '%s' "1.8.0.16" > "$sandbox/www/zelk/check.php"
timeout 60 python3 -c '
import http.server, functools, sys
class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass
handler = functools.partial(Quiet, directory=sys.argv[1])
server = http.server.HTTPServer(("127.0.0.1", 0), handler)
open(sys.argv[2], "w").write(str(server.server_address[1]))
server.serve_forever()
' "$sandbox/www" "$sandbox/port" &
server_pid=$!
wait_for 10 test -s "$sandbox/port" || { echo "e2e: the update server did not start"; exit 1; }
port=$(cat "$sandbox/port")

# A portable copy of the program in its own folder, with the settings it carries.
app="$sandbox/app"
mkdir -p "$app"
cp "$program" "$app/tintavo"
printf '[Settings]\nWebSite=http://127.0.0.1:%s\n' "$port" > "$app/settings.ini"

data="$XDG_DATA_HOME/Orvane/Tintavo"
log="$data/Tintavo.log"
hive="$XDG_CONFIG_HOME/Orvane/registry.reg"

start_program() { # start_program ARGS...: starts it and gives its window the focus
    "$app/tintavo" "$@" > "$sandbox/stdout.txt" 2>&1 &
    app_pid=$!
    window=$(timeout 15 xdotool search --sync --name "^Tintavo" | head -1)
    [ -n "$window" ] || { echo "e2e: no window appeared"; cat "$sandbox/stdout.txt"; exit 1; }
    xdotool windowfocus --sync "$window"
}
close_program() { # Ctrl+Q on the main window, then wait for the process to end
    xdotool windowfocus --sync "$window" key ctrl+q
    if wait_for 10 sh -c "! kill -0 $app_pid"; then
        wait "$app_pid" || true
        app_pid=""
        return 0
    fi
    return 1
}
log_has() { grep -qF -- "$1" "$log"; }
first_line_is() { head -n 1 "$log" | tr -d '\r' | grep -q "	$1\$"; }

echo "# run 1: installed, load and render a picture"
mkdir -p "$XDG_DATA_HOME/applications"
printf '[Desktop Entry]\nType=Application\nName=Orvane Tintavo\nExec=tintavo\n' \
    > "$XDG_DATA_HOME/applications/orvane-tintavo.desktop"
# An installed copy reads its settings from the registry only.
mkdir -p "$(dirname "$hive")"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Orvane\\Tintavo]\n"WebSite"="http://127.0.0.1:%s"\n' \
    "$port" > "$hive"
start_program "first-parameter"
check "start-up report written" wait_for 10 log_has "Check for update"
check "update check answered by the loopback service" \
    wait_for 15 log_has "Tintavo is already up to date."
xdotool windowfocus --sync "$window" key ctrl+o
check "file chooser opened" wait_for 10 sh -c \
    "[ \"\$(xdotool getwindowfocus)\" != \"$window\" ]"
xdotool type --delay 5 "$picture"
xdotool key Return
check "picture loaded into the working copy" wait_for 15 test -s "$data/Tintavo.jpg"
check "picture rendered" wait_for 15 log_has "Rendering..."
check "program closed by Ctrl+Q" close_program
check "log ends with the closing line" first_line_is "Closing Tintavo"
for line in "Starting" "$app/tintavo" "Tintavo v1.8.0.16" "Windows : " "64Bits : " \
    "Administrator : " "Portable : No" "first-parameter" "Loading : $picture" \
    "Tintavo Update self check : Server replied 1.8.0.16"; do
    check "log holds \"$line\"" log_has "$line"
done
check "no error in the log" sh -c "! grep -q '^Error' '$log'"
check "installed run keeps its data folder" test -d "$data"
check "installed run keeps its program path" grep -q "\"Tintavo\"=" "$hive"

echo "# run 2: portable, start and close"
rm -f "$XDG_DATA_HOME/applications/orvane-tintavo.desktop"
start_program
check "portable start-up report written" wait_for 10 log_has "Portable : Yes"
check "program closed by Ctrl+Q" close_program
check "data folder removed" test ! -e "$data"
check "company folder removed" test ! -e "$XDG_DATA_HOME/Orvane"
check "registry entries removed" sh -c "! grep -qi 'Tintavo' '$hive' 2>/dev/null"
check "settings carried back to settings.ini" grep -q "^WebSite=http://127.0.0.1:$port" \
    "$app/settings.ini"

if [ "$failures" -ne 0 ]; then
    echo "e2e: $failures check(s) failed"
    exit 1
fi
echo "e2e: all checks passed"
