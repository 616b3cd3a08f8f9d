#!/usr/bin/env bash
# The bash completion of zeverive and zeverive-batch, as bash-completion
# loads it: options from each program's own --help, file names where an
# option takes a file, its names where it takes one of a few, nothing where
# it takes a number.
#
#   completion.sh COMPLETION_SCRIPT ZEVERIVE ZEVERIVE_BATCH WORK_DIR
set -euo pipefail

script=$1
zeverive=$2
batch=$3
work=$4
rm -rf "$work"
mkdir -p "$work"
cd "$work"
touch clean.y4m noisy.y4m

# What the completion offers for a command line typed up to its end.
complete_line() {
  bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_LINE=$2
    COMP_POINT=${#2}
    read -ra COMP_WORDS <<<"$2"
    [[ $2 != *" " ]] || COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _zeverive "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$script" "$1" | sort | tr '\n' ' ' | sed 's/ *$//'
}

status=0
expect() {
  local got
  got=$(complete_line "$1")
  if [ "$got" = "$2" ]; then
    echo "ok: '$1' -> '$got'"
  else
    echo "FAILED: '$1' -> '$got', expected '$2'"
    status=1
  fi
}

expect "$zeverive --pre" "--preset --preview --preview-frame"
expect "$zeverive --preset " "best default fast"
expect "$zeverive --no-" "--no-auto --no-nr5-rows-x10"
expect "$zeverive --reference " "clean.y4m noisy.y4m"
expect "$zeverive --sigma " ""
expect "$zeverive -j " ""
expect "$zeverive --tile n" "noisy.y4m"
expect "$batch --ho" "--hosts"
expect "$batch --piece " ""
expect "$batch --encode " ""
expect "$batch c" "clean.y4m"
exit $status
