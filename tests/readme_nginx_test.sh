#!/bin/sh
# The nginx example of the README, run as written (with this test's paths and
# port): it must serve a release over HTTPS, documents and files alike.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
nginxPid=""
cleanup() {
    [ -z "$nginxPid" ] || { kill "$nginxPid" 2>/dev/null; wait "$nginxPid" 2>/dev/null; } || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
mkdir -p "$work/client/data" "$work/tmp"
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -addext subjectAltName=DNS:localhost -keyout "$work/privkey.pem" -out "$work/fullchain.pem" 2>/dev/null
printf 'abc' >"$work/client/data/my file.bin"
printf 'x|y\n' >"$work/client/news.txt"
printf '0E' >"$work/client/manifest.txt.sig"

example=$(sed -n '/^```nginx$/,/^```$/p' "$root/README.md" | sed '1d;$d')
[ -n "$example" ] || { echo "no nginx example in README.md"; exit 1; }
example=$(printf '%s\n' "$example" | sed -e "s|listen 443 ssl;|listen 127.0.0.1:$port ssl;|" \
    -e "s|/etc/ssl/orvel/|$work/|g" -e "s|/srv/orvel/client|$work/client|g")
cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
pid $work/nginx.pid;
events { worker_connections 16; }
http {
    access_log off;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
$example
}
CONF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginxPid=$!
for _ in $(seq 50); do
    curl -s -o /dev/null --cacert "$work/fullchain.pem" "https://localhost:$port/" && break || sleep 0.1
done
body=$(curl -sf --cacert "$work/fullchain.pem" "https://localhost:$port/data/my%20file.bin")
[ "$body" = abc ] || { echo "file body: $body"; exit 1; }
for document in news.txt manifest.txt.sig; do
    headers=$(curl -sf -D - -o /dev/null --cacert "$work/fullchain.pem" "https://localhost:$port/$document")
    echo "$headers" | grep -qi '^cache-control: no-cache' || { echo "$document headers: $headers"; exit 1; }
done
status=$(curl -s -o /dev/null -w '%{http_code}' --cacert "$work/fullchain.pem" "https://localhost:$port/missing")
[ "$status" = 404 ] || { echo "missing file answered $status"; exit 1; }
echo "the README's nginx example serves files and documents over HTTPS"
