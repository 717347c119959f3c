#!/usr/bin/env bash
# Makes the demo drive once: a 1.44 MB FAT12 floppy image holding a few real
# text files, in the user's data folder, mapped as A: (removable) in the
# user's drive map. Running it again changes nothing; a user's own A: line
# is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH="$PATH:/usr/sbin:/sbin"

case "${XDG_DATA_HOME:-}" in /*) data_home="$XDG_DATA_HOME" ;; *) data_home="$HOME/.local/share" ;; esac
case "${XDG_CONFIG_HOME:-}" in /*) config_home="$XDG_CONFIG_HOME" ;; *) config_home="$HOME/.config" ;; esac
data_dir="$data_home/Nullifex"
image="$data_dir/demo-floppy.img"
map_dir="$config_home/Ostrand"
map="$map_dir/drives.conf"

mkdir -p "$data_dir" "$map_dir"

if [ ! -f "$image" ] || [ "$(stat -c %s "$image")" -ne 1474560 ]; then
  tmp="$(mktemp "$data_dir/.demo-floppy.XXXXXX")"
  files="$(mktemp -d)"
  trap 'rm -rf "$tmp" "$files"' EXIT
  rm -f "$tmp"
  # -C creates the image: 1440 KiB gives the standard floppy geometry.
  mkfs.fat -C -F 12 -n NULLIFEX "$tmp" 1440 >/dev/null
  cp README.md "$files/README.TXT"
  cp CMakeLists.txt "$files/BUILD.TXT"
  {
    echo "This floppy image was made for trying Nullifex without risking a real drive."
    echo "Wipe it, verify it, or browse its sectors: it is only a file,"
    echo "$image"
  } > "$files/ABOUT.TXT"
  for f in README.TXT BUILD.TXT ABOUT.TXT; do
    # mcopy exits non-zero when a file cannot be copied.
    mcopy -i "$tmp" "$files/$f" "::/$f"
  done
  mv -f "$tmp" "$image"
fi

if ! grep -Eq '^[[:space:]]*[Aa]:' "$map" 2>/dev/null; then
  # Replace the map whole, so a crash never leaves half a line in it.
  tmp_map="$(mktemp "$map_dir/.drives.conf.XXXXXX")"
  if [ -f "$map" ]; then
    cat "$map" > "$tmp_map"
    [ -z "$(tail -c 1 "$map")" ] || echo >> "$tmp_map"
  else
    echo "# letter  type  path (to the end of the line)" > "$tmp_map"
  fi
  echo "A: removable $image" >> "$tmp_map"
  mv -f "$tmp_map" "$map"
elif ! grep -Eq "^[[:space:]]*[Aa]:[[:space:]]+[a-z]+[[:space:]]+$(printf '%s' "$image" | sed 's/[][\.*^$/]/\\&/g')[[:space:]]*\$" "$map"; then
  echo "make-demo: A: is already mapped in $map; the demo floppy is $image" >&2
fi
