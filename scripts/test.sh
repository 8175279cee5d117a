#!/usr/bin/env bash
# Sets up, builds and runs every test: first the normal build, then the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer. Ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh build -DKAVRO_TESTS=ON
bash scripts/build.sh build-asan -DKAVRO_TESTS=ON -DKAVRO_SANITIZE=ON

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "== tests (sanitizers) =="
(cd build-asan && ctest --output-on-failure -j2) || status=1
echo "== tests =="
(cd build && ctest --output-on-failure -j2) || status=1
exit $status
