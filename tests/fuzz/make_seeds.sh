#!/usr/bin/env bash
# Seed corpora for the fuzzers: small images made by sfdisk, mkfs.fat and
# mtools (an MBR with a FAT16 primary partition and an extended chain holding
# a FAT32 and a FAT12 logical drive; a floppy; a volume without a partition
# table), each with folders, long names, a fragmented file and deleted files
# and folders, packed for both access paths; exFAT volumes made by mkfs.exfat
# (whole disk, MBR and GPT partitions), filled the same way through exfat-fuse
# where this machine can mount one (root, /dev/fuse), else left empty.
#   make_seeds.sh PACK_SEED OUTDIR   (OUTDIR/images, OUTDIR/texts, OUTDIR/exfat)
set -euo pipefail
pack=$1 out=$2
export MTOOLSRC=/dev/null MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rm -rf "$out"
images=$out/images
mkdir -p "$images"

fill() {  # fill MTOOLS_IMAGE
  local i=$1
  printf 'first file\n' > "$tmp/a.txt"
  seq 1 300 > "$tmp/b.txt"
  printf 'gone\n' > "$tmp/c.txt"
  mmd -i "$i" ::/DOCS ::/DOCS/Deep ::/OLD
  mcopy -i "$i" "$tmp/a.txt" "::/A Long Name.txt"
  mcopy -i "$i" "$tmp/c.txt" ::/GONE.TXT
  mcopy -i "$i" "$tmp/b.txt" ::/DOCS/NUMBERS.TXT
  mcopy -i "$i" "$tmp/a.txt" ::/DOCS/Deep/X.TXT
  mcopy -i "$i" "$tmp/c.txt" ::/OLD/OLDFILE.TXT
  mcopy -i "$i" "$tmp/b.txt" ::/FRAG.TXT
  mdel -i "$i" ::/GONE.TXT
  mdeltree -i "$i" ::/OLD
  mcopy -i "$i" "$tmp/a.txt" ::/AFTER.TXT
}

disk=$tmp/disk.img
truncate -s 48M "$disk"
sfdisk --no-reread --no-tell-kernel -q "$disk" >/dev/null <<'SF'
label: dos
start=2048, size=8192, type=6
start=10240, type=5
size=75776, type=c
size=4096, type=1
SF
mapfile -t parts < <(sfdisk -d "$disk" | sed -n 's/.*start= *\([0-9]*\), size= *\([0-9]*\), type=\([0-9a-f]*\).*/\1 \2 \3/p')
for p in "${parts[@]}"; do
  read -r start size type <<<"$p"
  case $type in
    6) bits=16 ;; c) bits=32 ;; 1) bits=12 ;; *) continue ;;
  esac
  mkfs.fat -F "$bits" -s 1 --offset "$start" -h "$start" "$disk" $((size / 2)) >/dev/null 2>&1
  fill "$disk@@$((start * 512))"
done
"$pack" "$disk" 0 "$images/disk-direct"
"$pack" "$disk" 2 "$images/disk-library"

floppy=$tmp/floppy.img
mkfs.fat -C "$floppy" 360 >/dev/null
fill "$floppy"
"$pack" "$floppy" 1 "$images/floppy-direct"
"$pack" "$floppy" 3 "$images/floppy-library"
"$pack" "$floppy" 5 "$images/floppy-read-only"

# A floppy whose second file's chain joins the first's after one cluster (in
# both FATs), and a lost cluster: the scan's repairs have work to do.
set_fat12() {  # IMAGE FAT_BYTE_OFFSET CLUSTER VALUE
  local img=$1 base=$2 c=$3 v=$4 off word
  off=$((base + c * 3 / 2))
  word=$(od -An -tu2 -j "$off" -N2 "$img" | tr -d ' ')
  if ((c % 2)); then word=$(((word & 0x000F) | (v << 4))); else word=$(((word & 0xF000) | v)); fi
  printf "\\x$(printf %02x $((word & 0xFF)))\\x$(printf %02x $((word >> 8)))" |
    dd of="$img" bs=1 seek="$off" conv=notrunc status=none
}
crossed=$tmp/crossed.img
mkfs.fat -C "$crossed" 360 >/dev/null
seq 1 300 > "$tmp/two.txt"
mcopy -i "$crossed" "$tmp/two.txt" ::/FIRST.TXT
mcopy -i "$crossed" "$tmp/two.txt" ::/SECOND.TXT
first=$(mshowfat -i "$crossed" ::/FIRST.TXT | sed -n 's/.*<\([0-9]*\)-.*/\1/p')
second=$(mshowfat -i "$crossed" ::/SECOND.TXT | sed -n 's/.*<\([0-9]*\)-.*/\1/p')
for fat in 512 1536; do  # a 360 KiB floppy: two FATs of two sectors from sector 1
  set_fat12 "$crossed" $fat "$second" $((first + 1))
  set_fat12 "$crossed" $fat 200 4095
