#!/bin/sh
# Runs a command with HTTP servers on 127.0.0.1: nginx serving a www root of
# its own, and the fault-injecting server of the test suite. The command
# finds them through QX_NGINX_PORT, QX_FAULT_PORT, QX_WWW_ROOT and
# QX_NGINX_ACCESS_LOG. All servers are stopped when the command ends.
#
# nginx compresses text types for clients that accept it.
#
# nginx also serves the same www root over TLS, with certificates made for
# this run only: QX_TLS_PORT presents a certificate for 127.0.0.1 and
# localhost issued by a test CA whose certificate (DER) is at QX_TLS_CA;
# QX_TLS_UNTRUSTED_PORT presents one issued by a second CA that is trusted
# nowhere. Requests to both are logged to QX_TLS_ACCESS_LOG as
# 'PORT "REQUEST LINE" STATUS'. Without openssl or nginx's TLS module these
# variables stay unset (and a warning is printed): the tests that need them
# fail.
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

# A CA named $2 in folder $1: ca.key, ca.crt (PEM) and ca.der.
make_ca() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -sha256 \
        -keyout "$1/ca.key" -out "$1/ca.crt" -subj "/O=QXUpdate tests/CN=$2" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" &&
    openssl x509 -in "$1/ca.crt" -outform DER -out "$1/ca.der"
}

# A server certificate for 127.0.0.1 and localhost in folder $1, issued by
# the CA in the same folder: server.key and server.crt (PEM). 127.0.0.1 is
# also given as a DNS name: Wine's TLS client compares the host name with
# the DNS names of a certificate only, never with its IP addresses.
make_server_cert() {
    cat > "$1/server.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost
EXT
    openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$1/server.key" -out "$1/server.csr" \
        -subj "/O=QXUpdate tests/CN=127.0.0.1" &&
    openssl x509 -req -in "$1/server.csr" -CA "$1/ca.crt" -CAkey "$1/ca.key" -CAcreateserial \
        -days 2 -sha256 -extfile "$1/server.ext" -out "$1/server.crt"
}

tls=no
if ! command -v openssl >/dev/null 2>&1; then
    echo "run_with_servers: openssl is not installed; the TLS servers are not started" >&2
elif ! nginx -V 2>&1 | grep -q -- --with-http_ssl_module; then
    echo "run_with_servers: this nginx has no TLS module; the TLS servers are not started" >&2
else
    mkdir -p "$work/tls/trusted" "$work/tls/untrusted"
    if { make_ca "$work/tls/trusted" "QXUpdate test CA" &&
         make_server_cert "$work/tls/trusted" &&
         make_ca "$work/tls/untrusted" "QXUpdate unknown CA" &&
         make_server_cert "$work/tls/untrusted"; } >"$work/tls/openssl.log" 2>&1; then
        tls=yes
        # nginx's master process reads the keys before its workers drop to
        # nobody; no one else needs them.
        chmod 600 "$work/tls/trusted/"*.key "$work/tls/untrusted/"*.key
    else
        echo "run_with_servers: could not make the test certificates; the TLS servers are not started" >&2
        cat "$work/tls/openssl.log" >&2
    fi
fi

# Three distinct free ports (plain, TLS, untrusted TLS), all held until each
# is known.
ports=$(python3 -c '
import socket
held = []
for _ in range(3):
    s = socket.socket(); s.bind(("127.0.0.1", 0)); held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))')
nginx_port=${ports%% *}; ports=${ports#* }
tls_port=${ports%% *}; ports=${ports#* }
untrusted_port=${ports%% *}

tls_servers=
if [ "$tls" = yes ]; then
    # One log for both, each line led by the port, so that a test can tell
    # whether a request got past the handshake and to which server.
    tls_servers="
    log_format tls '\$server_port \"\$request\" \$status';
    server {
        listen 127.0.0.1:$tls_port ssl;
        access_log $work/tls-access.log tls;
        ssl_certificate $work/tls/trusted/server.crt;
        ssl_certificate_key $work/tls/trusted/server.key;
        root $work/www;
    }
    server {
        listen 127.0.0.1:$untrusted_port ssl;
        access_log $work/tls-access.log tls;
        ssl_certificate $work/tls/untrusted/server.crt;
        ssl_certificate_key $work/tls/untrusted/server.key;
        root $work/www;
    }"
fi
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
    types { text/plain txt; application/xml xml; application/javascript js; }
    # Compresses text for clients that ask for it, as web servers commonly
    # do; a client that asks gets other bytes than the file holds.
    gzip on;
    gzip_types text/plain application/xml application/javascript;
    gzip_min_length 1;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
    }$tls_servers
}
CONF
nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
python3 "$here/faultserver.py" --port-file "$work/fault.port" &
fault_pid=$!

listening="$nginx_port"
[ "$tls" = yes ] && listening="$listening $tls_port $untrusted_port"
# All must answer before the command starts; give up after ten seconds.
tries=0
until [ -s "$work/fault.port" ] &&
      python3 -c "
import socket, sys
for port in sys.argv[1:]:
    socket.create_connection(('127.0.0.1', int(port)), 1).close()" $listening 2>/dev/null; do
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
if [ "$tls" = yes ]; then
    export QX_TLS_PORT="$tls_port"
    export QX_TLS_UNTRUSTED_PORT="$untrusted_port"
    export QX_TLS_CA="$work/tls/trusted/ca.der"
    export QX_TLS_ACCESS_LOG="$work/tls-access.log"
fi
"$@" || status=$?
exit "$status"
