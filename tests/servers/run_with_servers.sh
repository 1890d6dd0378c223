#!/bin/sh
# Runs a command with two HTTP servers on 127.0.0.1: nginx serving a www
# root of its own, and the fault-injecting server of the test suite. The
# command finds them through QX_NGINX_PORT, QX_FAULT_PORT, QX_WWW_ROOT and
# QX_NGINX_ACCESS_LOG. Both servers are stopped when the command ends.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/qxservers.XXXXXX)
# nginx workers run as nobody: every folder down to the files must be readable.
chmod 755 "$work"
mkdir -p "$work/www/qxupdate" "$work/temp"
chmod -R 755 "$work/www"

nginx_pid=
fault_pid=
cleanup() {
    set +e
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    [ -n "$fault_pid" ] && kill "$fault_pid" 2>/dev/null && wait "$fault_pid" 2>/dev/null
    rm -rf "$work"
}
status=0
# The command's own exit status is what the caller gets, not the servers'.
trap 'cleanup; exit "$status"' EXIT
trap 'status=130; exit' INT TERM

nginx_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
    access_log $work/access.log;
    client_body_temp_path $work/temp/body;
    proxy_temp_path $work/temp/proxy;
    fastcgi_temp_path $work/temp/fastcgi;
    uwsgi_temp_path $work/temp/uwsgi;
    scgi_temp_path $work/temp/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
    }
}
CONF
nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
python3 "$here/faultserver.py" --port-file "$work/fault.port" &
fault_pid=$!

# Both must answer before the command starts; give up after ten seconds.
tries=0
until [ -s "$work/fault.port" ] &&
      python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $nginx_port), 1)" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        echo "run_with_servers: servers did not start" >&2
        cat "$work/error.log" >&2 2>/dev/null || true
        exit 1
    fi
    sleep 0.1
done

export QX_NGINX_PORT="$nginx_port"
export QX_FAULT_PORT="$(cat "$work/fault.port")"
export QX_WWW_ROOT="$work/www"
export QX_NGINX_ACCESS_LOG="$work/access.log"
"$@" || status=$?
exit "$status"
