#!/bin/bash
# The media build twice from nothing: every media tool runs into two fresh folders (the tools of
# one build, all at once as a parallel build runs them), the media archive is packed from each,
# and every file's hash must match between the two and with the file the build itself made.
# Prints how long each media build took, so that `taskset -c 0,1` on this script measures the
# build on two cores.
#
# usage: media_twice.sh BUILD_MEDIA BUILD_RESOURCES HANDWRITTEN_MEDIA FONT FONT_BOLD \
#          FONTBAKE TEXTUREMAKE VILLAGEBUILD PATHMAKE MUSICMAKE PICTUREMAKE DIALOGPICTURES RARWRITE
set -euo pipefail

[ $# -eq 13 ] || { echo "usage: media_twice.sh (13 arguments, see the script)" >&2; exit 2; }
built_media=$1 built_resources=$2 handwritten=$3 font=$4 font_bold=$5
fontbake=$6 texturemake=$7 villagebuild=$8 pathmake=$9 musicmake=${10} picturemake=${11}
dialogpictures=${12} rarwrite=${13}

work=$(mktemp -d "${TMPDIR:-/tmp}/rh-media-twice.XXXXXX")
trap 'rm -rf "$work"' EXIT

# make_media DIR: the whole media build into DIR/media (the archive's root) and DIR/resources.
make_media() {
  local dir=$1
  mkdir -p "$dir/media/Media" "$dir/resources"
  local pids=()
  "$fontbake" "$font" "$dir/media/Media/Fonts" & pids+=($!)
  "$texturemake" "$dir/media" & pids+=($!)
  "$villagebuild" "$dir/media" "$dir/village.list" & pids+=($!)
  "$pathmake" "$dir/media/Media" & pids+=($!)
  "$musicmake" "$dir/media/Media/rimeholt.ogg" & pids+=($!)
  "$picturemake" "$dir/resources" "$font" "$font_bold" & pids+=($!)
  "$dialogpictures" "$dir/resources" & pids+=($!)
  local failed=0
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  [ $failed -eq 0 ] || { echo "a media tool failed" >&2; return 1; }
  # The archive of every file made and the hand-written ones, as the build packs it.
  (cd "$dir/media" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
     printf '%s\t%s\n' "$f" "$dir/media/$f"; done) > "$dir/made.list"
  (cd "$handwritten" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
     printf 'Media/%s\t%s\n' "$f" "$handwritten/$f"; done) > "$dir/handwritten.list"
  "$rarwrite" --list "$dir/made.list" --list "$dir/handwritten.list" "$dir/resources/media.rar"
}

for run in one two; do
  start=$(date +%s.%N)
  make_media "$work/$run"
  end=$(date +%s.%N)
  printf 'media build %s: %.1f s\n' "$run" "$(echo "$end - $start" | bc)"
done

# hashes DIR: "hash  relative path" of every file below DIR, in name order.
hashes() { (cd "$1" && find . -type f ! -name '*.list' -print0 | LC_ALL=C sort -z | xargs -0 sha256sum); }

hashes "$work/one" > "$work/one.sha"
hashes "$work/two" > "$work/two.sha"
count=$(wc -l < "$work/one.sha")
if ! diff -u "$work/one.sha" "$work/two.sha"; then
  echo "FAIL: the two media builds differ" >&2
  exit 1
fi
echo "identical: $count files in both builds"

# The build's own files are the same bytes (the archive aside: the build's may hold files of
# tools this script does not run).
mismatch=0 compared=0
while read -r hash path; do
  case "$path" in
    ./media/*) own="$built_media/${path#./media/}" ;;
    ./resources/media.rar) continue ;;
    ./resources/*) own="$built_resources/${path#./resources/}" ;;
    *) continue ;;
  esac
  [ -f "$own" ] || { echo "not in the build: $path" >&2; mismatch=1; continue; }
  compared=$((compared + 1))
  [ "$(sha256sum < "$own" | cut -d' ' -f1)" = "$hash" ] || { echo "differs from the build's: $path" >&2; mismatch=1; }
done < "$work/one.sha"
[ $mismatch -eq 0 ] || { echo "FAIL: the build's media differ from a fresh build's" >&2; exit 1; }
echo "the build's own files match: $compared"
