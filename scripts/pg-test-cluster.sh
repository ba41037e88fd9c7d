#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests: "start DIR" makes a new
# cluster in DIR that listens only on a Unix socket in DIR (no network) and
# gives the user running the tests a role of its own; "start DIR PORT" also
# listens on PORT of the loopback address 127.0.0.1. "stop DIR" stops it and
# removes DIR. "halt DIR" stops the server and keeps the cluster, "resume
# DIR" starts it again as it was (a server restart, for the tests of a lost
# connection). initdb refuses root: as root the server runs as the package's
# unprivileged "postgres" user.
set -euo pipefail

action=${1:?start, stop, halt o resume}
dir=${2:?directorio del cluster}
port=${3:-}
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

run_server() {
  as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -o "$(cat "$dir/options")" start >/dev/null \
    || { cat "$dir/server.log" >&2; exit 1; }
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
    listen="''"
    if [ -n "$port" ]; then listen="'127.0.0.1' -p $port"; fi
    echo "-c listen_addresses=$listen -k $dir -c fsync=off -c max_connections=60" >"$dir/options"
    run_server
    me=$(id -un)
    if [ "$me" != "$server_user" ]; then
      "$bin/psql" -h "$dir" -p "${port:-5432}" -U "$server_user" -d postgres -v ON_ERROR_STOP=1 -q \
        -c "CREATE ROLE \"$me\" LOGIN CREATEDB CREATEROLE" </dev/null
    fi
    "$bin/psql" -h "$dir" -p "${port:-5432}" -U "$server_user" -d postgres -v ON_ERROR_STOP=1 -q \
      -c "CREATE DATABASE \"$me\" OWNER \"$me\"" </dev/null 2>/dev/null || true
    ;;
  stop)
    stop
    ;;
  halt)
    as_server "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
    ;;
  resume)
    run_server
    ;;
  *)
    echo "uso: $0 start|stop|halt|resume DIR [PUERTO]" >&2
    exit 2
    ;;
esac
