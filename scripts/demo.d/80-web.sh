# Demo: the local web server of the desktop window
WEB_LOG="$DEMO_OUT/web-server.log"
(cd "$BUILD/out/http" && exec ./varnkit-http-server --port 0 --log-dir "$DEMO_OUT/web-access") 2>"$WEB_LOG" &
demo_pids+=($!)
WEB_URL=$(first_line_match "$WEB_LOG" 'http://127\.0\.0\.1:[0-9]+/') ||
  { echo "web server did not start" >&2; cat "$WEB_LOG" >&2; return 1; }
run curl -sS -o /dev/null -w '%{http_code} %{content_type} %{size_download} bytes\n' "$WEB_URL"
run curl -sS -o /dev/null -w '%{http_code} %{content_type}\n' "${WEB_URL}app.js"
# A page of another site that rebinds its name to 127.0.0.1 is refused.
run curl -sS -H 'Host: rebound.example' -w '%{http_code}\n' "$WEB_URL"
run curl -sS --path-as-is -w '%{http_code}\n' "${WEB_URL}../../etc/passwd"
sleep 0.1  # the last log line is written just after its answer
kill "${demo_pids[-1]}" && wait "${demo_pids[-1]}" || true
printf '\nThe server logged:\n'
cat "$DEMO_OUT/web-access/http-access.log"
