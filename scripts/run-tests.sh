#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine and Xvfb: on the 32-bit build
# that ships where this host can run it, else on the 64-bit build (ARCH=i686|x86_64 to choose).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
source "$root/scripts/wine-arch.sh"
wine_arch_choose "$build" tests
wine_arch_build "$root"
build="$RUN_BUILD"

source "$root/scripts/wine-session.sh"
stopped=""
finish() {
  [ -n "$stopped" ] && return
  stopped=1
  wine_session_stop
}
trap finish EXIT
trap 'finish; exit 130' INT
trap 'finish; exit 143' TERM

wine_session_start "$build" "$build/tests/wine_keepalive.exe"
# No pipe after ctest: a Wine service started by a test would hold it open.
set +e
ctest --test-dir "$build" --output-on-failure -j2 --output-log "$build/ctest.log" "$@"
status=$?
set -e
finish
# The run ends with ctest's summary line.
grep -E '^[0-9]+% tests passed' "$build/ctest.log" | tail -n 1
exit "$status"
