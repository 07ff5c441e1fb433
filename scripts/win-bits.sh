#!/usr/bin/env bash
# Prints 32 when this machine can run 32-bit x86 programs (and so the 32-bit Windows programs
# under Wine), else 64: some hypervisors have no 32-bit mode. KOVELA_WIN_BITS overrides it.
if [ -n "${KOVELA_WIN_BITS:-}" ]; then echo "$KOVELA_WIN_BITS"
elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then echo 32
else echo 64
fi
