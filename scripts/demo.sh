#!/usr/bin/env bash
# Creates two demo volumes (FAT16 by mkfs.fat, NTFS by mkntfs) in the build
# folder, maps them as c: and d: and runs VoduRU's unattended job on them.
set -euo pipefail
build=${1:-build}
demo="$build/demo"
mkdir -p "$demo"
export PATH="$PATH:/usr/sbin:/sbin"
export MTOOLS_SKIP_CHECK=1

fat="$demo/fat16.img"
ntfs="$demo/ntfs.img"
rm -f "$fat" "$ntfs"

# FAT16 made by mkfs.fat and filled by mtools (folders, long names, erased
# entries, a system file, fragmented files), and NTFS made by mkntfs and
# filled through libntfs-3g: the project's own fixture builders.
"$build/fixtures/make_fat_volume" fat16 "$fat" >/dev/null
"$build/fixtures/make_ntfs_volume" "$ntfs" >/dev/null 2>&1 || { echo "demo: cannot build $ntfs" >&2; exit 1; }

home="$demo/home"
mkdir -p "$home"
export VODURU_HOME="$home"
echo "Demo volumes: c: = $fat, d: = $ntfs (in use: another program holds pagefile.sys)"
# d: is in use, so VoduRU cannot hold it alone: the file system moves the
# files on its request, and frees their old place only after its flush delay.
map="c=$fat;d=$ntfs,busy=pagefile.sys"

# Status 1 means a run stopped on an error or was refused (a scan that is not
# built yet, say); only a status above that is a failure of the demo.
run() {
  local status=0
  "$build/voduru" "$@" || status=$?
  echo "(VoduRU ended with status $status)"
  [ "$status" -le 1 ]
}

echo
echo "== Checked View of c: and d:, with the map of each saved as a picture"
run --drives "$map" --checked-view c --checked-view d --map-png "$demo/map-%d.png"
echo
echo "== Checksum of every file of c: and d: into their checksum files"
run --drives "$map" --checksum c --checksum d
echo
echo "== The unattended defragment-and-pack run of d: and c: (voduru /d /c),"
echo "   with the map of each saved after its run"
run --drives "$map" /d /c --map-png "$demo/after-%d.png"
echo
echo "== Checked View of d: after its run, once the file system has freed the"
echo "   space the moves left"
run --drives "$map" --checked-view d
echo
echo "== Validate c: and d: against their checksum files: no file may have changed"
run --drives "$map" --validate c --validate d
echo
echo "Log of the last run: $home/VODURU.LOG"
echo "Checksum files: $home/Checksum.c $home/Checksum.d"
echo "Map pictures before: $demo/map-c.png $demo/map-d.png"
echo "Map pictures after:  $demo/after-c.png $demo/after-d.png"
