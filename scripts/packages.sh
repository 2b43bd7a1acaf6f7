#!/usr/bin/env bash
# Prints the Debian packages of scripts/packages.txt that building and running need, one a
# line; with --tests also those below its "[tests]" line, which only the tests need.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
  "") last='/^\[tests\]/' ;;
  --tests) last='0' ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac
awk "$last { exit } !/^[[:space:]]*(#|\[|\$)/ { print \$1 }" "$root/scripts/packages.txt"
