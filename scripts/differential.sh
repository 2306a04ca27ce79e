#!/usr/bin/env bash
# Runs two qbox builds over the same images and reports every difference in what they
# print, the status they exit with and the files they write: info, check, ls (every file,
# as JSON), export, and convert to DMK and to JV3.
#
#   scripts/differential.sh OLD_QBOX NEW_QBOX IMAGE...
#
# QB_DIFF_IGNORE=REGEX drops the lines that match from what both builds print before
# comparing (for a new kind of finding, say). The image files are never written (export and convert open them read-only, and the
# outputs go to a scratch folder). Prints one line per image and verb that differs, and
# ends with the count; exit status 1 when anything differs.
set -uo pipefail
if [[ $# -lt 3 ]]; then
  echo "usage: $0 OLD_QBOX NEW_QBOX IMAGE..." >&2
  exit 2
fi
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# One run: DIR/out (stdout and stderr with the output path replaced), DIR/status, DIR/files.
run() {
  local qbox=$1 dir=$2
  shift 2
  mkdir -p "$dir"
  (cd "$dir" && "$qbox" "$@" >out 2>&1; echo $? >status)
  grep -rlF "$dir" "$dir" | xargs -r sed -i "s#$dir#OUT#g"
  if [[ -n ${QB_DIFF_IGNORE:-} ]]; then
    sed -i -E "/${QB_DIFF_IGNORE}/d" "$dir/out"
  fi
}

differences=0
images=0
for image in "$@"; do
  images=$((images + 1))
  name=$(basename "$image")
  for verb in info check ls export convert-dmk convert-jv3; do
    for side in old new; do
      qbox=$old
      [[ $side == new ]] && qbox=$new
      dir=$scratch/$side
      rm -rf "$dir"
      case $verb in
        info) run "$qbox" "$dir" info --json "$image" ;;
        check) run "$qbox" "$dir" check "$image" ;;
        ls) run "$qbox" "$dir" ls --json --all "$image" ;;
        export) run "$qbox" "$dir" export "$image" -d "$dir/export" ;;
        convert-dmk) run "$qbox" "$dir" convert "$image" "$dir/copy" --type dmk ;;
        convert-jv3) run "$qbox" "$dir" convert "$image" "$dir/copy" --type jv3 ;;
      esac
    done
    if ! diff -r "$scratch/old" "$scratch/new" >/dev/null; then
      differences=$((differences + 1))
      echo "DIFFERS: $name $verb"
    fi
  done
done
echo "$images images, $differences differences"
[[ $differences -eq 0 ]]
