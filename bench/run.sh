#!/usr/bin/env bash
# bench/run.sh - wall time, peak memory and output size of quillmark-convert,
# next to the libxlsxwriter speed floor and (optionally) LibreOffice headless.
#
# usage: bench/run.sh [--quick] [--with-lo] [--runs N] [--workloads LIST]
#
# Prints figures and ratios only; it never fails because something was slow.
# See bench/README.md.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/run.sh [--quick] [--with-lo] [--runs N] [--workloads LIST]

  --quick           small data only: the 200-file folder (same as --workloads folder)
  --with-lo         also time LibreOffice headless (needs `soffice` on PATH)
  --runs N          timed runs per program and workload (default 3)
  --workloads LIST  comma-separated, from big, folder, text, wide, cells20k (default: all)

environment:
  QMK        converter to time   (default: <root>/build/cli/quillmark-convert)
  QMK_ALSO   a second converter, timed beside QMK on the plain .xlsx conversion, interleaved
             (e.g. build-windows/quillmark-convert-wine); the report gives its wall time over QMK's
  BENCH_DIR  scratch folder      (default: /tmp/quillmark-bench)
  KIT        peer kit folder     (default: <root>/../shared/bench)
EOF
}

die()  { echo "run.sh: $*" >&2; exit 1; }
note() { echo "-- $*" >&2; }

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QMK=${QMK:-$ROOT/build/cli/quillmark-convert}
KIT=${KIT:-$ROOT/../shared/bench}
BENCH_DIR=${BENCH_DIR:-/tmp/quillmark-bench}
BIG_MD5=223e4d2a3352cb754d321204430eb422   # big.csv as documented by the kit
TEXT_MD5=3fc8db141ebf8212ff823b262d2fc357  # text/text.csv and wide/wide.csv of bench/gen_workloads.py
WIDE_MD5=5b156cdcc278064aa8d1f48bea94cfec
MIB=1048576

