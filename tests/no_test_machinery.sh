#!/bin/sh
# Fails when the program's binary ($1) holds a symbol of the test machinery (the virtual
# wave-input devices and the faults of libquavrel_testing).
set -eu
symbols=$(nm -C "$1")
# A symbol the program surely has: without it, nm saw nothing (a stripped binary) and the
# check below would pass for nothing.
printf '%s\n' "$symbols" | grep -q 'InErrorText' || { echo "no symbols read from $1"; exit 1; }
found=$(printf '%s\n' "$symbols" | grep -E 'VirtualWaveIn|VirtualBackend|VirtualSource|FaultyMemory|AudioMemoryFault|setEncoderTap|setFileCloseFunction|injectedFailure|failNext' || true)
if [ -n "$found" ]; then
  echo "test machinery in $1:"
  printf '%s\n' "$found" | head -20
  exit 1
fi
