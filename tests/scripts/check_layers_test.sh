#!/usr/bin/env bash
# scripts/check_layers on small source trees: a layered tree passes; an
# include of a higher folder, two units that include each other, a longer
# loop and a folder missing from the layer list each fail with their message.
set -euo pipefail
check=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# tree NAME FILE=CONTENT... : a tree of its own with the given files.
tree() {
  local dir=$tmp/$1; shift
  mkdir -p "$dir"
  printf 'common\nmatchlib/core\nmatchlib/image\napi\n' >"$dir/layers.txt"
  local spec
  for spec in "$@"; do
    mkdir -p "$dir/$(dirname "${spec%%=*}")"
    printf '%b' "${spec#*=}" >"$dir/${spec%%=*}"
  done
}
# expect NAME STATUS TEXT : the check's exit status and a line of its output.
expect() {
  local out status=0
  out=$(bash "$check" "$tmp/$1" 2>&1) || status=$?
  if [ "$status" -ne "$2" ] || ! grep -qF -- "$3" <<<"$out"; then
    echo "FAIL $1: status $status (want $2), output:"; echo "$out"
    failures=$((failures + 1))
  fi
}

base=(common/log.h='#pragma once\n'
      matchlib/core/ctx.h='#include "common/log.h"\n'
      matchlib/core/ctx.cpp='#include "matchlib/core/ctx.h"\n#include <vector>\n'
      matchlib/image/img.h='#include "matchlib/core/ctx.h"\n#include "zylscan/public.h"\n'
      matchlib/image/img.cpp='#include "img.h"\n#include "../core/ctx.h"\n'
      api/calls.cpp='#include "matchlib/image/img.h"\n')
tree layered "${base[@]}"
expect layered 0 "no upward include, no loop"

tree upward "${base[@]}" matchlib/core/ctx.cpp='#include "matchlib/image/img.h"\n'
expect upward 1 "matchlib/core/ctx.cpp includes matchlib/image/img.h: matchlib/image is above matchlib/core"

# Relative paths are resolved against the including file's folder.
tree relative "${base[@]}" matchlib/core/ctx.cpp='#include "../image/img.h"\n'
expect relative 1 "matchlib/core/ctx.cpp includes ../image/img.h: matchlib/image is above matchlib/core"

tree mutual "${base[@]}" matchlib/image/a.h='' matchlib/image/a.cpp='#include "matchlib/image/b.h"\n' \
     matchlib/image/b.h='' matchlib/image/b.cpp='#include "matchlib/image/a.h"\n'
expect mutual 1 "matchlib/image/a and matchlib/image/b include each other"

tree loop "${base[@]}" api/a.h='#include "api/b.h"\n' api/b.h='#include "api/c.h"\n' api/c.h='#include "api/a.h"\n'
expect loop 1 "include loop among units:"

tree unplaced "${base[@]}" tools/x.cpp='#include "api/calls.h"\n'
expect unplaced 2 "folder tools (of tools/x.cpp) is not in the layer list"

[ "$failures" -eq 0 ] && echo "check_layers: every case as expected"
exit $((failures > 0))
