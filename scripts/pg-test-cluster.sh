#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests: "start DIR" makes a new
# cluster in DIR that listens only on a Unix socket in DIR (no network) and
# gives the user running the tests a role of its own; "stop DIR" stops it
# and removes DIR. initdb refuses root: as root the server runs as the
# package's unprivileged "postgres" user.
set -euo pipefail

action=${1:?start o stop}
dir=${2:?directorio del cluster}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
if [ -z "$bin" ]; then
  echo "No está instalado PostgreSQL (paquete postgresql-15)" >&2
  exit 1
fi

as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

stop() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_server "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "$action" in
  start)
    stop
    mkdir -p "$dir"
    if [ "$(id -u)" -eq 0 ]; then chown postgres "$dir"; fi
    chmod 755 "$dir"
    server_user=$(as_server id -un)
    as_server "$bin/initdb" -D "$dir/data" -U "$server_user" -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { cat "$dir/initdb.log" >&2; exit 1; }
    as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-c listen_addresses='' -k $dir -c fsync=off -c max_connections=60" start >/dev/null \
      || { cat "$dir/server.log" >&2; exit 1; }
    me=$(id -un)
    if [ "$me" != "$server_user" ]; then
      "$bin/psql" -h "$dir" -U "$server_user" -d postgres -v ON_ERROR_STOP=1 -q \
        -c "CREATE ROLE \"$me\" LOGIN CREATEDB" </dev/null
    fi
    "$bin/psql" -h "$dir" -U "$server_user" -d postgres -v ON_ERROR_STOP=1 -q \
      -c "CREATE DATABASE \"$me\" OWNER \"$me\"" </dev/null 2>/dev/null || true
    ;;
  stop)
    stop
    ;;
  *)
    echo "uso: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
