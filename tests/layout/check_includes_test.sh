#!/usr/bin/env bash
# The include checker on small trees made here: a clean one passes, and each kind of breach is
# reported by name.
set -uo pipefail
checker=$(cd "$(dirname "$0")/../.." && pwd)/scripts/check_includes.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# make_tree DIR: a clean tree in the project's layout.
make_tree() {
    mkdir -p "$1"/{app,audio,scene,render,effects,platform/os,tests/support,tools,bench}
    printf '#pragma once\n' >"$1/platform/os/window.h"
    printf '#include "platform/os/window.h"\n#include <SDL.h>\n' >"$1/platform/os/window.cpp"
    printf '#pragma once\n#include "platform/os/window.h"\n' >"$1/app/startup.h"
    printf '#include "app/startup.h"\n#include <GL/gl.h>\n' >"$1/render/frame.cpp"
    printf '#pragma once\n' >"$1/tests/support/x.h"
    printf '#include "support/x.h"\n#include <cairo.h>\n' >"$1/tests/t.cpp"
}

# expect NAME WANTED-EXIT PATTERN SETUP...: makes a tree, applies SETUP, runs the checker.
expect() {
    local name=$1 wanted=$2 pattern=$3
    shift 3
    local dir=$work/$name
    make_tree "$dir"
    (cd "$dir" && eval "$@")
    local out
    out=$("$checker" "$dir" 2>&1)
    local got=$?
    if [[ $got -ne $wanted ]] || ! grep -qE "$pattern" <<<"$out"; then
        echo "FAIL $name: exit $got (wanted $wanted), output:"
        echo "$out"
        status=1
    else
        echo "ok   $name"
    fi
}

expect clean 0 'rules hold' true
expect cycle 1 'include cycle' \
    "printf '#include \"app/startup.h\"\n' >>platform/os/window.h"
expect platform_reaches_up 1 'platform/ includes the system' \
    "printf '#include \"render/frame.h\"\n' >platform/os/bad.cpp; touch render/frame.h"
expect sdl_outside 1 'library header SDL_image.h' \
    "printf '#include <SDL_image.h>\n' >>render/frame.cpp"
expect pango_outside 1 'library header pango/' \
    "printf '#include <pango/pangocairo.h>\n' >>app/startup.h"
expect sndfile_outside 1 'library header sndfile.h' \
    "printf '#include <sndfile.h>\n' >audio/a.cpp"
expect soxr_outside 1 'library header soxr.h' \
    "printf '#include <soxr.h>\n' >audio/a.cpp"
expect tools_may 0 'rules hold' \
    "printf '#include <SDL.h>\n#include <fontconfig/fontconfig.h>\n' >tools/t.cpp"
exit $status
