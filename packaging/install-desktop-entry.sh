#!/bin/sh
# Adds Quillmark to the current user's application menu: a desktop entry that starts the program beside
# this script by its absolute path (the program keeps its settings and its updates beside itself).
#
#   ./install-desktop-entry.sh              add the menu entry
#   ./install-desktop-entry.sh --autostart  also start it quietly (-autorun, tray icon only) at log-in
#   ./install-desktop-entry.sh --remove     remove both entries again
set -eu

here=$(cd "$(dirname "$0")" && pwd -P)
program="$here/Quillmark"
applications="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
autostart="${XDG_CONFIG_HOME:-$HOME/.config}/autostart"
entry=quillmark.desktop

autostart_wanted=0
case "${1:-}" in
  "") ;;
  --autostart) autostart_wanted=1 ;;
  --remove)
    rm -f "$applications/$entry" "$autostart/$entry"
    echo "Removed the Quillmark menu and autostart entries."
    exit 0 ;;
  -h|--help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
  *) echo "install-desktop-entry.sh: unknown option $1" >&2; exit 2 ;;
esac

if [ ! -x "$program" ]; then
  echo "install-desktop-entry.sh: no program at $program" >&2
  exit 1
fi

# Exec quotes the path (it may hold blanks). Inside the quotes ", ` and $ take a backslash, a backslash
# takes three more (the entry's own escaping comes first), and % is doubled.
quoted=$(printf '%s' "$program" | sed -e 's/\\/\\\\\\\\/g' -e 's/["`$]/\\\\&/g' -e 's/%/%%/g')

# write_entry FILE ARGUMENTS
write_entry() {
  mkdir -p "$(dirname "$1")"
  cat > "$1.tmp" <<ENTRY
[Desktop Entry]
Type=Application
Name=Quillmark
Name[zh_CN]=Quillmark CSV批量转换
Comment=Convert folders of CSV files into Excel workbooks
Comment[zh_CN]=将文件夹中的csv文件批量转换为Excel工作簿
Exec="$quoted"$2
Icon=$here/quillmark.png
Path=$here
Terminal=false
Categories=Office;Spreadsheet;
ENTRY
  mv "$1.tmp" "$1"
}

write_entry "$applications/$entry" ""
echo "Menu entry: $applications/$entry"
if [ "$autostart_wanted" = 1 ]; then
  write_entry "$autostart/$entry" " -autorun"
  echo "Autostart entry: $autostart/$entry"
fi
