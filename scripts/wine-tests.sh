#!/usr/bin/env bash
# The Windows build under Wine: cross-builds the `windows` preset, runs the
# engine's Windows tests, then runs nullifex-cli.exe on an image file that
# the Wine prefix presents as the raw volume of drive E: and compares what
# it leaves and prints with the Linux build's nullifex-cli on a copy of the
# same image. Needs the Linux build (build/default) made first.
#
# Everything happens in a private Wine prefix in a temporary folder, headless
# and without standard input; the prefix's wineserver is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh

linux_cli=$root/build/default/cli/nullifex-cli
[ -x "$linux_cli" ] || { echo "wine-tests: build the default preset first ($linux_cli)" >&2; exit 1; }

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

start=$SECONDS
cmake --preset windows >/dev/null
cmake --build --preset windows

work=$(mktemp -d /tmp/nfx-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  # Only this prefix's wineserver: -k talks to the server of $WINEPREFIX.
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$wine" wineboot --init </dev/null >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
"$wineserver" -w
# Z: would reach the machine's whole file system; nothing here needs it.
rm -f "$WINEPREFIX/dosdevices/z:"

# E: is an image file: its raw volume (e::) is the file, its root (e:) an
# empty folder. Wine's mount manager reads the links when its server starts.
size=$((2 * 1024 * 1024))
mkdir "$work/e-root"
ln -s "$work/e-root" "$WINEPREFIX/dosdevices/e:"
ln -s "$work/win.img" "$WINEPREFIX/dosdevices/e::"
head -c "$size" /dev/urandom >"$work/random.img"

# The Linux build reaches its copy as E: through a drive map of its own.
mkdir -p "$work/linux-config/Ostrand"
echo "E: removable $work/linux.img" >"$work/linux-config/Ostrand/drives.conf"
linux() { XDG_CONFIG_HOME=$work/linux-config "$linux_cli" "$@" </dev/null 2>&1; }
# From a folder Wine knows (C:), with the console's CR LF line ends made LF.
windows() {
  (cd "$WINEPREFIX/drive_c" && "$wine" "$root/build/windows/cli/nullifex-cli.exe" "$@" </dev/null 2>&1) | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

passed=0
failed=0
check() {  # check NAME COMMAND...: one named check, counted
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name"
  fi
}
same_output() {
  if diff "$1" "$2" >"$work/diff.txt"; then return 0; fi
  cat "$work/diff.txt"
  return 1
}
# The verify's report, without its progress lines: how many dirty sectors
# the counters had reached when a percentage was printed depends on timing.
same_report() {
  same_output <(grep -v '^Verifying drive' "$1") <(grep -v '^Verifying drive' "$2")
}
wipe_passes() {  # wipe_passes BUILD LEVEL: exit status 0 and the clean message
  "$1" wipe E: --passes "$2" --fs fat --no-format --yes >"$work/wipe-$1-$2.txt"
  local status=$?
  tail -n 2 "$work/wipe-$1-$2.txt"
  [ "$status" -eq 0 ] && grep -q "Finished. Your drive is now clean." "$work/wipe-$1-$2.txt"
}
all_zero() { cmp -s -n "$size" "$1" /dev/zero; }
complementary_pairs() {  # every byte pair (2i, 2i+1) is b, b XOR 0xFF
  od -An -v -tu1 -w2 "$1" | awk '$1 + $2 != 255 { bad = 1; exit } END { exit bad }'
}

echo "== engine tests under Wine"
ctest --preset windows

echo "== nullifex-cli.exe on an image file as E:"
cp "$work/random.img" "$work/win.img"
cp "$work/random.img" "$work/linux.img"
"$wineserver" -k 2>/dev/null || true

windows drives E: >"$work/drives.txt" || true
cat "$work/drives.txt"
check "drives lists E: with the image's size" grep -Eq "^E: +fixed .* 2,097,152\$" "$work/drives.txt"

windows view E: 0 >"$work/view-win.txt"
linux view E: 0 >"$work/view-linux.txt"
check "view E: 0 prints the Linux build's dump" same_output "$work/view-win.txt" "$work/view-linux.txt"
windows verify E: >"$work/verify-win.txt" || true
linux verify E: >"$work/verify-linux.txt" || true
tail -n 3 "$work/verify-win.txt"
check "verify of the random image reports what the Linux build reports" \
  same_report "$work/verify-win.txt" "$work/verify-linux.txt"

for level in 1 3; do
  cp "$work/random.img" "$work/win.img"
  cp "$work/random.img" "$work/linux.img"
  check "level $level: wipe under Wine succeeds" wipe_passes windows "$level"
  check "level $level: wipe under Linux succeeds" wipe_passes linux "$level"
  # Level 3 reads every pass back: a clean finish says the read-back passed.
  if [ "$level" = 1 ]; then
    check "level 1: the image is all zeros under Wine" all_zero "$work/win.img"
    check "level 1: Wine leaves what Linux leaves" cmp -s "$work/win.img" "$work/linux.img"
  else
    check "level 3: complementary pairs over the whole image under Wine" complementary_pairs "$work/win.img"
    check "level 3: and under Linux" complementary_pairs "$work/linux.img"
  fi
  windows verify E: >"$work/verify-win.txt" || true
  linux verify E: >"$work/verify-linux.txt" || true
  tail -n 9 "$work/verify-win.txt"
  check "level $level: verify reports what the Linux build reports" same_report "$work/verify-win.txt" "$work/verify-linux.txt"
done

# A FAT12 floppy with a file on it: the file system as Windows names it
# (read from the boot sector, as Wine's mount manager gives none for an
# image) leads verify to the same layout, label and dirty clusters.
rm -f "$work/win.img"
mkfs.fat -C -n FLOPPY "$work/win.img" 1440 >/dev/null
head -c 100000 /dev/urandom >"$work/file.bin"
mcopy -i "$work/win.img" "$work/file.bin" ::FILE.BIN
cp "$work/win.img" "$work/linux.img"
"$wineserver" -k 2>/dev/null || true
windows verify E: >"$work/verify-win.txt" || true
linux verify E: >"$work/verify-linux.txt" || true
tail -n 9 "$work/verify-win.txt"
check "a FAT12 floppy with a file: verify reports what the Linux build reports" \
  same_report "$work/verify-win.txt" "$work/verify-linux.txt"

echo "wine-tests: $((SECONDS - start)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
