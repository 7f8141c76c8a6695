#!/usr/bin/env bash
# No fused multiply-add in the program but the one deliberate fma of the
# byte conversion (channelByte): a compiler that contracted a multiply and
# an add anywhere else would change image bytes. Reads the disassembly.
set -euo pipefail
program=$1
objdump=${2:-objdump}  # the target's own, for a cross-built program
command -v "$objdump" >/dev/null || { echo "$objdump is missing: not checked"; exit 77; }
# x86 (vfmadd..., vfnmsub...) and AArch64 (fmadd, fmsub, fnmadd, fnmsub, and
# the vector fmla, fmls) forms.
"$objdump" -d --no-show-raw-insn "$program" | awk '
  /^[0-9a-f]+ <.*>:$/ { name = $2; next }
  /\t(v?fn?m(add|sub)[0-9a-z.]*)[ \t]/ || /\tv?fn?m(add|sub)(132|213|231)/ ||
  /\tfml[as][ \t]/ {
    # The C library'"'"'s own functions (names with two leading underscores) and
    # libpng'"'"'s (gamma tables the program never asks for), linked into a
    # static program, are not ours to check.
    if (name !~ /channelByte/ && name !~ /^<__/ && name !~ /^<png_/) { print name ": " $0; bad++ }
  }
  END { if (bad) { print bad " fused operation(s) outside the byte conversion"; exit 1 }
        print "no fused multiply-add outside the byte conversion" }'
