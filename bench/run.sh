#!/usr/bin/env bash
# Measures the figures of docs/performance.md, each as a ratio of two things timed side by side
# in this one run, under the same Wine session: the digest against md5sum, a run with nothing
# to update against md5sum plus an empty program's start, the engine's download against a bare
# WinInet loop, and the engine's peak working set for a small and a large download; beside them
# the parts that explain them (the digest fed larger reads, the start-up alone, 1000 empty
# entries, curl, the whole program with its window, also with nothing to verify); and the
# all-or-nothing installation of 1000 files against the plain move loop it replaced; the starts
# with nothing to update over 1000 files and over 8 x 256 MiB, with and without the digest cache;
# and a changed 256 MiB file rebuilt from its installed copy against its whole download.
# Takes about 9 minutes; prints a Markdown table and keeps it in BUILD_DIR/bench-results.md.
# Usage: bench/run.sh [REPEAT]   (median of REPEAT pairs, default 7)
#        BENCH_ONLY=2 bench/run.sh   (only the starts with nothing to update: figures 2 and 7)
#        BENCH_ONLY=8 bench/run.sh   (only the changed file rebuilt from its installed copy)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
data="$build/bench-data"
repeat="${1:-7}"
only="${BENCH_ONLY:-}"
want() { [ -z "$only" ] || [ "$only" = "$1" ]; }

"$root/scripts/setup.sh" >/dev/null
source "$root/scripts/wine-arch.sh"
wine_arch_choose "$build" bench || exit 1
wine_arch_build "$root" Updater mkmanifest wine_keepalive digest_speed download_speed run_timer \
  empty_program engine_memory install_speed >/dev/null
build="$RUN_BUILD"

# Everything from here on runs on one CPU: under Wine every socket read and every message to
# another thread is a round trip through wineserver, and when the two sides sit on different
# virtual CPUs each wake-up crosses CPUs, which made the same download take 1.5 s or 7 s from
# one run to the next. BENCH_CPU=all leaves the scheduler free.
cores=$(nproc)
bench_cpu="${BENCH_CPU:-$((cores - 1))}"
if [ "$bench_cpu" != all ]; then taskset -p -c "$bench_cpu" $$ >/dev/null; fi

source "$root/scripts/wine-session.sh"
source "$root/scripts/http-serve.sh"
finished=""
finish() {
  [ -n "$finished" ] && return
  finished=1
  http_serve_stop
  wine_session_stop
  rm -rf "$data"
}
trap finish EXIT
trap 'finish; exit 130' INT
trap 'finish; exit 143' TERM

