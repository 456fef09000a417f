#!/bin/sh
# Starts the bundled demo site and the program against it; stops the site
# when the program ends. Options pass through to the program.
set -e
cd "$(dirname "$0")"
[ -f 01cert.pem ] && [ -f 01key.pem ] || ./demo-site --make-client-cert . >/dev/null
ready=$(mktemp)
./demo-site --web-port 0 --api-port 0 >"$ready" &
site=$!
trap 'kill $site 2>/dev/null; rm -f "$ready"' EXIT INT TERM
i=0
while [ ! -s "$ready" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
read -r web api <"$ready"
set -- --web-host "${web#web=}" --api-host "${api#api=}" --ca-file demo-site-certs/ca.pem "$@"
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
  ./directory-scraper --batch --category santehniki --city "Москва--Москва и Московская область" "$@"
else
  ./directory-scraper "$@"
fi
