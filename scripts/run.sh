#!/usr/bin/env bash
# Sets up, builds and runs the caster in the foreground on the default settings, with the
# program directory ./run (created on first start). Stop it with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DKAVRO_TESTS=OFF
mkdir -p run
exec build/KavroServer --dir run "$@"
