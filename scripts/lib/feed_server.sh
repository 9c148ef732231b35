# shellcheck shell=bash
# A feed folder served over https on 127.0.0.1 by nginx from Debian, run as the calling user,
# for the demo and the tests; and a Wine prefix made to trust the server's certificate.
# Sourced after common.sh:
#
#   feed_server_tls <folder>
#       makes, once, a throwaway certificate authority (ca.pem, ca.der, ca.key) and a server
#       certificate it issued for 127.0.0.1 (server.pem, server.key) in <folder>: named as an
#       IP address, as Windows matches it, and as a DNS name, the only form Wine's WinHTTP
#       matches (docs/wine.md)
#   feed_server_start <feed folder> <tls folder> <run folder>
#       starts nginx serving <feed folder> at https://127.0.0.1:<free port>/ with the
#       certificate of <tls folder>; its configuration, pid file, logs and temporary files live
#       in <run folder>, made anew; prints the URL (with a trailing /) and returns once nginx
#       answers, or fails with its error log on stderr
#   feed_server_stop <run folder>
#       ends that nginx by its pid file and waits until it is gone; harmless when none runs
#   feed_server_trust_ca <tls folder> <trust-root program>
#       adds the authority to the Root store of the Wine prefix in WINEPREFIX (set up with
#       wine_environment), through sample-trust-root.exe, as the test publisher's root is
#       trusted; run it before the programs that fetch start (docs/wine.md)
#
# The authority's key stays in <tls folder> (mode 700): whoever holds it can speak for any
# server to the prefixes that trust it. It is made for tests and trusted nowhere else.

feed_server_days=3650

# Makes the authority and the server certificate in $1 unless they are there, whole or not at
# all, so that a failed run leaves nothing a later one would take for done.
feed_server_tls() {
    local folder=$1 work
    [[ -f "$folder/server.pem" ]] && return 0
    require_tools openssl
    mkdir -p "$(dirname "$folder")"
    work=$(mktemp -d "$folder.making.XXXXXX")
    if ! (
        set -e
        cd "$work"
        openssl req -x509 -newkey rsa:2048 -nodes -days "$feed_server_days" \
            -subj "/CN=Corvanta Remote feed server test authority" \
            -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
            -keyout ca.key -out ca.pem 2>/dev/null
        openssl x509 -in ca.pem -outform DER -out ca.der
        openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout server.key \
            -out server.csr 2>/dev/null
        printf '%s\n' "basicConstraints=critical,CA:FALSE" \
            "keyUsage=critical,digitalSignature,keyEncipherment" \
            "extendedKeyUsage=serverAuth" "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1" >server.ext
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
            -days "$feed_server_days" -extfile server.ext -out server.pem 2>/dev/null
        rm -f server.csr server.ext ca.srl
    ); then
        rm -rf "$work"
        echo "$(script_name): the feed server's certificates could not be made" >&2
        return 1
    fi
    chmod 700 "$work"
    rm -rf "$folder"
    mv "$work" "$folder"
}

# A TCP port on 127.0.0.1 that nothing listens on now.
feed_server_free_port() {
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# Writes nginx's configuration for feed folder $1, certificates in $2, run folder $3, port $4.
feed_server_config() {
    local feed=$1 tls=$2 run=$3 port=$4 user=""
    # As root, nginx would hand its workers to nobody, who may not read the feed folder.
    [[ $EUID -ne 0 ]] || user="user $(id -un) $(id -gn);"
    cat <<EOF
$user
worker_processes 1;
pid $run/nginx.pid;
error_log $run/error.log warn;
events { worker_connections 64; }
http {
    access_log $run/access.log;
    client_body_temp_path $run/client_body;
    proxy_temp_path $run/proxy;
    fastcgi_temp_path $run/fastcgi;
    uwsgi_temp_path $run/uwsgi;
    scgi_temp_path $run/scgi;
    types { application/json json; application/pkcs7-signature p7s;
            application/x-msi msi; }
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port ssl;
        ssl_certificate $tls/server.pem;
        ssl_certificate_key $tls/server.key;
        root $feed;
        autoindex off;
    }
}
EOF
}

# Whether something accepts connections on 127.0.0.1 port $1.
feed_server_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

feed_server_start() {
    local feed tls run=$3 port attempt nginx
    feed=$(realpath "$1")
    tls=$(realpath "$2")
    require_tools python3
    # Debian puts it in /usr/sbin, which a user's PATH may lack.
    nginx=$(command -v nginx || echo /usr/sbin/nginx)
    [[ -x "$nginx" ]] || { echo "$(script_name): nginx is missing: scripts/setup-debian" >&2; return 1; }
    [[ -d "$feed" ]] || { echo "$(script_name): no feed folder $feed" >&2; return 1; }
    [[ -f "$tls/server.pem" ]] || { echo "$(script_name): no certificate in $tls" >&2; return 1; }
    rm -rf "$run"
    mkdir -p "$run"
    run=$(realpath "$run")
    # Another program may take the port between the look and nginx's bind: then try another.
    for attempt in 1 2 3; do
        port=$(feed_server_free_port)
        feed_server_config "$feed" "$tls" "$run" "$port" >"$run/nginx.conf"
        if "$nginx" -p "$run" -e "$run/error.log" -c "$run/nginx.conf" 2>"$run/start.log"; then
            for _ in $(seq 1 50); do
                if [[ -s "$run/nginx.pid" ]] && feed_server_answers "$port"; then
                    echo "https://127.0.0.1:$port/"
                    return 0
                fi
                sleep 0.1
            done
            feed_server_stop "$run"
        fi
        grep -qs "Address already in use" "$run/start.log" "$run/error.log" || break
        echo "attempt $attempt: port $port was taken" >>"$run/start.log"
    done
    echo "$(script_name): nginx did not start:" >&2
    cat "$run/start.log" "$run/error.log" >&2 2>/dev/null || true
    return 1
}

feed_server_stop() {
    local run=$1 pid
    [[ -s "$run/nginx.pid" ]] || return 0
    pid=$(<"$run/nginx.pid")
    [[ "$pid" =~ ^[0-9]+$ ]] || return 0
    # QUIT lets the workers finish what they send; the master removes its pid file last.
    kill -QUIT "$pid" 2>/dev/null || { rm -f "$run/nginx.pid"; return 0; }
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || { rm -f "$run/nginx.pid"; return 0; }
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$run/nginx.pid"
}

feed_server_trust_ca() {
    local tls=$1 trust_root=$2
    [[ -n "${WINEPREFIX:-}" ]] || { echo "$(script_name): WINEPREFIX is not set" >&2; return 1; }
    timeout 60 wine "$trust_root" "$(feed_server_wine_path "$tls/ca.der")" </dev/null >&2 || {
        echo "$(script_name): the feed server's authority could not be trusted in $WINEPREFIX" >&2
        return 1
    }
}

# The path Wine gives Linux path $1: drive Z: and backslashes.
feed_server_wine_path() {
    local path
    path=$(realpath "$1")
    echo "Z:${path//\//\\}"
}
