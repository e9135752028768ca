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
        'load-module module-null-sink sink_name=tamberlo_null norewinds=1' \
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
    ;;
stop)
    if [ -f "$dir/pid" ]; then
        kill "$(cat "$dir/pid")" 2>/dev/null || true
        rm -f "$dir/pid"
    fi
    ;;
esac
