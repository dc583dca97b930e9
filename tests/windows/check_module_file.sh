#!/usr/bin/env bash
# Checks a Windows module file as a host sees it, without running it: its
# word size, the name in its export table, the one export _mod_descrip, and
# imports from Windows system DLLs only (the compiler's runtime is linked
# into the module, so it needs no DLL that a Windows machine lacks).
#
#   check_module_file.sh OBJDUMP MODULE 32|64
set -euo pipefail

objdump="$1"
module="$2"
bits="$3"

case "$bits" in
  32) format=pei-i386 ;;
  64) format=pei-x86-64 ;;
  *) echo "word size must be 32 or 64, not $bits" >&2; exit 2 ;;
esac
# The DLLs every Windows installation has, which the module may use.
system_dlls=" KERNEL32.DLL USER32.DLL GDI32.DLL COMDLG32.DLL COMCTL32.DLL ADVAPI32.DLL MSVCRT.DLL "

headers="$("$objdump" -p "$module")"
status=0
fail() {
  echo "$module: $*"
  status=1
}

grep -q "file format $format\$" <<<"$headers" ||
  fail "is not a $bits-bit Windows module: $(grep -m1 -o 'file format .*' <<<"$headers" || echo 'no format')"

# The name the module was linked under, which it finds itself by.
name="$(sed -n 's/^Name[[:space:]]\+[0-9a-fA-F]\+ //p' <<<"$headers")"
[[ "$name" == "LUMAFEX3.P" ]] || fail "export table names the module \"$name\", not LUMAFEX3.P"

# The export names: the entries listed after the name pointer table header.
exports="$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*[0-9]\+\] //p' \
  <<<"$headers")"
[[ "$exports" == "_mod_descrip" ]] ||
  fail "must export _mod_descrip alone, exports: $(echo $exports)"

imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")"
[[ -n "$imports" ]] || fail "imports no DLL at all (objdump output not understood)"
for dll in $imports; do
  upper="$(tr '[:lower:]' '[:upper:]' <<<"$dll")"
  [[ "$system_dlls" == *" $upper "* ]] || fail "imports $dll, which is not a Windows system DLL"
done

if ((status == 0)); then
  echo "$module: $bits-bit, exports _mod_descrip alone, imports $(echo $imports)"
fi
exit "$status"
