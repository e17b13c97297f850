#!/usr/bin/env bash
# The console program loads what only printing needs (CUPS, poppler, cairo, libjpeg and what they bring:
# gnutls, nss, avahi) only in its print helper: neither it nor a library it needs depends on them. The
# helper is checked against the same pattern, so that a pattern that matches nothing cannot pass.
# Usage: check_print_libraries.sh CONSOLE HELPER
set -u
pattern='lib(cups|poppler|cairo|jpeg|gnutls|nss3|avahi-client)\.so'
console=$1
helper=$2
status=0
found=$(ldd "$console" | grep -E "$pattern")
if [ -n "$found" ]; then
  echo "FAIL: $console loads print libraries at start:"
  echo "$found"
  status=1
fi
for library in cups poppler cairo jpeg; do
  if ! ldd "$helper" | grep -qE "lib${library}[-.a-z0-9]*\.so"; then
    echo "FAIL: $helper does not load lib$library: the pattern no longer names what printing loads"
    status=1
  fi
done
[ $status -eq 0 ] && echo "ok: $console loads no print library; $helper loads them"
exit $status
