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
  # Each command, and each command of a command (farm submit, ...); the
  # footer the program's help repeats under every command is left to the
  # page's EXIT STATUS and FILES.
  commands_of() {
    "$program" "$@" --help | awk '/^Subcommands:/ {on = 1; next} /^[^ ]/ {on = 0} on && /^  [a-z]/ {print $1}'
  }
  for command in $(commands_of); do
    for words in "$command" $(commands_of "$command" | sed "s|^|$command:|"); do
      echo ".SS ${words//:/ }"
      echo ".nf"
      # shellcheck disable=SC2086
      "$program" ${words//:/ } --help | sed "s|^Usage: [^ ]*lumafex|Usage: lumafex|" |
        sed '/^Exit status:/,$d' | sed 's/\\/\\\\/g; s/^\./\\\&./'
      echo ".fi"
    done
  done
  echo
  cat "$static"
} >"$output.tmp"
mv "$output.tmp" "$output"