done
"$pack" "$crossed" 1 "$images/floppy-crossed"

small=$tmp/small.img
mkfs.fat -C "$small" 160 >/dev/null
fill "$small"
"$pack" "$small" 0 "$images/superfloppy"

# GPT disks as sfdisk makes them (one with a FAT32 partition, one hybrid, one
# whose primary header is broken) and whole-disk FAT and exFAT volumes: the
# first-sector readers' corpus.
gpt=$out/gpt
mkdir -p "$gpt"
gptdisk() {  # FILE SCRIPT
  truncate -s 16M "$1"
  printf 'label: gpt\n%s' "$2" | sfdisk -q --no-reread --no-tell-kernel "$1" >/dev/null
}
gptdisk "$tmp/gpt.img" 'start=2048, size=4096, type=U, name="EFI"
size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name="Data"
type=L, name="root", attrs="LegacyBIOSBootable"
'
mkfs.fat -F 32 -s 1 --offset 6144 "$tmp/gpt.img" 4096 >/dev/null 2>&1
"$pack" "$tmp/gpt.img" 0 "$gpt/gpt"
cp "$tmp/gpt.img" "$tmp/hybrid.img"
printf '\x80\0\0\0\x0c\0\0\0\x00\x18\0\0\x00\x20\0\0' |
  dd of="$tmp/hybrid.img" bs=1 seek=462 conv=notrunc status=none
"$pack" "$tmp/hybrid.img" 0 "$gpt/hybrid"
printf '\xff' | dd of="$tmp/gpt.img" bs=1 seek=$((512 + 56)) conv=notrunc status=none
"$pack" "$tmp/gpt.img" 0 "$gpt/primary-broken"
for layout in 12:2000 16:16000 32:33000; do
  bits=${layout%:*}
  rm -f "$tmp/whole.img"
  mkfs.fat -F "$bits" -s 1 -C "$tmp/whole.img" "${layout#*:}" >/dev/null 2>&1
  "$pack" "$tmp/whole.img" 0 "$gpt/whole-fat$bits"
done
dd if=/dev/zero of="$tmp/whole.img" bs=3 count=1 conv=notrunc status=none
"$pack" "$tmp/whole.img" 0 "$gpt/fat32-sector0-hit"
truncate -s 16M "$tmp/exfat.img"
mkfs.exfat "$tmp/exfat.img" >/dev/null
"$pack" "$tmp/exfat.img" 0 "$gpt/exfat"

# Texts: mapfiles as ddrescue writes them, drive maps and drive arguments.
texts=$out/texts
mkdir -p "$texts"
head -c 65536 /dev/urandom > "$tmp/src.img"
ddrescue -q -n "$tmp/src.img" "$tmp/dst.img" "$tmp/done.map" >/dev/null 2>&1 || true
[ -f "$tmp/done.map" ] && cp "$tmp/done.map" "$texts/ddrescue-finished"
printf '# Mapfile. Created by GNU ddrescue version 1.27\n# current_pos  current_status  current_pass\n0x00010000     +               1\n#      pos        size  status\n0x00000000  0x00004000  +\n0x00004000  0x00000200  -\n0x00004200  0x00001000  *\n0x00005200  0x0000AE00  +\n' > "$texts/bad-block"
printf '0x80 disk.img\n0x00 floppy.img\nreadonly\n' > "$texts/drive-map"
printf -- '--floppy\nfloppy.img\n--mapfile\nfloppy.map\n--disk\ndisk.img\n--read-only\n--direct\ntree\n' > "$texts/arguments"

