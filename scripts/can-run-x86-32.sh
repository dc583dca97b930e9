#!/usr/bin/env bash
# Exits 0 when this machine can execute 32-bit x86 programs, and 1 with the
# reason on standard error when it cannot (a kernel without IA-32 emulation,
# or no 32-bit C library). 32-bit Wine, and with it the 32-bit Windows tests,
# need it.
#
#   can-run-x86-32.sh [PROBE]
#
# The probe is the 32-bit dynamic loader, run with --version: it is there
# wherever 32-bit Wine is installed, and starting it is all the check needs.
# PROBE, or else LUMAFEX_X86_32_PROBE, names another program to run instead,
# so that a test can simulate a machine without 32-bit execution.
set -uo pipefail

probe="${1:-${LUMAFEX_X86_32_PROBE:-/lib/ld-linux.so.2}}"
if [[ ! -e "$probe" ]]; then
  echo "32-bit x86 programs cannot run here: $probe is missing" >&2
  exit 1
fi
if ! output=$("$probe" --version 2>&1 </dev/null); then
  # The end of the shell's complaint names the cause ("Exec format error").
  cause="${output##*$'\n'}"
  cause="${cause##*: }"
  echo "32-bit x86 programs cannot run here: $probe fails (${cause:-no reason given})" >&2
  exit 1
fi
exit 0
