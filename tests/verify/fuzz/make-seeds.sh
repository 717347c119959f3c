#!/usr/bin/env bash
# Seeds for fuzz_verify_scan made with the real formatters: the first 64 KiB
# of fresh FAT12, FAT16, FAT32 and NTFS images (boot sector, FATs, root
# directory, the first MFT records), each behind the mode byte that scans it
# as its kind. Usage: make-seeds.sh CORPUS_FOLDER
set -euo pipefail
out="$1"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

seed() {  # seed MODE_BYTE IMAGE NAME
  printf "\\x$1" > "$out/seed-$3"
  head -c 65536 "$2" >> "$out/seed-$3"
}

truncate -s 1440K "$work/fat12.img" && mkfs.fat -F 12 -n SEED "$work/fat12.img" >/dev/null
truncate -s 16M "$work/fat16.img" && mkfs.fat -F 16 -s 1 -n SEED "$work/fat16.img" >/dev/null
truncate -s 34M "$work/fat32.img" && mkfs.fat -F 32 -s 1 -n SEED "$work/fat32.img" >/dev/null
truncate -s 2M "$work/ntfs.img" && mkntfs -F -Q -q -c 512 -L SEED "$work/ntfs.img" >/dev/null 2>&1
# Mode bytes: bits 2-3 choose FAT12/16, FAT32, NTFS; bit 0 makes it a scan.
seed 01 "$work/fat12.img" fat12
seed 01 "$work/fat16.img" fat16
seed 05 "$work/fat32.img" fat32
seed 09 "$work/ntfs.img" ntfs
seed 29 "$work/ntfs.img" ntfs-quick
# A volume holding a file and a folder: records past the system ones and a
# root index with entries of its own.
truncate -s 2M "$work/ntfs-files.img" && mkntfs -F -Q -q -c 512 -L SEED "$work/ntfs-files.img" >/dev/null 2>&1
printf 'a few words\n' > "$work/note.txt"
ntfscp -f "$work/ntfs-files.img" "$work/note.txt" note.txt >/dev/null 2>&1
seed 09 "$work/ntfs-files.img" ntfs-files
# FAT volumes whose root folder holds a live and a deleted entry.
cp "$work/fat12.img" "$work/fat12-files.img"
MTOOLS_SKIP_CHECK=1 mcopy -i "$work/fat12-files.img" "$work/note.txt" ::NOTE.TXT
MTOOLS_SKIP_CHECK=1 mcopy -i "$work/fat12-files.img" "$work/note.txt" "::A long name.txt"
MTOOLS_SKIP_CHECK=1 mdel -i "$work/fat12-files.img" "::A long name.txt"
seed 01 "$work/fat12-files.img" fat12-files
# The root folder's index block on its own (mode 4).
printf '\x04' > "$out/seed-index"
at=$(grep -m1 -obUa INDX "$work/ntfs-files.img" | cut -d: -f1)
dd if="$work/ntfs-files.img" iflag=skip_bytes,count_bytes skip="$at" count=4096 bs=4096 status=none >> "$out/seed-index"
# An MFT record on its own for the record readers (mode 0).
printf '\x00' > "$out/seed-record"
dd if="$work/ntfs.img" bs=512 skip=32 count=2 status=none >> "$out/seed-record"
