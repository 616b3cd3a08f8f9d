#!/usr/bin/env bash
# The Linux plug-in must export exactly one symbol: GetFilterTable.
set -euo pipefail
exports=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
if [ "$exports" != "GetFilterTable" ]; then
  echo "expected only GetFilterTable among the exports of $1, found:" >&2
  echo "$exports" >&2
  exit 1
fi
echo "$1 exports GetFilterTable only"
