#!/usr/bin/env bash
# make demo: runs the demo installer image under Wine, in a Wine prefix of its own.
#   run-demo.sh IMAGE DEMO_DRIVER BUILD_DIR
# With a display, the setup opens in a window for you to use; afterwards the installed files
# and shortcuts are listed. Without one, it runs under Xvfb and demo-driver works it: Accept,
# Install, each message line as it appears (coloured on a terminal), a screenshot of the dialog
# at the end (BUILD_DIR/demo-screenshot.png), then what the installation left behind.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 IMAGE DEMO_DRIVER BUILD_DIR" >&2
  exit 2
fi
image=$(realpath "$1") driver=$(realpath "$2") build=$(realpath "$3")
for file in "$image" "$driver"; do
  [ -f "$file" ] || { echo "run-demo: missing $file (run make dist first)" >&2; exit 1; }
done
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../wine-run
wine_root=$build/wine-demo
screenshot=$build/demo-screenshot.png

stop_wine() { WINEPREFIX=$wine_root/prefix timeout 30 wineserver -k >/dev/null 2>&1 || true; }

# Colours a "[colour] text" line from demo-driver for the terminal.
colorize() {
  if [ -t 1 ]; then
    sed -u -e 's/^\[black\] \(.*\)$/  \1/' \
      -e 's/^\[olive\] \(.*\)$/  \x1b[33m\1\x1b[0m/' \
      -e 's/^\[red\] \(.*\)$/  \x1b[31m\1\x1b[0m/' \
      -e 's/^\[navy\] \(.*\)$/  \x1b[34m\1\x1b[0m/' \
      -e 's/^\[green\*\] \(.*\)$/  \x1b[1;32m● \1 ●\x1b[0m/' \
      -e 's/^\[red\*\] \(.*\)$/  \x1b[1;31m● \1 ●\x1b[0m/'
  else
    cat
  fi
}

if [ -n "${DISPLAY:-}" ] && [ -z "${RUN_DEMO_HEADLESS:-}" ]; then
  trap stop_wine EXIT
  echo "Starting $image in a window; close the setup to end the demo."
  WINE_RUN_TIMEOUT=86400 "$wine_run" "$wine_root" "$image" </dev/null >/dev/null 2>&1 || true
  stop_wine
  WINE_RUN_TIMEOUT=60 "$wine_run" "$wine_root" "$driver" --report </dev/null 2>/dev/null
  exit 0
fi

if [ -z "${RUN_DEMO_HEADLESS:-}" ]; then
  echo "No display: running the demo under Xvfb."
  RUN_DEMO_HEADLESS=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

trap stop_wine EXIT
rm -f "$screenshot"
# The driver's output goes through a file: programs started under Wine can keep a pipe open long
# after they are done with it, a file they can keep.
log=$(mktemp)
trap 'stop_wine; rm -f "$log"' EXIT
WINE_RUN_TIMEOUT=300 "$wine_run" "$wine_root" "$driver" "$image" --screenshot "$screenshot" \
  </dev/null >"$log" 2>&1 &
driver_pid=$!
tail -n +1 -f --pid=$driver_pid "$log" | colorize
status=0
wait $driver_pid || status=$?
[ -f "$screenshot" ] && echo "Screenshot of the dialog: $screenshot"
exit $status
