#!/usr/bin/env bash
# The running program against the minimal renderer, on a private X server with Mesa's software
# renderer: start-up to the first presented frame, CPU over 10 s at the default pace, resident
# memory. Rounds alternate between the two; medians and ratios are printed.
# With "listen", the program listening to a private pulseaudio that plays the default sound,
# against the program playing it itself through that server.
# With "wallpaper", the program listening as a wallpaper against it listening full screen, both at
# 1280 x 720; on X11, or with "wallpaper sway" on a headless sway with one output of that size.
#   bench/measure_program.sh [build folder] [rounds] [listen | wallpaper [sway]]
set -euo pipefail
build=${1:-build}
rounds=${2:-5}
mode=${3:-}
backend=${4:-x11}
program=$build/vormel
minimal=$build/bench/minimal_window
[[ -x $program && -x $minimal ]] || { echo "build vormel and minimal_window first" >&2; exit 2; }
hz=$(getconf CLK_TCK)
work=$(mktemp -d)
screen=1280x1024x24
[[ $mode == wallpaper ]] && screen=1280x720x24
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
pulse=""
player=""
sway=""
trap 'kill $xvfb $pulse $player $sway 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
display=:$(head -1 "$work/display")
on=(env DISPLAY="$display")
if [[ $backend == sway ]]; then
    # sway refuses root: as nobody, in a runtime folder of nobody's.
    chmod 711 "$work" # for nobody to reach its folder
    mkdir -m 700 "$work/sway"
    printf 'xwayland disable\n' >"$work/sway/config"
    [[ $(id -u) -eq 0 ]] && chown -R 65534:65534 "$work/sway"
    as=()
    [[ $(id -u) -eq 0 ]] && as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    "${as[@]}" env -i PATH=/usr/bin:/bin HOME="$work/sway" XDG_RUNTIME_DIR="$work/sway" \
        WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        WLR_HEADLESS_OUTPUTS=1 sway -c "$work/sway/config" >/dev/null 2>&1 &
    sway=$!
    socket=""
    for _ in $(seq 100); do
        socket=$(cd "$work/sway" && ls wayland-* 2>/dev/null | grep -v lock | head -1) || true
        [[ -n $socket ]] && break
        sleep 0.1
    done
    [[ -n $socket ]] || { echo "sway did not start" >&2; exit 1; }
    on=(env -u DISPLAY XDG_RUNTIME_DIR="$work/sway" WAYLAND_DISPLAY="$socket"
        SDL_VIDEODRIVER=wayland)
fi
audio=dummy
if [[ $mode == listen || $mode == wallpaper ]]; then
    mkdir -m 700 "$work/pulse"
    env -u DISPLAY XDG_RUNTIME_DIR="$work/pulse" HOME="$work/pulse" pulseaudio -n --daemonize=no \
        --exit-idle-time=-1 --use-pid-file=no \
        "--load=module-null-sink sink_name=speakers format=float32le rate=44100 channels=2" \
        "--load=module-native-protocol-unix auth-anonymous=1 socket=$work/pulse/native" \
        >/dev/null 2>&1 &
    pulse=$!
    export PULSE_SERVER=unix:$work/pulse/native
    sleep 1
    audio=pulseaudio
fi

# measure NAME EXE [ARG...]: one round, appending "startup_ms cpu_percent rss_kb anon_kb" to
# $work/NAME.
measure() {
    local name=$1 exe=$2
    shift 2
    : >"$work/$name.err"
    "${on[@]}" SDL_AUDIODRIVER=$audio VORMEL_GL_INFO=1 "$exe" "$@" 2>"$work/$name.err" &
    local pid=$!
    local first=""
    for _ in $(seq 200); do
        first=$(sed -n 's/.*first frame presented \([0-9]*\)\.[0-9] ms after start.*/\1/p' "$work/$name.err")
        [[ -n $first ]] && break
        sleep 0.05
    done
    sleep 3
    local t0 s0 t1 s1
    t0=$(awk '{print $14 + $15}' /proc/$pid/stat)
    s0=$(date +%s%N)
    sleep 10
    t1=$(awk '{print $14 + $15}' /proc/$pid/stat)
    s1=$(date +%s%N)
    local rss anon
    rss=$(awk '/VmRSS/ {print $2}' /proc/$pid/status)
    anon=$(awk '/RssAnon/ {print $2}' /proc/$pid/status)
    kill $pid
    wait $pid 2>/dev/null || true
    local cpu
    cpu=$(awk -v t="$((t1 - t0))" -v hz="$hz" -v s="$((s1 - s0))" 'BEGIN {printf "%.1f", t / hz * 1e11 / s}')
    echo "$first $cpu $rss $anon" >>"$work/$name"
}

first=program
second=minimal
for _ in $(seq "$rounds"); do
    if [[ $mode == wallpaper ]]; then
        first=fullscreen
        second=wallpaper
        paplay --device=speakers "$build/Resource/audio.ogg" &
        player=$!
        measure fullscreen "$program" --fullscreen --listen
        measure wallpaper "$program" --wallpaper --listen
        kill $player
        wait $player 2>/dev/null || true
    elif [[ $mode == listen ]]; then
        first=playing
        second=listening
        # The program plays its default sound (74 s long); then the desktop plays it while the
        # program listens.
        measure playing "$program"
        paplay --device=speakers "$build/Resource/audio.ogg" &
        player=$!
        measure listening "$program" --listen
        kill $player
        wait $player 2>/dev/null || true
    else
        measure program "$program"
        measure minimal "$minimal"
    fi
done

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
report() {
    local column=$1 label=$2 unit=$3
    local p m
    p=$(awk -v c="$column" '{print $c}' "$work/$first" | median)
    m=$(awk -v c="$column" '{print $c}' "$work/$second" | median)
    printf "%-22s $first %7s %-3s $second %7s %-3s ratio %s\n" "$label" "$p" "$unit" "$m" "$unit" \
        "$(awk -v p="$p" -v m="$m" 'BEGIN {printf "%.2f", m ? p / m : 0}')"
}
echo "medians of $rounds rounds each:"
report 1 "start-up to 1st frame" ms
report 2 "CPU, one core = 100" "%"
report 3 "resident memory" kB
report 4 "  of it anonymous" kB