# exFAT.
exfat=$out/exfat
mkdir -p "$exfat"
fill_exfat() {  # DEVICE
  local m=$tmp/mnt
  mkdir -p "$m"
  mount.exfat-fuse "$1" "$m" >/dev/null 2>&1 || return 0
  mkdir -p "$m/Docs/Deep" "$m/Old"
  printf 'first file\n' > "$m/A Long Name of more than fifteen characters.txt"
  seq 1 300 > "$m/Docs/numbers.txt"
  printf 'x\n' > "$m/Docs/Deep/Résumé ünïcødé 日本語.txt"
  : > "$m/empty.txt"
  seq 1 100 > "$m/frag.bin"
  seq 1 100 > "$m/spacer"
  seq 1 300 >> "$m/frag.bin"
  rm "$m/spacer"
  # Fragmented, then deleted: its chain left in the FAT.
  seq 1 1000 > "$m/gone-frag.bin"
  seq 1 1000 > "$m/keep.bin"
  seq 1 1000 >> "$m/gone-frag.bin"
  printf 'gone\n' > "$m/gone.txt"
  printf 'old\n' > "$m/Old/o.txt"
  # More than a cluster of entries, deleted: the driver frees its chain and
  # shrinks it, and the deleted-folder reader finds the rest.
  mkdir "$m/Gone"
  for i in $(seq 10 54); do printf '%s\n' "$i" > "$m/Gone/file-$i.txt"; done
  sync
  rm "$m/gone.txt" "$m/gone-frag.bin"
  rm -r "$m/Old" "$m/Gone"
  umount "$m" || umount -l "$m"
}
make_exfat() {  # NAME LAYOUT CLUSTER_SIZE
  local img=$tmp/exfat-$1.img off=0 loop
  rm -f "$img"
  case $2 in
    whole) truncate -s 4M "$img" ;;
    mbr) truncate -s 6M "$img"
         printf 'label: dos\nstart=2048, size=8192, type=7\n' | sfdisk --no-reread --no-tell-kernel -q "$img" ;;
    gpt) truncate -s 6M "$img"
         printf 'label: gpt\nstart=2048, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n' |
           sfdisk --no-reread --no-tell-kernel -q "$img" ;;
  esac
  [ "$2" = whole ] || off=$((2048 * 512))
  if loop=$(losetup -f --show --offset $off --sizelimit $((8192 * 512)) "$img" 2>/dev/null); then
    mkfs.exfat -c "$3" "$loop" >/dev/null
    [ -w /dev/fuse ] && fill_exfat "$loop"
    losetup -d "$loop"
  elif [ "$2" = whole ]; then
    mkfs.exfat -c "$3" "$img" >/dev/null
  else
    return 0
  fi
  "$pack" "$img" 0 "$exfat/$1"
}
make_exfat whole whole 512
make_exfat mbr mbr 4K
make_exfat gpt gpt 512

# Cluster data for the rescue readers (cluster_input.h): a geometry header,
# then the data area of a volume quick-formatted after it was filled with
# nested folders, long names and deleted entries, or with a file of every
# carved format.
clusters=$out/clusters
mkdir -p "$clusters"
data_area() {  # IMAGE HEADER_BYTE OUT [MOST_SECTORS]
  local img=$1 head=$2 dst=$3 most=${4:-390}
  local reserved fats roots spf start
  reserved=$(od -An -tu2 -j14 -N2 "$img" | tr -d ' ')
  fats=$(od -An -tu1 -j16 -N1 "$img" | tr -d ' ')
  roots=$(od -An -tu2 -j17 -N2 "$img" | tr -d ' ')
  spf=$(od -An -tu2 -j22 -N2 "$img" | tr -d ' ')
  [ "$spf" -eq 0 ] && spf=$(od -An -tu4 -j36 -N4 "$img" | tr -d ' ')
  start=$((reserved + fats * spf + roots * 32 / 512))
  { printf "\\x$(printf %02x "$head")\\x00\\x00\\x00"
    dd if="$img" bs=512 skip="$start" count="$most" status=none; } > "$dst"
}
lost=$tmp/lost.img
mkfs.fat -C -s 2 "$lost" 720 >/dev/null
fill "$lost"
for i in $(seq 1 30); do printf 'picture %d\n' "$i" > "$tmp/p.txt"; mcopy -i "$lost" "$tmp/p.txt" "::/DOCS/Deep/Holiday picture number $i.txt"; done
mkfs.fat -s 2 "$lost" >/dev/null
data_area "$lost" 1 "$clusters/floppy-folders"
lost32=$tmp/lost32.img
mkfs.fat -C -F 32 -s 1 "$lost32" 34000 >/dev/null
fill "$lost32"
mkfs.fat -F 32 -s 1 "$lost32" >/dev/null
data_area "$lost32" 8 "$clusters/fat32-folders"
samples=$tmp/samples
"$(dirname "$0")/../fixtures/make_carve_samples.sh" "$samples" >/dev/null
for group in "photo.jpg picture.png anim.gif notes.txt" "document.pdf archive.zip report.docx letter.odt" \
             "movie.mp4 tagged.mp3 plain.mp3 streamed.zip"; do
  name=$(echo "$group" | cut -d' ' -f1 | tr . -)
  { printf '\x00\x00\x00\x00'
    for s in $group; do
      cat "$samples/$s"
      pad=$(( (512 - $(stat -c %s "$samples/$s") % 512) % 512 ))
      head -c "$pad" /dev/zero
    done; } > "$clusters/carve-$name"
done
