#!/bin/sh
# sound-server.sh start|stop DIR: a private PulseAudio server with a null sink
# ("tamberlo_null") as its default output, its socket at DIR/rt/native, for the tests that
# play files through a whole program and do not start a server of their own.
set -eu
dir=$2
case $1 in
start)
    rm -rf "$dir"
    mkdir -p "$dir/rt" "$dir/home"
    chmod 700 "$dir/rt"
    printf '%s\n' 'load-module module-native-protocol-unix' \
        'load-module module-null-sink sink_name=tamberlo_null' \
        'set-default-sink tamberlo_null' >"$dir/default.pa"
    HOME=$dir/home XDG_RUNTIME_DIR=$dir/rt PULSE_RUNTIME_PATH=$dir/rt \
        setsid pulseaudio -n -F "$dir/default.pa" --daemonize=no --exit-idle-time=-1 \
        --disallow-exit >"$dir/log" 2>&1 </dev/null &
    echo $! >"$dir/pid"
    i=0
    while [ ! -S "$dir/rt/native" ]; do
        i=$((i + 1))
        if [ $i -gt 100 ]; then
            echo "the private sound server did not start:" >&2
            cat "$dir/log" >&2
            exit 1
        fi
        sleep 0.05
    done
    # Something listens to the output the whole time, as a sound card's converter does: the
    # sink then renders a few ms ahead of the clock instead of its idle two seconds, so that a
    # stream starts playing when it is handed over, as it does on a device.
    HOME=$dir/home XDG_RUNTIME_DIR=$dir/rt PULSE_RUNTIME_PATH=$dir/rt PULSE_SERVER=unix:$dir/rt/native \
        setsid parec --raw --latency-msec=10 -d tamberlo_null.monitor >/dev/null 2>"$dir/listener.log" </dev/null &
    echo $! >"$dir/listener.pid"
    # A null sink that has idled renders up to two seconds ahead and takes back no more than
    # its new latency: wait until the listener has brought it down.
    i=0
    while :; do
        latency=$(PULSE_SERVER=unix:$dir/rt/native pactl list sinks 2>/dev/null |
            sed -n 's/^[[:space:]]*Latency: \([0-9]*\) usec.*/\1/p' | head -n 1)
        [ -n "$latency" ] && [ "$latency" -lt 100000 ] && break
        i=$((i + 1))
        if [ $i -gt 100 ]; then
            echo "the private sound server's sink did not settle (latency ${latency:-unknown} us)" >&2
            exit 1
        fi
        sleep 0.05
    done
    ;;
stop)
    if [ -f "$dir/listener.pid" ]; then
        kill "$(cat "$dir/listener.pid")" 2>/dev/null || true
        rm -f "$dir/listener.pid"
    fi
    if [ -f "$dir/pid" ]; then
        kill "$(cat "$dir/pid")" 2>/dev/null || true
        rm -f "$dir/pid"
    fi
    ;;
esac
