#!/usr/bin/env bash
# Prints the link edges between the program's libraries and to Qt and
# libntfs-3g, as CMake's dependency graph gives them ("private" marks a
# dependency its users do not inherit), then what each library reaches
# through its users' side (its public edges, followed to the end). Fails
# when an engine library or the platform core reaches Qt or libntfs-3g.
set -eu
src="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake -S "$src" -B "$work/b" -G Ninja --graphviz="$work/g.dot" >/dev/null
# "from to kind" for every edge of a vr_ library.
awk '/ -> / && /\/\/ vr_/ {
  kind = $0 ~ /style = dotted/ ? "private" : "public"
  sub(/.*\/\/ /, ""); split($0, e, " -> "); print e[1], e[2], kind
}' "$work/g.dot" | grep -E ' (vr_[a-z_]+|Qt6::[A-Za-z]+|PkgConfig::NTFS3G) ' | sort >"$work/edges"
awk '{ printf "%s -> %s%s\n", $1, $2, $3 == "private" ? " (private)" : "" }' "$work/edges"
echo
status=0
for lib in $(awk '{print $1}' "$work/edges" | sort -u); do
  reach="" todo="$lib"
  while [ -n "$todo" ]; do
    next=""
    for t in $todo; do
      for d in $(awk -v t="$t" '$1 == t && $3 == "public" {print $2}' "$work/edges"); do
        case " $reach " in *" $d "*) ;; *) reach="$reach $d" next="$next $d" ;; esac
      done
    done
    todo="$next"
  done
  foreign=$(printf '%s\n' $reach | grep -E '^(Qt6::|PkgConfig::NTFS3G)' | tr '\n' ' ' || true)
  echo "$lib reaches: ${foreign:-neither Qt nor libntfs-3g}"
  case "$lib" in
    vr_platform | vr_volume | vr_alloc | vr_ntfs | vr_fat | vr_map | vr_optimise | vr_tools | vr_viewer)
      [ -z "$foreign" ] || status=1 ;;
  esac
done
exit $status
