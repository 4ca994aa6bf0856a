#!/usr/bin/env bash
# Checks that LibreOffice and Gnumeric read every cell of a workbook written by Quillmark, the way
# xlsx_roundtrip.py checks it with openpyxl: each program opens the workbook and saves it as a workbook
# of its own, which xlsx_roundtrip.py then compares with the source CSV. A cell either program misplaces
# or misreads shows as a mismatch.
#
# usage: tests/tools/other_readers.sh SOURCE.csv OUTPUT.xlsx [xlsx_roundtrip.py options...]
#
# Needs soffice (Debian: libreoffice-calc-nogui) and ssconvert (gnumeric); a reader that is missing is
# reported and skipped. Not part of ctest: neither program is among the test dependencies.
set -uo pipefail

[ $# -ge 2 ] || { sed -n '2,10p' "$0" >&2; exit 2; }
source=$1 workbook=$2
shift 2
options=("$@")
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

status=0
check() {
  local reader=$1 resaved=$2
  if [ ! -s "$resaved" ]; then
    echo "$reader: FAILED: no workbook written (see $scratch/$reader.log)"
    cat "$scratch/$reader.log" >&2
    status=1
    return
  fi
  printf '%s: ' "$reader"
  /usr/bin/python3 "$here/xlsx_roundtrip.py" "$source" "$resaved" "${options[@]}" || status=1
}

if command -v soffice >/dev/null; then
  mkdir -p "$scratch/lo"
  soffice -env:UserInstallation="file://$scratch/lo-profile" --headless \
    --convert-to "xlsx:Calc MS Excel 2007 XML" --outdir "$scratch/lo" "$workbook" >"$scratch/libreoffice.log" 2>&1
  check libreoffice "$scratch/lo/$(basename "${workbook%.*}").xlsx"
else
  echo "libreoffice: skipped (no soffice)"
fi

if command -v ssconvert >/dev/null; then
  ssconvert -T Gnumeric_Excel:xlsx2 "$workbook" "$scratch/gnumeric.xlsx" >"$scratch/gnumeric.log" 2>&1
  check gnumeric "$scratch/gnumeric.xlsx"
else
  echo "gnumeric: skipped (no ssconvert)"
fi
exit $status
