#!/usr/bin/env bash
# Sets up, builds and runs every test: first the normal build, then the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer. A throw-away PostgreSQL cluster (temporary data
# directory, free loopback port) serves the database tests and is removed at the end. Ends with
# CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh build -DKAVRO_TESTS=ON
bash scripts/build.sh build-asan -DKAVRO_TESTS=ON -DKAVRO_SANITIZE=ON

pg_bin=/usr/lib/postgresql/15/bin
pg_dir=""
pg_run=()
stop_postgres() {
  if [ -n "$pg_dir" ]; then
    "${pg_run[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate -s stop > /dev/null 2>&1 || true
    rm -rf "$pg_dir"
  fi
}
trap stop_postgres EXIT

# A loopback port nobody listens on.
free_port() {
  local port
  for _ in $(seq 1 100); do
    port=$((20000 + RANDOM % 20000))
    if ! (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

if [ -x "$pg_bin/initdb" ]; then
  pg_dir=$(mktemp -d /tmp/kavro-pg.XXXXXX)
  # initdb and pg_ctl refuse to run as root: run them as the postgres user, which owns the directory.
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$pg_dir"
    pg_run=(runuser -u postgres --)
  fi
  pg_port=$(free_port)
  "${pg_run[@]}" "$pg_bin/initdb" -D "$pg_dir/data" -U postgres -A trust -E UTF8 --no-locale --no-sync > /dev/null
  "${pg_run[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w -s start \
    -o "-p $pg_port -k $pg_dir -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=200"
  export KAVRO_TEST_PG_HOST=127.0.0.1 KAVRO_TEST_PG_PORT=$pg_port KAVRO_TEST_PG_USER=postgres \
    KAVRO_TEST_PG_DB=postgres
  echo "== PostgreSQL on 127.0.0.1:$pg_port =="
else
  echo "== PostgreSQL not found: database tests on the server back end are skipped =="
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "== tests (sanitizers) =="
(cd build-asan && ctest --output-on-failure -j2) || status=1
echo "== tests =="
(cd build && ctest --output-on-failure -j2) || status=1
exit $status
