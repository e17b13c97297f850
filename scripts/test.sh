#!/usr/bin/env bash
# Sets everything up, builds the debug build (warnings as errors) and the sanitizer build, and runs the
# whole suite in both. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
for preset in dev asan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [ "$preset" = dev ]; then
    cmake --build --preset dev --target format-check
  fi
  if [ "$preset" = asan ]; then
    # Show that the sanitizer runtime is really linked into the test programs.
    # ldd's output is read whole: with pipefail, grep -q leaving early could fail the pipe by SIGPIPE.
    libraries=$(ldd build/asan/core/tests/core_tests)
    if [[ "$libraries" != *libasan* ]]; then
      echo "The sanitizer build does not link libasan" >&2
      exit 1
    fi
    echo "libasan is linked into the sanitizer build"
  fi
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
done

# The fuzz targets (clang, libFuzzer with the sanitizers): each runs its kept regression cases, then 20 s
# from its seed corpus.
echo "=== fuzz"
scripts/fuzz.sh 20
