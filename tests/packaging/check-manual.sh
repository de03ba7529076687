#!/usr/bin/env bash
# Each option a program's --help lists has its entry in the program's manual page and
# the other way round, spelled the same ("-b, --begin TIME"); the pages format without
# a warning. Arguments: pairs of PROGRAM MANUAL_PAGE.
set -euo pipefail

# An option line: a short and/or long name and an argument in capitals, at the start of a
# line indented as option lists are (2 to 7 spaces; prose is indented further or not at all).
options() {
  sed -nE 's/^ {2,7}((-[[:alnum:]](, --[^ ,]+)?|--[^ ,]+)( [A-Z][A-Z0-9_]*)?)( .*)?$/\1/p'
}

export LC_ALL=C.UTF-8 MANWIDTH=200
status=0
while [ $# -ge 2 ]; do
  program=$1 page=$2
  shift 2
  name=$(basename "$program")
  warnings=$(man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || true
  [ -z "$warnings" ] || { echo "$page: $warnings"; status=1; }
  help=$("$program" --help | options)
  manual=$(man -l "$page" | options)
  [ -n "$help" ] || { echo "$name --help lists no option"; status=1; }
  if [ "$help" != "$manual" ]; then
    echo "$name: options of --help (<) and of its manual page (>) differ:"
    diff <(echo "$help") <(echo "$manual") | grep '^[<>]' || true
    status=1
  fi
done
exit $status
