# Sourced by the test, demo, screenshot and benchmark scripts: decides which build runs under
# Wine on this host, and builds it. The 32-bit build is what ships and is always built, into
# BUILD_DIR. Some hosts cannot execute 32-bit programs at all; there the same sources are also
# built for 64 bits, into BUILD_DIR/x86_64, and that build is the one run.
#
# ARCH=i686|x86_64 picks one by hand; the default is the 32-bit build wherever it can run.
#
# Usage: wine_arch_choose BUILD_DIR LABEL   sets WINE_ARCH (i686|x86_64) and RUN_BUILD, prints
#                                           one line saying which and why
#        wine_arch_build SOURCE_DIR [TARGET...]   configures and builds both as needed

WINE32_LOADER=/usr/lib/wine/wine
WINE64_LOADER=/usr/lib/wine/wine64

# Tries the 32-bit loader once: no guess from uname or the kernel's configuration can tell,
# since hosts that refuse 32-bit programs may still report IA-32 emulation as built in.
wine_arch_host_runs_32bit() {
  local out
  if out=$("$WINE32_LOADER" --version 2>&1); then
    return 0
  fi
  WINE_ARCH_REFUSAL="$WINE32_LOADER --version: $(printf '%s' "$out" | head -n 1)"
  [ -x "$WINE32_LOADER" ] || WINE_ARCH_REFUSAL="$WINE32_LOADER is not installed"
  return 1
}

wine_arch_choose() {
  local build="$1" label="$2" why
  SHIPPED_BUILD="$build"
  case "${ARCH:-}" in
  "")
    if wine_arch_host_runs_32bit; then
      WINE_ARCH=i686
      why="this host runs 32-bit Windows programs under Wine"
    else
      WINE_ARCH=x86_64
      why="this host cannot run 32-bit programs ($WINE_ARCH_REFUSAL); the 32-bit build is still built"
    fi
    ;;
  i686)
    if ! wine_arch_host_runs_32bit; then
      echo "$label: ARCH=i686, but this host cannot run 32-bit programs ($WINE_ARCH_REFUSAL); use ARCH=x86_64" >&2
      return 1
    fi
    WINE_ARCH=i686
    why="asked for with ARCH=i686"
    ;;
  x86_64)
    WINE_ARCH=x86_64
    why="asked for with ARCH=x86_64; the 32-bit build is still built"
    ;;
  *)
    echo "$label: ARCH must be i686 or x86_64, not '$ARCH'" >&2
    return 1
    ;;
  esac
  if [ "$WINE_ARCH" = i686 ]; then
    RUN_BUILD="$build"
    echo "$label: running the 32-bit build (i686, the one that ships) in $RUN_BUILD: $why"
  else
    if [ ! -x "$WINE64_LOADER" ]; then
      echo "$label: the 64-bit Wine ($WINE64_LOADER) is missing; scripts/setup.sh installs it" >&2
      return 1
    fi
    RUN_BUILD="$build/x86_64"
    echo "$label: running the 64-bit build (x86_64) in $RUN_BUILD: $why"
  fi
  export WINE_ARCH
}

# Configures and builds TARGETs (everything when none are named) in the build that runs; where
# that is the 64-bit build, the shipped 32-bit programs are built too and the checks of the
# shipped programs look at them.
wine_arch_build() {
  local root="$1"
  shift
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake -S "$root" -B "$SHIPPED_BUILD" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
  if [ "$WINE_ARCH" = i686 ]; then
    cmake --build "$SHIPPED_BUILD" -j"$(nproc)" "${targets[@]}"
    return
  fi
  cmake --build "$SHIPPED_BUILD" -j"$(nproc)" --target Updater Quillmarket mkmanifest
  cmake -S "$root" -B "$RUN_BUILD" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DSHIPPED_BIN_DIR="$SHIPPED_BUILD/bin" >/dev/null
  cmake --build "$RUN_BUILD" -j"$(nproc)" "${targets[@]}"
}
