#!/usr/bin/env bash
# Writes the help of every lumafex command as a help2man include section,
# so that the manual page carries each command's arguments and options.
# Usage: command-help-h2m.sh LUMAFEX STATIC_INCLUDE OUTPUT
set -euo pipefail
program=$1
static=$2
output=$3
{
  echo "[COMMANDS]"
  for command in $("$program" --help | awk '/^Subcommands:/ {on = 1; next} on && /^  [a-z]/ {print $1}'); do
    echo ".SS $command"
    echo ".nf"
    "$program" "$command" --help | sed "s|^Usage: [^ ]*lumafex|Usage: lumafex|" | sed 's/\\/\\\\/g; s/^\./\\\&./'
    echo ".fi"
  done
  echo
  cat "$static"
} >"$output.tmp"
mv "$output.tmp" "$output"
