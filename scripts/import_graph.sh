#!/usr/bin/env bash
# Prints the folder -> folder include edges of src/ (one line per edge, with
# the number of #include lines behind it), and the libraries each engine
# folder's sources include from outside the project (Qt, libntfs-3g).
set -u
cd "$(dirname "$0")/../src"
folder_of() {  # src-relative file -> its layer folder
  case "$1" in
    drivers/*/*|app/qt/*) echo "$1" | cut -d/ -f1-2 ;;
    *) echo "$1" | cut -d/ -f1 ;;
  esac
}
for f in $(find . -name '*.cpp' -o -name '*.h' | sed 's#^\./##' | sort); do
  from=$(folder_of "$f")
  grep -hoE '^#include "[^"]+"' "$f" | sed -E 's/#include "(.*)"/\1/' | while read -r inc; do
    [[ "$inc" == */* ]] || continue
    to=$(folder_of "$inc")
    [[ "$to" == "$from" ]] || echo "$from -> $to"
  done
  grep -hoE '^#include <(Q[A-Za-z]+|ntfs-3g/)' "$f" | sed -E 's/#include <(Q).*/\1t/; s/#include <ntfs-3g\//libntfs-3g/' |
    sort -u | while read -r lib; do echo "$from -> [$lib]"; done
done | sort | uniq -c | awk '{print $2, $3, $4, "(" $1 ")"}'
