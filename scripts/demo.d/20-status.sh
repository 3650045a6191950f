# Demo: the gateway stand-in and get_status
start_gateway STATUS_GATEWAY --model LUMARO-2 --serial LM2-DEMO-20
run "$CLI" --action get_status --ip "$STATUS_GATEWAY"
kill "${demo_pids[-1]}" && wait "${demo_pids[-1]}" || true

# A gateway that answers its status page with an error page.
start_gateway FAILING_GATEWAY --fail status=500
run "$CLI" --action get_status --ip "$FAILING_GATEWAY" || printf 'exit status %d\n' $?
kill "${demo_pids[-1]}" && wait "${demo_pids[-1]}" || true
