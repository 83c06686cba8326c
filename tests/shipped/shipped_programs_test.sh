#!/usr/bin/env bash
# What ships is three 32-bit programs that need nothing beside themselves: each is PE32 for
# i386, stripped, and imports only DLLs that every Windows has, and Updater.exe carries its
# dialog, artwork, icon and version block and stays small; it and mkmanifest.exe run asInvoker.
# Runs on the host, without Wine, on whichever build is tested.
# Usage: shipped_programs_test.sh BIN_DIR
set -euo pipefail
export LC_ALL=C # binutils speak the locale's language otherwise
bin="$1"
objdump=i686-w64-mingw32-objdump
windres=i686-w64-mingw32-windres
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

system_dlls=" advapi32.dll comctl32.dll crypt32.dll gdi32.dll kernel32.dll msimg32.dll msvcrt.dll "
system_dlls+="ntdll.dll ole32.dll oleaut32.dll psapi.dll shell32.dll shlwapi.dll user32.dll wininet.dll "

for exe in Updater.exe Quillmarket.exe mkmanifest.exe; do
  file="$bin/$exe"
  if [ ! -f "$file" ]; then
    fail "$file is missing"
    continue
  fi
  header=$("$objdump" -f "$file" 2>&1 || true)
  grep -q 'file format pei-i386' <<<"$header" || fail "$exe is not PE32 (i386): $header"
  while read -r dll; do
    case "$system_dlls" in
    *" ${dll,,} "*) ;;
    *) fail "$exe imports $dll, which does not come with Windows" ;;
    esac
  done < <("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
done

# Shipped stripped, and without heavy parts of the C++ library that slip in unnoticed (string
# streams alone bring 800 KB of locale machinery).
max_updater_bytes=491520 # 480 KB: the artwork stays 24-bit, so this is a guard, not a goal
size=$(stat -c %s "$bin/Updater.exe" 2>/dev/null || echo 0)
[ "$size" -le "$max_updater_bytes" ] ||
  fail "Updater.exe is $size bytes, more than $max_updater_bytes: see what the link map pulls in"
for exe in Updater.exe Quillmarket.exe mkmanifest.exe; do
  "$objdump" -t "$bin/$exe" 2>/dev/null | grep -q 'no symbols' || fail "$exe is not stripped"
done

# Test builds shorten the network limits through UPDATER_TEST_ONLY_* variables; what ships must
# not read them (a client passes its environment on to the updater).
if grep -q TEST_ONLY "$bin/Updater.exe"; then
  fail "Updater.exe carries a test-only hook (the text TEST_ONLY occurs in it)"
fi

resources=$("$windres" -i "$bin/Updater.exe" -O rc 2>/dev/null || true)
for wanted in '^102 DIALOGEX' '^128 14 ' '^129 2 ' '^130 2 ' '^131 2 ' '^132 2 ' '^1 VERSIONINFO'; do
  grep -qE "$wanted" <<<"$resources" || fail "Updater.exe has no resource matching '$wanted'"
done

# Without a requested execution level, Windows asks for elevation before every start of a 32-bit
# program named like an updater or installer.
for exe in Updater.exe mkmanifest.exe; do
  manifest=$("$windres" -i "$bin/$exe" -O rc 2>/dev/null | sed -n '/^1 24 /,/^END/p' || true)
  grep -q 'requestedExecutionLevel level=""asInvoker""' <<<"$manifest" ||
    fail "$exe has no application manifest (resource 1) asking to run asInvoker"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed on the programs in $bin"
  exit 1
fi
echo "the shipped programs in $bin are PE32, self-contained and carry their resources"