say() { printf 'bench: %s\n' "$*" >&2; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
now() { date +%s%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b - a) / 1e9 }'; }
# The value of NAME=... in a program's output (Wine's console output ends lines with CR).
field() { tr -d '\r' | sed -n "s/.*\\b$1=\\([0-9.]*\\).*/\\1/p" | head -n 1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib_s() { awk -v s="$2" -v m="$1" 'BEGIN { printf (m / s < 10 ? "%.1f" : "%.0f"), m / s }'; }
spread() { printf '%s\n' "$@" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo "-" hi }'; }
bin="$build/bin"
benchbin="$build/bench"

# --- data: one 256 MiB file, 1000 files of 256 MiB in all, sparse files for memory ----------
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
say "preparing $data"
rm -rf "$data"
mkdir -p "$data/big" "$data/many" "$data/install-dl" "$data/temp" "$data/m16" "$data/m1024" \
  "$data/www/big" "$data/www/many"
head -c $((256 << 20)) /dev/urandom >"$data/big/big.bin"
head -c $((256 << 20)) /dev/urandom >"$data/many.bin"
(cd "$data/many" && split -a 3 -d -n 1000 --additional-suffix=.dat "$data/many.bin" f)
rm "$data/many.bin"
truncate -s 16M "$data/m16/big.bin"
truncate -s 1G "$data/m1024/big.bin"
ln -s "$data/big" "$data/www/big/update"
ln -s "$data/many" "$data/www/many/update"
ln -s "$data/m16" "$data/www/m16"
ln -s "$data/m1024" "$data/www/m1024"
mkdir -p "$data/www/m16w" "$data/install-16" "$data/nothing" "$data/www/nothing" "$data/empties" \
  "$data/www/empties"
ln -s "$data/nothing" "$data/www/nothing/update"
ln -s "$data/empties" "$data/www/empties/update"
(cd "$data/empties" && for i in $(seq -w 0 999); do : >"f$i.dat"; done)
mkdir -p "$data/small" "$data/www/small"
ln -s "$data/small" "$data/www/small/update"
for i in $(seq -w 1 50); do head -c $((4096 + 97 * 10#$i)) /dev/urandom >"$data/small/s$i.dat"; done
ln -s "$data/m16" "$data/www/m16w/update"
# 8 x 256 MiB, nothing to update: the start that grows with the installation without the cache.
mkdir -p "$data/eight" "$data/www/eight"
ln -s "$data/eight" "$data/www/eight/update"
for i in 1 2 3 4 5 6 7 8; do head -c $((256 << 20)) /dev/urandom >"$data/eight/g$i.bin"; done
# The same download from a list whose entry has no md5: the program then has nothing to verify.
mkdir -p "$data/unchecked" "$data/www/unchecked" "$data/install-dlu"
ln -s "$data/big/big.bin" "$data/unchecked/big.bin"
ln -s "$data/unchecked" "$data/www/unchecked/update"

wine_session_start "$build" "$build/tests/wine_keepalive.exe"
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/many")" 1.0 >/dev/null
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/big")" 1.0 >/dev/null
sed 's/md5="[0-9a-f]*"/md5=""/' "$data/big/update.xml" >"$data/unchecked/update.xml"
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/m16")" 1.0 >/dev/null
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/nothing")" 1.0 >/dev/null # an empty list
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/empties")" 1.0 >/dev/null
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/small")" 1.0 >/dev/null
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/eight")" 1.0 >/dev/null
http_serve_start "$data/www" "$data" || exit 1
[ "$HTTP_SERVE_KIND" = nginx ] || say "nginx is missing: Python's server stands in (slower)"
base="http://127.0.0.1:$HTTP_SERVE_PORT"
# The no-update run: the updater sits among the 1000 files it checks.
cp "$bin/Updater.exe" "$data/many/"
printf '[Download]\r\nsite1=%s/many\r\n' "$base" >"$data/many/Updater.INI"
# The whole program's download: an empty installation that fetches big.bin.
cp "$bin/Updater.exe" "$data/install-dl/"
printf '[Download]\r\nsite1=%s/big\r\n' "$base" >"$data/install-dl/Updater.INI"
cp "$bin/Updater.exe" "$data/install-dlu/"
printf '[Download]\r\nsite1=%s/unchecked\r\n' "$base" >"$data/install-dlu/Updater.INI"
# The same start with an empty list: start-up, COM and the manifest fetch without digests.
cp "$bin/Updater.exe" "$data/nothing/"
printf '[Download]\r\nsite1=%s/nothing\r\n' "$base" >"$data/nothing/Updater.INI"
# And with 1000 empty files: the cost of an entry without the cost of its bytes.
cp "$bin/Updater.exe" "$data/empties/"
printf '[Download]\r\nsite1=%s/empties\r\n' "$base" >"$data/empties/Updater.INI"
# The start users see most: 50 small files, all current.
cp "$bin/Updater.exe" "$data/small/"
printf '[Download]\r\nsite1=%s/small\r\n' "$base" >"$data/small/Updater.INI"
cp "$bin/Updater.exe" "$data/eight/"
printf '[Download]\r\nsite1=%s/eight\r\n' "$base" >"$data/eight/Updater.INI"
cp "$bin/Updater.exe" "$data/install-16/"
printf '[Download]\r\nsite1=%s/m16w\r\n' "$base" >"$data/install-16/Updater.INI"
cat "$data/big/big.bin" "$data/many"/*.dat "$data/eight"/*.bin >/dev/null # all in the page cache
# The run log, where the check says how many files it took from the digest cache.
run_log=$("$WINE" winepath -u "$("$WINE" cmd /c echo %TEMP% | tr -d '\r')\Quillmarket-Updater.log" |
  tr -d '\r')

# The check's last count of the files it took from the digest cache and of those it hashed.
cache_counts() {
  tr -d '\r' <"$run_log" | sed -n 's/.*local files: \([0-9]*\) taken from the digest cache, \([0-9]*\) hashed.*/\1 \2/p' | tail -n 1
}
no_cache() { rm -f "$data/$1/Update/digests.cache"; }
# The updater digests on every processor, so both sides may use them all in figures 2 and 7.
all_cpus="0-$((cores - 1))"
none_of() { # FOLDER: seconds from the updater's start in it to its "nothing to update"
  taskset -c "$all_cpus" "$WINE" "$benchbin/run_timer.exe" none "$(winpath "$data/$1/Updater.exe")" |
    field seconds
}
# Pinned to the one CPU, as every start but the first starts that hash on every
# processor: a start that hashes nothing only loses by crossing CPUs.
pinned_none_of() { "$WINE" "$benchbin/run_timer.exe" none "$(winpath "$data/$1/Updater.exe")" | field seconds; }
empty_start() { "$WINE" "$benchbin/run_timer.exe" run "$(winpath "$benchbin/empty_program.exe")" | field seconds; }
over() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a - b }'; }
first_start() { # FOLDER FILE...: a start without the digest cache, then md5sum over the files
  local seconds t0
  no_cache "$1"
  # This host's memory manager evicts file pages after some seconds: read them in
  # again, or the updater would pay for the disk and md5sum, after it, would not.
  cat "${@:2}" >/dev/null
  seconds=$(none_of "$1")
  t0=$(now)
  taskset -c "$all_cpus" md5sum "${@:2}" >/dev/null
  echo "$seconds $(elapsed "$t0" "$(now)")"
}

if want all; then
# --- 1. digest throughput -----------------------------------------------------------------
say "1. digest of 256 MiB: CFileDigest against md5sum, $repeat times"
ours=() theirs=() pairs1=() big_reads=()
for _ in $(seq "$repeat"); do
  out=$("$WINE" "$benchbin/digest_speed.exe" "$(winpath "$data/big/big.bin")")
  o=$(field seconds <<<"$out")
  digest=$(tr -d '\r' <<<"$out" | sed -n 's/.*md5=//p')
  t0=$(now)
  sum=$(md5sum "$data/big/big.bin" | cut -d' ' -f1)
  t=$(elapsed "$t0" "$(now)")
  ours+=("$o") theirs+=("$t") pairs1+=("$(ratio "$t" "$o")")
  big_reads+=("$("$WINE" "$benchbin/digest_speed.exe" "$(winpath "$data/big/big.bin")" 65536 | field seconds)")
done
digest_64k=$(median "${big_reads[@]}")
[ "$digest" = "$sum" ] || { say "digest mismatch: $digest vs $sum"; exit 1; }
digest_ours=$(median "${ours[@]}")
digest_md5sum=$(median "${theirs[@]}")
fi

# --- 2. a run with nothing to update --------------------------------------------------------
say "2. nothing to update, 1000 files / 256 MiB, no digest cache: updater against md5sum + empty program, $repeat times"
ours=() sums=() empties=() startups=() entries=() pairs2=() smalls=() small_over=()
none_of small >/dev/null # 2'': the start users see most, with the digest cache written
for _ in $(seq "$repeat"); do
  read -r o m < <(first_start many "$data/many"/*.dat)
  e=$(empty_start)
  startups+=("$(pinned_none_of nothing)")
  no_cache empties
  entries+=("$(pinned_none_of empties)")
  s50=$(pinned_none_of small)
  smalls+=("$s50") small_over+=("$(over "$s50" "$e")")
  ours+=("$o") sums+=("$m") empties+=("$e")
  pairs2+=("$(awk -v o="$o" -v m="$m" -v e="$e" 'BEGIN { printf "%.2f", o / (m + e) }')")
done
none_startup=$(median "${startups[@]}")
none_entries=$(median "${entries[@]}")
none_ours=$(median "${ours[@]}")
none_md5sum=$(median "${sums[@]}")
none_empty=$(median "${empties[@]}")
small_run=$(median "${smalls[@]}")
small_extra=$(median "${small_over[@]}")
none_base=$(awk -v a="$none_md5sum" -v b="$none_empty" 'BEGIN { printf "%.4f", a + b }')

# --- 7. nothing to update with the digest cache -------------------------------------------------
say "7. nothing to update, 1000 files / 256 MiB and 8 x 256 MiB: with a warm digest cache against an empty program; 8 x 256 MiB without a cache against md5sum + empty program, $repeat times"
warm_start() { # FOLDER FILES: one start, which must have taken every file from the cache
  local seconds
  seconds=$(pinned_none_of "$1")
  [ "$(cache_counts)" = "$2 0" ] || { say "$1: a warm start hashed ($(cache_counts))"; exit 1; }
  echo "$seconds"
}
none_of many >/dev/null # the first starts write the caches
none_of eight >/dev/null
warm1=() warm8=() over1=() over8=() cold8=() sums8=() pairs8=() empties7=() lists7=()
# The warm starts first, apart from the hashing of 2 GiB, so that it cannot disturb them.
for _ in $(seq "$repeat"); do
  e=$(empty_start)
  lists7+=("$(pinned_none_of nothing)")
  w1=$(warm_start many 1000)
  w8=$(warm_start eight 8)
  warm1+=("$w1") warm8+=("$w8") over1+=("$(over "$w1" "$e")") over8+=("$(over "$w8" "$e")")
  empties7+=("$e")
done
for _ in $(seq "$repeat"); do
  read -r c8 m8 < <(first_start eight "$data/eight"/*.bin)
  cold8+=("$c8") sums8+=("$m8")
  pairs8+=("$(awk -v o="$c8" -v m="$m8" -v e="$(median "${empties7[@]}")" 'BEGIN { printf "%.2f", o / (m + e) }')")
done
warm_over1=$(median "${over1[@]}") warm_over8=$(median "${over8[@]}") r7=$(median "${pairs8[@]}")
warm_empty=$(median "${empties7[@]}") cold_md5sum=$(median "${sums8[@]}")
cold_base=$(awk -v a="$cold_md5sum" -v b="$warm_empty" 'BEGIN { printf "%.4f", a + b }')

if want all; then

# --- 3. download of 256 MiB from the server ---------------------------------------------------
say "3. download of 256 MiB: engine against bare WinInet (curl, whole program beside), $repeat times"
engines=() loops=() curls=() pairs=()
through_engine() {
  "$WINE" "$benchbin/download_speed.exe" engine "$base/big/update/" big.bin "$(winpath "$data/temp")" |
    field seconds
}
through_loop() {
  "$WINE" "$benchbin/download_speed.exe" wininet "$base/big/update/big.bin" \
    "$(winpath "$data/temp/loop.bin")" | field seconds
}
for i in $(seq "$repeat"); do
  # Each goes first in every other pair, so that neither profits from going first.
  if [ $((i % 2)) -eq 1 ]; then
    e=$(through_engine) l=$(through_loop)
  else
    l=$(through_loop) e=$(through_engine)
  fi
  engines+=("$e") loops+=("$l") pairs+=("$(ratio "$l" "$e")")
  curls+=("$(curl -s -o "$data/temp/curl.bin" -w '%{time_total}' "$base/big/update/big.bin")")
  rm -f "$data/temp/curl.bin"
done
dl_engine=$(median "${engines[@]}")
dl_wininet=$(median "${loops[@]}")
dl_curl=$(median "${curls[@]}")
say "3'. the whole program with its window against the same bare loop, $repeat times"
programs=() loops_p=() pairs_p=() program_peaks=() uncheckeds=()
through_program() { # FOLDER
  local out
  out=$("$WINE" "$benchbin/run_timer.exe" run "$(winpath "$data/$1/Updater.exe")")
  program_peaks+=("$(field peak_working_set_kib <<<"$out")")
  cmp -s "$data/big/big.bin" "$data/$1/big.bin" || { say "the whole program's download differs"; exit 1; }
  rm -rf "$data/$1/big.bin" "$data/$1/Update"
  dl_last=$(field seconds <<<"$out")
}
for i in $(seq "$repeat"); do
  if [ $((i % 2)) -eq 1 ]; then
    through_program install-dl
    l=$(through_loop)
  else
    l=$(through_loop)
    through_program install-dl
  fi
  programs+=("$dl_last") loops_p+=("$l") pairs_p+=("$(ratio "$l" "$dl_last")")
  through_program install-dlu
  uncheckeds+=("$dl_last")
done
dl_unchecked=$(median "${uncheckeds[@]}")
dl_program=$(median "${programs[@]}")
dl_loop_p=$(median "${loops_p[@]}")
program_peak=$(median "${program_peaks[@]}")

# --- 4. peak working set ------------------------------------------------------------------------
say "4. peak working set: the engine for 16 MiB and 1 GiB, the whole program for 16 MiB"
out=$("$WINE" "$benchbin/run_timer.exe" run "$(winpath "$data/install-16/Updater.exe")")
program_peak16=$(field peak_working_set_kib <<<"$out")
cmp -s "$data/m16/big.bin" "$data/install-16/big.bin" || { say "the 16 MiB download differs"; exit 1; }
mem16=$("$WINE" "$benchbin/engine_memory.exe" 16 "$base/m16/" | field peak_working_set_kib)
mem1g=$("$WINE" "$benchbin/engine_memory.exe" 1024 "$base/m1024/" | field peak_working_set_kib)
mem_diff=$(awk -v a="$mem16" -v b="$mem1g" 'BEGIN { d = b - a; if (d < 0) d = -d; print d }')

# --- 5. installation of 1000 files --------------------------------------------------------------
say "5. installation of the 1000 files, all changed and downloaded: engine against plain moves, $repeat pairs"
out=$("$WINE" "$benchbin/install_speed.exe" "$(winpath "$data/many")" "$(winpath "$data/install-1000")" "$repeat")
inst_plain=$(field plain_seconds <<<"$out")
inst_engine=$(field engine_seconds <<<"$out")
inst_total=$(field engine_total_seconds <<<"$out")
r5=$(field ratio <<<"$out")
inst_spread="$(field ratio_min <<<"$out")-$(field ratio_max <<<"$out")"
rm -rf "$data/install-1000"
fi

# --- 8. a changed file rebuilt from its installed copy --------------------------------------
if want all || want 8; then
say "8. a changed 256 MiB file: rebuilt from its installed copy, against the whole download"
# Release 2.0 of big.bin: 1000 bytes inserted near its start and 1% of its 4 KiB blocks changed
# at random places; and a release whose big.bin changed throughout.
mkdir -p "$data/delta" "$data/deltaall" "$data/www/delta" "$data/www/deltaall"
python3 - "$data/big/big.bin" "$data/delta/big.bin" <<'PY'
import random, sys
rng = random.Random(25)
old = open(sys.argv[1], 'rb').read()
new = bytearray(old[:40960] + bytes(rng.getrandbits(8) for _ in range(1000)) + old[40960:])
blocks = len(new) // 4096
for b in rng.sample(range(blocks), blocks // 100):
    at = b * 4096 + rng.randrange(4096 - 16)
    new[at:at + 16] = bytes(rng.getrandbits(8) for _ in range(16))
open(sys.argv[2], 'wb').write(new)
PY
head -c $((256 << 20)) /dev/urandom >"$data/deltaall/big.bin"
ln -s "$data/delta" "$data/www/delta/update"
ln -s "$data/deltaall" "$data/www/deltaall/update"
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/delta")" 2.0 >/dev/null
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/deltaall")" 2.0 >/dev/null
# One update run of an installation of release 1.0 (or of none with "empty") from SITE; the
# seconds, with what nginx sent for it in served_bytes.
update_run() { # FOLDER SITE RELEASE [empty]
  local folder="$data/$1" lines out
  rm -rf "$folder" && mkdir -p "$folder"
  [ "${4:-}" = empty ] || cp "$data/big/big.bin" "$folder/big.bin"
  cp "$bin/Updater.exe" "$folder/"
  printf '[Download]\r\nsite1=%s\r\n' "$2" >"$folder/Updater.INI"
  lines=$(wc -l <"$data/nginx-access.log")
  out=$("$WINE" "$benchbin/run_timer.exe" run "$(winpath "$folder/Updater.exe")")
  cmp -s "$data/$3/big.bin" "$folder/big.bin" || { say "$1: the installed big.bin differs"; exit 1; }
  served_bytes=$(tail -n +$((lines + 1)) "$data/nginx-access.log" | awk '{ s += $10 } END { print s }')
  rm -rf "$folder"
  update_seconds=$(field seconds <<<"$out")
}
deltas=() delta_sent=()
for _ in $(seq 3); do
  update_run install-delta "$base/slow/delta" delta
  deltas+=("$update_seconds") delta_sent+=("$served_bytes")
done
update_run install-whole "$base/slow/delta" delta empty
whole_slow=$update_seconds
update_run install-deltaall "$base/deltaall" deltaall
all_sent=$served_bytes
delta_time=$(median "${deltas[@]}")
delta_bytes=$(median "${delta_sent[@]}")
index_bytes=$(stat -c %s "$data/delta/big.bin.blocks")
all_index=$(stat -c %s "$data/deltaall/big.bin.blocks")
r8=$(ratio "$delta_time" "$whole_slow")
r8b=$(awk -v s="$all_sent" -v f=$((256 << 20)) -v i="$all_index" 'BEGIN { printf "%.3f", s / (f + i) }')
delta_mib=$(awk -v b="$delta_bytes" 'BEGIN { printf "%.2f", b / 1048576 }')
# The memory of a rebuild of 1 GiB (release 1.0 and 2.0 alike: every block found) against its
# whole download.
md5_1g=$(md5sum "$data/m1024/big.bin" | cut -d' ' -f1)
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$data/m1024")" 1.0 >/dev/null
index_1g=$(md5sum "$data/m1024/big.bin.blocks" | cut -d' ' -f1)
mem1g_delta=$("$WINE" "$benchbin/engine_memory.exe" 1024 "$base/m1024/" \
  "$(winpath "$data/m1024")" "$md5_1g" "$index_1g" | field peak_working_set_kib)
[ -n "${mem1g:-}" ] ||
  mem1g=$("$WINE" "$benchbin/engine_memory.exe" 1024 "$base/m1024/" | field peak_working_set_kib)
mem_delta_diff=$(awk -v a="$mem1g" -v b="$mem1g_delta" 'BEGIN { print b - a }')
fi

# --- the table --------------------------------------------------------------------------------
verdict() { awk -v v="$1" -v op="$2" -v g="$3" 'BEGIN {
  ok = (op == ">=") ? (v >= g) : (v <= g); print ok ? "met" : "**missed**" }'; }
# Each ratio is the median of the ratios of runs made back to back, so that a change in the
# machine's load during the run moves both sides of a pair alike.
r2=$(median "${pairs2[@]}")
if want all; then
  r1=$(median "${pairs1[@]}")
  r3=$(median "${pairs[@]}")
  r3p=$(median "${pairs_p[@]}")
fi
size_updater=$(stat -c %s "$SHIPPED_BUILD/bin/Updater.exe")
size_client=$(stat -c %s "$SHIPPED_BUILD/bin/Quillmarket.exe")
size_tool=$(stat -c %s "$SHIPPED_BUILD/bin/mkmanifest.exe")
rsrc_hex=$(i686-w64-mingw32-objdump -h "$SHIPPED_BUILD/bin/Updater.exe" | awk '$2 == ".rsrc" { print $3 }')
rsrc=$((16#${rsrc_hex:-0}))
{
  echo "Measured $(LC_ALL=C date -u '+%Y-%m-%d %H:%M UTC') on" \
    "$(LC_ALL=C lscpu | sed -n 's/^Model name: *//p' | head -n 1)," \
    "$cores cores, $(LC_ALL=C free -g | awk '/^Mem/ { print $2 }') GiB RAM, the $WINE_ARCH build," \
    "$("$WINE" --version) ($WINEARCH prefix), nginx" \
    "$(nginx -v 2>&1 | sed 's/.*nginx\///'), $HTTP_SERVE_KIND serving on loopback;" \
    "pinned to CPU $bench_cpu; median of $repeat; load average before: $load_before;" \
    "command: \`${only:+BENCH_ONLY=$only }bench/run.sh $repeat\`"
  echo
  echo "| # | figure | ours | reference | ratio | goal | |"
  echo "|---|---|---|---|---|---|---|"
  if want all; then
    echo "| 1 | digest of one 256 MiB file | CFileDigest ${digest_ours} s ($(mib_s 256 "$digest_ours") MiB/s) | md5sum ${digest_md5sum} s ($(mib_s 256 "$digest_md5sum") MiB/s) | ${r1} (throughput; pairs $(spread "${pairs1[@]}")) | >= 0.6 | $(verdict "$r1" '>=' 0.6) |"
    echo "| 1' | beside it | the same digest code fed 64 KiB reads: ${digest_64k} s ($(mib_s 256 "$digest_64k") MiB/s) | | | | |"
  fi
  echo "| 2 | nothing to update, 1000 files / 256 MiB, no digest cache (the first start): start to WM_UPDATE_NONE | Updater.exe ${none_ours} s | md5sum ${none_md5sum} s + empty program ${none_empty} s = ${none_base} s | ${r2} (time; pairs $(spread "${pairs2[@]}")) | <= 1.2 | $(verdict "$r2" '<=' 1.2) |"
  echo "| 2' | beside it | Updater.exe with an empty list: ${none_startup} s (start-up, COM, manifest fetch); with 1000 empty files and no digest cache: ${none_entries} s | | | | |"
  echo "| 2'' | nothing to update, 50 small files, the digest cache written: start to WM_UPDATE_NONE | Updater.exe ${small_run} s | empty program ${none_empty} s | ${small_extra} s more (pairs $(spread "${small_over[@]}")) | <= 0.15 s more | $(verdict "$small_extra" '<=' 0.15) |"
  echo "| 7 | nothing to update, 1000 files / 256 MiB, the digest cache written: start to WM_UPDATE_NONE | Updater.exe $(median "${warm1[@]}") s (with an empty list, in the same rounds: $(median "${lists7[@]}") s) | empty program ${warm_empty} s | ${warm_over1} s more (pairs $(spread "${over1[@]}")) | <= 0.15 s more | $(verdict "$warm_over1" '<=' 0.15) |"
  echo "| 7' | the same over 8 x 256 MiB | Updater.exe $(median "${warm8[@]}") s (with an empty list: $(median "${lists7[@]}") s) | empty program ${warm_empty} s | ${warm_over8} s more (pairs $(spread "${over8[@]}")) | <= 0.15 s more | $(verdict "$warm_over8" '<=' 0.15) |"
  echo "| 7'' | nothing to update, 8 x 256 MiB, no digest cache (the first start) | Updater.exe $(median "${cold8[@]}") s | md5sum ${cold_md5sum} s + empty program ${warm_empty} s = ${cold_base} s | ${r7} (time; pairs $(spread "${pairs8[@]}")) | <= 1.2 | $(verdict "$r7" '<=' 1.2) |"
  if want all; then
    echo "| 3 | download of one 256 MiB file from $HTTP_SERVE_KIND | engine, null receiver ${dl_engine} s ($(mib_s 256 "$dl_engine") MiB/s; $(spread "${engines[@]}") s) | WinInet loop, 8192-byte blocks ${dl_wininet} s ($(mib_s 256 "$dl_wininet") MiB/s; $(spread "${loops[@]}") s) | ${r3} (throughput; pairs $(spread "${pairs[@]}")) | >= 0.9 | $(verdict "$r3" '>=' 0.9) |"
    echo "| 3' | download of one 256 MiB file, the whole program | Updater.exe with its window ${dl_program} s ($(mib_s 256 "$dl_program") MiB/s; $(spread "${programs[@]}") s) | WinInet loop ${dl_loop_p} s ($(mib_s 256 "$dl_loop_p") MiB/s) | ${r3p} (throughput; pairs $(spread "${pairs_p[@]}")) | >= 0.8 | $(verdict "$r3p" '>=' 0.8) |"
    echo "| 3'' | beside it | the whole program, the list's entry without md5 (nothing to verify) ${dl_unchecked} s ($(mib_s 256 "$dl_unchecked") MiB/s; $(spread "${uncheckeds[@]}") s); curl ${dl_curl} s ($(mib_s 256 "$dl_curl") MiB/s) | | | | |"
    echo "| 4 | engine's peak working set | 1 GiB download: ${mem1g} KiB | 16 MiB download: ${mem16} KiB | difference ${mem_diff} KiB | <= 4096 KiB | $(verdict "$mem_diff" '<=' 4096) |"
    echo "| 4' | beside it | whole Updater.exe, 256 MiB download: ${program_peak} KiB | whole Updater.exe, 16 MiB download: ${program_peak16} KiB | | | |"
    echo "| 6 | size of the shipped 32-bit Updater.exe | ${size_updater} bytes (resources ${rsrc:-?}) | | | <= 491520 (480 KB, a guard) | $(verdict "$size_updater" '<=' 491520) |"
    echo "| 6' | beside it | Quillmarket.exe ${size_client} bytes, mkmanifest.exe ${size_tool} bytes | | | | |"
    echo "| 5 | installation of 1000 files / 256 MiB, all changed, already downloaded | InstallAll, all or nothing, until every file is in place ${inst_engine} s (${inst_total} s until the client starts: committed, old files cleared away) | the plain move loop it replaced ${inst_plain} s | ${r5} (time; pairs ${inst_spread}) | <= 1.5 | $(verdict "$r5" '<=' 1.5) |"
  fi
  if want all || want 8; then
    echo "| 8 | a changed 256 MiB file (1000 bytes inserted, 1% of its blocks changed) at 8 MB/s | rebuilt from the installed copy ${delta_time} s ($(spread "${deltas[@]}") s), ${delta_mib} MiB sent (index ${index_bytes} bytes) | the whole download ${whole_slow} s | ${r8} (time) | <= 0.2, and <= 4 MiB sent | $(verdict "$r8" '<=' 0.2), $(verdict "$delta_bytes" '<=' $((4 << 20))) |"
    echo "| 8' | a 256 MiB file changed throughout, from a copy with nothing in common | ${all_sent} bytes sent | the file and its index: $(((256 << 20) + all_index)) bytes | ${r8b} | <= 1.02 | $(verdict "$r8b" '<=' 1.02) |"
    echo "| 8'' | peak working set of a 1 GiB rebuild | ${mem1g_delta} KiB | the 1 GiB download: ${mem1g} KiB | ${mem_delta_diff} KiB more | <= 65536 KiB | $(verdict "$mem_delta_diff" '<=' 65536) |"
  fi
} | tee "$build/bench-results.md"
