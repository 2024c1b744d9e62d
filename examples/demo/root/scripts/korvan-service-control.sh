#!/bin/bash
# Demo control script: two real background services beside this script.
#
#   Local Bridge  a small web server on 127.0.0.1:$KORVAN_DEMO_BRIDGE_PORT (8796)
#                 serving the status page in bridge/
#   Agent         a loop that writes a heartbeat file every few seconds
#
# The desired state lives in run/desired; pid files in run/. The hub link is
# "online" while the Agent runs on a paired root (.env with both agent keys).
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
run="$root/run"
port=${KORVAN_DEMO_BRIDGE_PORT:-8796}
mkdir -p "$run"

alive() { # pidfile name -> 0 when that process runs and is ours
    local pid
    pid=$(cat "$run/$1.pid" 2>/dev/null) || return 1
    # Both services carry this root in their command line, which tells them
    # from an unrelated process that reused the pid.
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null &&
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$root/"
}

rss_kb() { # pidfile name -> resident memory in KB, 0 when not running
    local pid
    if alive "$1"; then
        pid=$(cat "$run/$1.pid")
        awk '/^VmRSS:/ { print $2; found = 1 } END { if (!found) print 0 }' "/proc/$pid/status"
    else
        echo 0
    fi
}

paired() {
    grep -q '^KORVAN_AGENT_HOST_ID=.' "$root/.env" 2>/dev/null &&
        grep -q '^KORVAN_AGENT_TOKEN=.' "$root/.env" 2>/dev/null
}

start_bridge() {
    alive bridge && return 0
    # The services never keep the controller's pipes open.
    setsid python3 -m http.server "$port" --bind 127.0.0.1 --directory "$root/bridge/" \
        </dev/null >>"$run/bridge.log" 2>&1 &
    echo $! >"$run/bridge.pid"
}

start_agent() {
    alive agent && return 0
    setsid bash -c 'while :; do date +%s >"$0"; sleep 3; done' "$run/agent.heartbeat" \
        </dev/null >>"$run/agent.log" 2>&1 &
    echo $! >"$run/agent.pid"
}

stop_one() {
    local pid i
    alive "$1" || { rm -f "$run/$1.pid"; return 0; }
    pid=$(cat "$run/$1.pid")
    kill "$pid" 2>/dev/null
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    rm -f "$run/$1.pid"
}

wait_online() { # give the services a moment to come up before reporting
    local i
    for i in $(seq 30); do
        alive bridge && alive agent && return 0
        sleep 0.1
    done
}

case "${1:-}" in
status)
    echo "desired=$(cat "$run/desired" 2>/dev/null || echo enabled)"
    alive bridge && echo bridge=online || echo bridge=stopped
    alive agent && echo agent=online || echo agent=stopped
    if alive agent && paired; then echo hub=online; else echo hub=offline; fi
    echo "bridge_memory_kb=$(rss_kb bridge)"
    echo "agent_memory_kb=$(rss_kb agent)"
    ;;
start)
    echo enabled >"$run/desired"
    start_bridge
    start_agent
    wait_online
    echo "Korvan Remote started."
    ;;
stop)
    echo disabled >"$run/desired"
    stop_one agent
    stop_one bridge
    echo "Korvan Remote stopped."
    ;;
restart)
    stop_one agent
    stop_one bridge
    echo enabled >"$run/desired"
    start_bridge
    start_agent
    wait_online
    echo "Korvan Remote restarted."
    ;;
*)
    echo "unknown command: ${1:-}" >&2
    exit 64
    ;;
esac