QUICK=0 WITH_LO=0 RUNS=3 ONLY=
ALL_WORKLOADS=(big folder text wide cells20k)
while [ $# -gt 0 ]; do
  case $1 in
    --quick)   QUICK=1 ;;
    --with-lo) WITH_LO=1 ;;
    --runs)    [ $# -ge 2 ] || { usage >&2; exit 2; }; RUNS=$2; shift ;;
    --runs=*)  RUNS=${1#--runs=} ;;
    --workloads)   [ $# -ge 2 ] || { usage >&2; exit 2; }; ONLY=$2; shift ;;
    --workloads=*) ONLY=${1#--workloads=} ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || die "--runs needs a positive whole number, got '$RUNS'"
[ "$QUICK" = 0 ] || ONLY=${ONLY:-folder}
WORKLOADS=()
for wl in "${ALL_WORKLOADS[@]}"; do
  [ -z "$ONLY" ] || [[ ",$ONLY," == *",$wl,"* ]] && WORKLOADS+=("$wl")
done
for wl in ${ONLY//,/ }; do
  [[ " ${ALL_WORKLOADS[*]} " == *" $wl "* ]] || die "unknown workload '$wl' (known: ${ALL_WORKLOADS[*]})"
done
[ ${#WORKLOADS[@]} -gt 0 ] || die "no workload chosen"
wanted() { [[ " ${WORKLOADS[*]} " == *" $1 "* ]]; }

# ---------------------------------------------------------------- checks
[ -x "$QMK" ] || die "converter not found or not executable: $QMK
  build the project first, or point QMK at a converter: QMK=/path/to/quillmark-convert bench/run.sh"
[ -x /usr/bin/time ]    || die "GNU time (/usr/bin/time) is missing: apt-get install time"
[ -x /usr/bin/python3 ] || die "/usr/bin/python3 is missing"
[ -f "$ROOT/bench/gen_workloads.py" ] || die "bench/gen_workloads.py is missing"
for f in gen_data.py floor_lxw.c peers.sh; do
  [ -f "$KIT/$f" ] || die "peer kit not found at $KIT (no $f; set KIT=...)"
done
for t in cc md5sum setsid du find; do
  command -v "$t" >/dev/null || die "'$t' is missing"
done
QMK_ABS=$(cd "$(dirname "$QMK")" && pwd)/$(basename "$QMK")
QMK_ALSO=${QMK_ALSO:-}
QMK_ALSO_ABS=
if [ -n "$QMK_ALSO" ]; then
  [ -x "$QMK_ALSO" ] || die "QMK_ALSO not found or not executable: $QMK_ALSO"
  QMK_ALSO_ABS=$(cd "$(dirname "$QMK_ALSO")" && pwd)/$(basename "$QMK_ALSO")
fi
ALSO="quillmark QMK_ALSO"      # its rows' name

mkdir -p "$BENCH_DIR"
BENCH_DIR=$(cd "$BENCH_DIR" && pwd)
KITW=$BENCH_DIR/kit       # writable copy of the kit
DATA=$BENCH_DIR/data
OUTS=$BENCH_DIR/out       # outputs of the last run of each row, kept for a look
LOGS=$BENCH_DIR/logs      # stdout/stderr of the last run of each row

# ------------------------------------------------- no stray processes, ever
CHILD=
cleanup() {
  if [ -n "$CHILD" ]; then
    kill -TERM -- "-$CHILD" 2>/dev/null || true
    wait "$CHILD" 2>/dev/null || true
    CHILD=
  fi
  rm -f "$BENCH_DIR/.time.$$"
}
trap cleanup EXIT
trap 'cleanup; echo "run.sh: interrupted" >&2; exit 130' INT TERM HUP

# --------------------------------------------------------- peer kit, floor
if [ -d "$KITW" ]; then chmod -R u+w "$KITW"; rm -rf "$KITW"; fi
cp -R "$KIT/." "$KITW"
chmod -R u+w "$KITW"
cc -O2 -o "$KITW/floor_lxw" "$KITW/floor_lxw.c" -lxlsxwriter \
  || die "cannot build the floor (needs libxlsxwriter-dev)"
FLOOR=$KITW/floor_lxw

# ------------------------------------------------------------------ data
folder_ok() { [ -d "$DATA/folder" ] && [ "$(find "$DATA/folder" -name '*.csv' | wc -l)" -eq 200 ]; }
md5_ok()    { [ -f "$1" ] && [ "$(md5sum < "$1" | cut -d' ' -f1)" = "$2" ]; }
big_ok()    { md5_ok "$DATA/big.csv" "$BIG_MD5"; }
extra_ok()  { md5_ok "$DATA/text/text.csv" "$TEXT_MD5" && md5_ok "$DATA/wide/wide.csv" "$WIDE_MD5"; }

# The kit's generator writes the folder and big.csv together (--small: the folder only).
GEN_ARGS=()
wanted big || wanted cells20k || GEN_ARGS=(--small)
if ! folder_ok || { [ ${#GEN_ARGS[@]} = 0 ] && ! big_ok; }; then
  note "generating data in $DATA (about 20 s${GEN_ARGS[*]:+, small set})"
  saved=
  if [ -d "$DATA/text" ] || [ -d "$DATA/wide" ]; then   # keep the other workloads' data
    saved=$BENCH_DIR/data.keep; rm -rf "$saved"; mkdir -p "$saved"
    for d in text wide; do [ ! -d "$DATA/$d" ] || mv "$DATA/$d" "$saved/"; done
  fi
  rm -rf "$DATA.tmp" "$DATA"
  /usr/bin/python3 "$KITW/gen_data.py" "$DATA.tmp" "${GEN_ARGS[@]}"
  mv "$DATA.tmp" "$DATA"
  if [ -n "$saved" ]; then mv "$saved"/* "$DATA/"; rmdir "$saved"; fi
  if [ ${#GEN_ARGS[@]} = 0 ] && ! big_ok; then
    echo "WARNING: big.csv md5 differs from $BIG_MD5; figures are not comparable with the kit's" >&2
  fi
else
  note "reusing data in $DATA"
fi
if { wanted text || wanted wide; } && ! extra_ok; then
  note "generating the text and wide workloads in $DATA (about 30 s)"
  rm -rf "$DATA/text" "$DATA/wide" "$DATA/extra.tmp"
  /usr/bin/python3 "$ROOT/bench/gen_workloads.py" "$DATA/extra.tmp"
  mv "$DATA/extra.tmp/text" "$DATA/extra.tmp/wide" "$DATA/"
  rmdir "$DATA/extra.tmp"
  extra_ok || echo "WARNING: text.csv or wide.csv md5 differs; figures are not comparable with earlier runs" >&2
fi
if wanted big; then
  mkdir -p "$DATA/bigdir"      # the converter takes a folder: big.csv alone in one
  rm -f "$DATA/bigdir/big.csv"
  ln "$DATA/big.csv" "$DATA/bigdir/big.csv" 2>/dev/null || cp "$DATA/big.csv" "$DATA/bigdir/big.csv"
fi
if wanted cells20k; then
  # The cell-by-cell import costs two automation calls per field: timed on the first 20,000 rows.
  mkdir -p "$DATA/cells20k"
  head -n 20001 "$DATA/big.csv" > "$DATA/cells20k/cells20k.csv"
fi

wl_dir()  { case $1 in big) echo "$DATA/bigdir" ;; *) echo "$DATA/$1" ;; esac; }
wl_peer() { case $1 in big) echo "$DATA/big.csv" ;; folder) echo "$DATA/folder" ;; *) echo "$DATA/$1/$1.csv" ;; esac; }
# Options of the conversion by settings per workload: the ID and code columns of the kit's data as text.
wl_settings() { case $1 in big|folder|cells20k) echo "--delimiter comma --text-columns 6,7" ;; *) echo "--delimiter comma" ;; esac; }
# Targets per workload: floor / ours wall, LibreOffice / ours wall, largest ours / floor output size.
wl_floor_target() { case $1 in big) echo 5 ;; folder) echo 4 ;; text|wide) echo 3 ;; esac; }
wl_lo_target()    { case $1 in big) echo 20 ;; *) echo 4 ;; esac; }
wl_size_target()  { case $1 in big|text|wide) echo 1.15 ;; esac; }
csv_list() { (cd "$1" && find . -type f -iname '*.csv' -print0 | sort -z); }   # ./rel/path.csv

rm -rf "$OUTS" "$LOGS" "$BENCH_DIR/probe"
mkdir -p "$OUTS" "$LOGS"

# ------------------------------------------------------------ timing core
# timed LOG CMD... : runs CMD in its own process group under GNU time.
# Sets T_WALL (s), T_KB (peak RSS KiB), T_RC (exit status, 128+n on signal n).
timed() {
  local log=$1; shift
  local tf=$BENCH_DIR/.time.$$
  rm -f "$tf"
  setsid -w /usr/bin/time -f '%e %M %x' -o "$tf" "$@" </dev/null >"$log" 2>&1 &
  CHILD=$!
  wait "$CHILD" || true
  CHILD=
  [ -s "$tf" ] || { T_WALL=0 T_KB=0 T_RC=127; return; }
  read -r T_WALL T_KB T_RC < <(tail -n 1 "$tf")
  local sig
  sig=$(sed -n 's/^Command terminated by signal \([0-9]*\).*/\1/p' "$tf")
  [ -z "$sig" ] || T_RC=$((128 + sig))
  rm -f "$tf"
}

# stats V... -> "median min max"
stats() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END{
  m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2; print m, v[1], v[NR]}'; }

# Mirror the source folders under OUT (the floor does not create folders).
mirror_dirs() {
  local src=$1 out=$2 f
  while IFS= read -r -d '' f; do mkdir -p "$out/$(dirname "$f")"; done < <(csv_list "$src")
}

# missing_outputs SRC OUT FMT -> how many source .csv have no non-empty SRC-relative output
missing_outputs() {
  local src=$1 out=$2 fmt=$3 f n=0
  while IFS= read -r -d '' f; do
    [ -s "$out/${f%.*}.$fmt" ] || n=$((n + 1))
  done < <(csv_list "$src")
  echo "$n"
}

# Results, one entry per table row
R_WL=() R_PROG=() R_FMT=() R_N=() R_MED=() R_MIN=() R_MAX=() R_RSS=() R_OUT=() R_NOTE=()
declare -A WALL RSS OUTB
WARN=() OURWARN=0

# Rows of one workload are queued, then run interleaved (run 1 of every row, then
# run 2, ...), so slow drift on a shared machine does not favour one program.
# queue WL PROG FMT KIND -- CMD...   (the word @OUT@ in CMD stands for the output folder)
# KIND: ours (mirrored output, checked), floor (mirrored), lo (flattened output)
Q_WL=() Q_PROG=() Q_FMT=() Q_KIND=() Q_OUT=() Q_LOG=() Q_WALLS=() Q_KBS=() Q_RCS=() Q_MISS=()
queue() {
  local wl=$1 prog=$2 fmt=$3 kind=$4 n=${#Q_WL[@]} a; shift 5
  local out=$OUTS/$wl-${prog// /_}-$fmt
  Q_WL+=("$wl") Q_PROG+=("$prog") Q_FMT+=("$fmt") Q_KIND+=("$kind") Q_OUT+=("$out")
  Q_LOG+=("$LOGS/$wl-${prog// /_}-$fmt.log") Q_WALLS+=("") Q_KBS+=("") Q_RCS+=("") Q_MISS+=("")
  declare -ga "Q_CMD_$n"
  local -n cmd="Q_CMD_$n"
  cmd=()
  for a in "$@"; do cmd+=("${a//@OUT@/"$out"}"); done
}

# run_queue: every queued row RUNS times, interleaved; then one table row each.
run_queue() {
  local i n m src
  for i in $(seq "$RUNS"); do
    for n in "${!Q_WL[@]}"; do
      local ref="Q_CMD_${n}[@]"
      local cmd=("${!ref}")
      src=$(wl_dir "${Q_WL[$n]}")
      rm -rf "${Q_OUT[$n]}"; mkdir -p "${Q_OUT[$n]}"
      [ "${Q_KIND[$n]}" != floor ] || mirror_dirs "$src" "${Q_OUT[$n]}"
      timed "${Q_LOG[$n]}" "${cmd[@]}"
      if [ "${Q_KIND[$n]}" = lo ]; then   # LibreOffice writes every file into one folder
        m=$(( $(csv_list "$src" | tr -cd '\0' | wc -c) - $(find "${Q_OUT[$n]}" -type f -name "*.${Q_FMT[$n]}" | wc -l) ))
      else
        m=$(missing_outputs "$src" "${Q_OUT[$n]}" "${Q_FMT[$n]}")
      fi
      Q_WALLS[n]+=" $T_WALL" Q_KBS[n]+=" $T_KB" Q_RCS[n]+=" $T_RC" Q_MISS[n]+=" $m"
      printf -- '-- run %d/%d  %-6s %-22s %-4s %7s s  peak %5d MiB  exit %s  missing outputs %s\n' \
        "$i" "$RUNS" "${Q_WL[$n]}" "${Q_PROG[$n]}" "${Q_FMT[$n]}" "$T_WALL" "$((T_KB / 1024))" "$T_RC" "$m" >&2
    done
  done
  for n in "${!Q_WL[@]}"; do finish_row "$n"; done
  Q_WL=() Q_PROG=() Q_FMT=() Q_KIND=() Q_OUT=() Q_LOG=() Q_WALLS=() Q_KBS=() Q_RCS=() Q_MISS=()
}

finish_row() {
  local n=$1 wl=${Q_WL[$1]} prog=${Q_PROG[$1]} fmt=${Q_FMT[$1]} kind=${Q_KIND[$1]}
  local key="$wl|$prog|$fmt" med mn mx rss outb x badrc=0 miss=0 flag=
  # shellcheck disable=SC2086   # lists of numbers, split on purpose
  read -r med mn mx < <(stats ${Q_WALLS[$n]})
  # shellcheck disable=SC2086
  read -r rss _ _ < <(stats ${Q_KBS[$n]})
  for x in ${Q_RCS[$n]}; do [ "$x" = 0 ] || badrc=$((badrc + 1)); done
  for x in ${Q_MISS[$n]}; do [ "$x" -le 0 ] || miss=$((miss + 1)); done
  outb=$(du -sb "${Q_OUT[$n]}" | cut -f1)
  R_WL+=("$wl") R_PROG+=("$prog") R_FMT+=("$fmt") R_N+=("$RUNS")
  R_MED+=("$med") R_MIN+=("$mn") R_MAX+=("$mx")
  R_RSS+=("$(awk -v k="$rss" 'BEGIN{printf "%.1f", k/1024}')")
  R_OUT+=("$(awk -v b="$outb" -v m=$MIB 'BEGIN{printf "%.1f", b/m}')")
  [ "$badrc" = 0 ] || flag="exit${Q_RCS[$n]}"
  [ "$miss" = 0 ] || flag="${flag:+$flag; }outputs missing"
  R_NOTE+=("$flag")
  WALL[$key]=$med; RSS[$key]=$rss; OUTB[$key]=$outb
  local who="peer"; [ "$kind" != ours ] || who="our converter"
  [ "$kind" != ours ] || [ "$((badrc + miss))" = 0 ] || OURWARN=$((OURWARN + 1))
  if [ "$badrc" != 0 ]; then
    WARN+=("WARNING: $who ($prog, $fmt, $wl) exited non-zero in $badrc of $RUNS run(s): exit codes${Q_RCS[$n]}; see ${Q_LOG[$n]}")
  fi
  if [ "$miss" != 0 ]; then
    WARN+=("WARNING: $who ($prog, $fmt, $wl): not every source .csv got an output file in $miss of $RUNS run(s) (missing per run:${Q_MISS[$n]}); see ${Q_OUT[$n]}")
  fi
}

# ----------------------------------------------------- can we write .xls?
XLS=0
mkdir -p "$BENCH_DIR/probe/in"
printf 'id,name,amount\r\n1,"Smith, John",12.50\r\n2,王芳,-3\r\n' > "$BENCH_DIR/probe/in/probe.csv"
prc=0
"$QMK_ABS" "$BENCH_DIR/probe/in" --out "$BENCH_DIR/probe/xls" --format xls \
  </dev/null >"$LOGS/probe-xls.log" 2>&1 || prc=$?
if [ "$prc" = 0 ] && [ -s "$BENCH_DIR/probe/xls/probe.xls" ]; then
  XLS=1
else
  why=$(grep -v '^[[:space:]]*$' "$LOGS/probe-xls.log" | tail -n 1 | cut -c1-160)
  XLS_NOTE="no .xls rows: a one-file probe with --format xls exited $prc${why:+: $why}"
  note "$XLS_NOTE"
fi

# ----------------------------------------------------- LibreOffice or not
LO=0 LO_NOTE=
if [ "$WITH_LO" = 1 ]; then
  if command -v soffice >/dev/null; then
    export LO_PROFILE=$BENCH_DIR/lo-profile
    note "LibreOffice: first call creates its profile (untimed)"
    if timed "$LOGS/lo-warmup.log" "$KITW/peers.sh" lo xlsx "$BENCH_DIR/probe/in" "$BENCH_DIR/probe/lo" \
       && [ "$T_RC" = 0 ]; then
      LO=1
    else
      LO_NOTE="LibreOffice skipped: the warm-up call failed (see $LOGS/lo-warmup.log)"
    fi
  else
    LO_NOTE="LibreOffice skipped: soffice not found (Debian package libreoffice-calc-nogui)"
  fi
  [ -z "$LO_NOTE" ] || note "$LO_NOTE"
fi

# --------------------------------------------------------------- the runs
for wl in "${WORKLOADS[@]}"; do
  src=$(wl_dir "$wl")
  find "$(wl_peer "$wl")" -type f -iname '*.csv' -exec cat {} + >/dev/null   # into the page cache
  read -r -a settings <<< "$(wl_settings "$wl")"
  if [ "$wl" = cells20k ]; then
    # Conversion by settings, cell by cell (IDs and codes, columns 6 and 7, as text).
    queue "$wl" "quillmark cell-by-cell" xlsx ours -- "$QMK_ABS" "$src" --out @OUT@ --by-settings \
      "${settings[@]}" --cell-by-cell
    note "$wl: $RUNS run(s), interleaved"
    run_queue
    continue
  fi
  queue "$wl" quillmark xlsx ours -- "$QMK_ABS" "$src" --out @OUT@
  [ -z "$QMK_ALSO_ABS" ] || queue "$wl" "$ALSO" xlsx ours -- "$QMK_ALSO_ABS" "$src" --out @OUT@
  # Conversion by settings through the text import.
  queue "$wl" "quillmark by-settings" xlsx ours -- "$QMK_ABS" "$src" --out @OUT@ --by-settings "${settings[@]}"
  # .xls holds 256 columns: the wide workload's 300 cannot be saved as .xls.
  if [ "$XLS" = 1 ] && [ "$wl" != wide ]; then
    queue "$wl" quillmark xls ours -- "$QMK_ABS" "$src" --out @OUT@ --format xls
  fi
  FARGS=()
  while IFS= read -r -d '' f; do FARGS+=("$src/${f#./}" "@OUT@/${f%.*}.xlsx"); done < <(csv_list "$src")
  queue "$wl" "floor (libxlsxwriter)" xlsx floor -- "$FLOOR" "${FARGS[@]}"
  if [ "$LO" = 1 ]; then
    queue "$wl" "LibreOffice" xlsx lo -- "$KITW/peers.sh" lo xlsx "$(wl_peer "$wl")" @OUT@
  fi
  note "$wl: $RUNS run(s) of each program, interleaved"
  run_queue
done

# ----------------------------------------------------------------- report
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a/b; else printf "n/a" }'; }
sec()   { awk -v a="$1" 'BEGIN{printf "%.2f", a}'; }
within(){ awk -v r="$1" -v t="$2" -v op="$3" 'BEGIN{ if (r == "n/a") print "";
  else if ((op == "le" && r <= t) || (op == "ge" && r >= t)) print "(within target)"; else print "(outside target)"}'; }

echo
echo "Quillmark benchmark  $(date '+%Y-%m-%d %H:%M')  $(nproc) cores  runs: $RUNS$([ "$QUICK" = 1 ] && echo '  (quick)')"
echo "converter: $QMK_ABS"
[ -z "$QMK_ALSO_ABS" ] || echo "QMK_ALSO:  $QMK_ALSO_ABS"
rev=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo "no commit")
dirty=
if git -C "$ROOT" status --porcelain 2>/dev/null | grep -qv '^??'; then dirty=" +changes"; fi
[ "$QMK_ABS" = "$ROOT/build/cli/quillmark-convert" ] || dirty="$dirty (of the source tree; QMK names another build)"
echo "source:    $rev$dirty    libxlsxwriter: $(dpkg-query -W -f '${Version}' libxlsxwriter-dev 2>/dev/null || echo '?')"
echo
{
  printf '%-7s %-22s %-5s %9s %17s %10s %10s\n' \
    workload program format "wall s" "min..max" "peak MiB" "out MiB"
  printf '%-7s %-22s %-5s %9s %17s %10s %10s\n' \
    ------- ---------------------- ----- --------- ----------------- ---------- ----------
  for i in "${!R_WL[@]}"; do
    printf '%-7s %-22s %-5s %9s %17s %10s %10s  %s\n' "${R_WL[$i]}" "${R_PROG[$i]}" "${R_FMT[$i]}" \
      "$(sec "${R_MED[$i]}")" "$(sec "${R_MIN[$i]}")..$(sec "${R_MAX[$i]}")" \
      "${R_RSS[$i]}" "${R_OUT[$i]}" "${R_NOTE[$i]}"
  done
} | sed 's/ *$//'
echo "(medians of $RUNS run(s); wall and peak RSS of the whole process, start-up included)"

echo
echo "Ratios (medians)"
for wl in "${WORKLOADS[@]}"; do
  [ "$wl" != cells20k ] || continue   # our cell-by-cell import alone: no peer to compare with
  q=${WALL["$wl|quillmark|xlsx"]} f=${WALL["$wl|floor (libxlsxwriter)|xlsx"]}
  t=$(wl_floor_target "$wl")
  r=$(ratio "$f" "$q")
  printf '  %-7s floor / ours wall         %8s / %-8s = %6s   target >= %-4s %s\n' \
    "$wl" "$(sec "$f")" "$(sec "$q")" "$r" "$t" "$(within "$r" "$t" ge)"
  if [ "$LO" = 1 ]; then
    l=${WALL["$wl|LibreOffice|xlsx"]}
    t=$(wl_lo_target "$wl")
    r=$(ratio "$l" "$q")
    printf '  %-7s LibreOffice / ours wall   %8s / %-8s = %6s   target >= %-4s %s\n' \
      "$wl" "$(sec "$l")" "$(sec "$q")" "$r" "$t" "$(within "$r" "$t" ge)"
  fi
  if [ -n "$QMK_ALSO_ABS" ]; then
    a=${WALL["$wl|$ALSO|xlsx"]}
    same="(workbooks differ from QMK's)"
    ! diff -rq "$OUTS/$wl-quillmark-xlsx" "$OUTS/$wl-${ALSO// /_}-xlsx" >/dev/null || same="(same workbooks as QMK's)"
    printf '  %-7s QMK_ALSO / QMK wall       %8s / %-8s = %6s   %s\n' \
      "$wl" "$(sec "$a")" "$(sec "$q")" "$(ratio "$a" "$q")" "$same"
  fi
  qb=${OUTB["$wl|quillmark|xlsx"]} fb=${OUTB["$wl|floor (libxlsxwriter)|xlsx"]}
  t=$(wl_size_target "$wl")
  r=$(ratio "$qb" "$fb")
  printf '  %-7s ours / floor output size  %8s / %-8s = %6s   %s %s\n' "$wl" \
    "$(awk -v b="$qb" -v m=$MIB 'BEGIN{printf "%.1f", b/m}')" "$(awk -v b="$fb" -v m=$MIB 'BEGIN{printf "%.1f", b/m}')" \
    "$r" "${t:+target <= $t}" "$([ -z "$t" ] || within "$r" "$t" le)"
done
[ "$WITH_LO" = 1 ] || echo "  LibreOffice / ours: not measured (add --with-lo)"
[ -z "$LO_NOTE" ] || echo "  $LO_NOTE"

echo
echo "Memory: our peak RSS against the budget 1.5 x CSV size + 64 MiB"
for wl in "${WORKLOADS[@]}"; do
  src=$(wl_dir "$wl")
  # a folder is converted file by file: the budget follows its largest .csv
  maxb=$(find "$src" -type f -iname '*.csv' -printf '%s\n' | sort -n | tail -n 1)
  budget=$(awk -v b="$maxb" -v m=$MIB 'BEGIN{printf "%.1f", 1.5*b/m + 64}')
  csvm=$(awk -v b="$maxb" -v m=$MIB 'BEGIN{printf "%.1f", b/m}')
  for key in "quillmark|xlsx" "quillmark by-settings|xlsx" "quillmark cell-by-cell|xlsx" "quillmark|xls"; do
    kb=${RSS["$wl|$key"]:-}
    [ -n "$kb" ] || continue
    mib=$(awk -v k="$kb" 'BEGIN{printf "%.1f", k/1024}')
    r=$(ratio "$mib" "$budget")
    case $key in
      "quillmark|xlsx") what="xlsx" ;; "quillmark|xls") what="xls" ;;
      "quillmark by-settings|xlsx") what="xlsx by settings" ;; *) what="xlsx cell by cell" ;;
    esac
    printf '  %-7s %-18s peak %8s MiB / budget %7s MiB = %5s   (largest .csv %s MiB) %s\n' \
      "$wl" "$what" "$mib" "$budget" "$r" "$csvm" "$(within "$r" 1 le)"
  done
done
[ "$XLS" = 1 ] || echo "  ${XLS_NOTE}"
! wanted wide || [ "$XLS" = 0 ] || echo "  wide: no xls row (300 columns; .xls holds 256)"

echo
echo "Our converter's last output line per row:"
for wl in "${WORKLOADS[@]}"; do
  for row in quillmark-xlsx quillmark_by-settings-xlsx quillmark_cell-by-cell-xlsx quillmark-xls; do
    log=$LOGS/$wl-$row.log
    [ -f "$log" ] || continue
    printf '  %-7s %-29s %s\n' "$wl" "$row" "$(grep -v '^[[:space:]]*$' "$log" | tail -n 1 | cut -c1-100)"
  done
done

echo
[ "$OURWARN" != 0 ] || echo "Checks: every run of our converter exited 0 and wrote one output per source .csv."
[ "${#WARN[@]}" = 0 ] || printf '%s\n' "${WARN[@]}"
echo "Outputs of the last runs: $OUTS   logs: $LOGS"
