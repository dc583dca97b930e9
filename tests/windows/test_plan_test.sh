#!/usr/bin/env bash
# The Windows test script's choice of builds. A machine that cannot execute
# 32-bit x86 code is simulated by pointing the check at a file that cannot
# be executed; there only the 64-bit build's tests may run.
#
#   test_plan_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail

source_dir="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work"

# The start of an ELF file for a machine no x86 kernel runs, as a kernel
# without IA-32 emulation sees a 32-bit x86 program: "Exec format error".
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\050\000' \
  >"$work/foreign-program"
chmod +x "$work/foreign-program"
printf '#!/bin/sh\nexit 0\n' >"$work/runs"
chmod +x "$work/runs"

status=0
expect() {  # expect DESCRIPTION EXPECTED_STATUS EXPECTED_TEXT COMMAND...
  local what="$1" want_status="$2" want_text="$3" output got=0
  shift 3
  output="$("$@" 2>&1)" || got=$?
  if [[ "$got" != "$want_status" || "$output" != *"$want_text"* ]]; then
    echo "FAILED: $what: status $got, output: $output"
    status=1
  fi
}

check="$source_dir/scripts/can-run-x86-32.sh"
expect "a file that cannot be executed" 1 "Exec format error" bash "$check" "$work/foreign-program"
expect "a missing loader" 1 "is missing" bash "$check" "$work/none"
expect "a program that runs" 0 "" bash "$check" "$work/runs"

plan="$source_dir/scripts/run-windows-tests.sh"
expect "the plan without 32-bit execution" 0 "for the 64-bit build only" \
  env LUMAFEX_X86_32_PROBE="$work/foreign-program" bash "$plan" --plan
expect "the plan with 32-bit execution" 0 "for the 32-bit build (LUMAFEX3.P, 32-bit Wine) and the 64-bit build" \
  env LUMAFEX_X86_32_PROBE="$work/runs" LUMAFEX_WINE32_LOADER="$work/runs" bash "$plan" --plan
# Where the i386 packages could not be installed, the 64-bit tests still run.
expect "the plan without 32-bit Wine" 0 "for the 64-bit build only (64-bit Wine); the 32-bit LUMAFEX3.P is built and checked but not run, as 32-bit Wine is not installed" \
  env LUMAFEX_X86_32_PROBE="$work/runs" LUMAFEX_WINE32_LOADER="$work/none" bash "$plan" --plan

rm -rf "$work"
exit "$status"
