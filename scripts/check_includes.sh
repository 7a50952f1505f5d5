#!/usr/bin/env bash
# Checks the layout rules of the code by its #include lines:
#   1. no include cycle between files;
#   2. platform/ includes nothing from app/, audio/, scene/, render/ or effects/;
#   3. only platform/, tests/, tools/ and bench/ include SDL, libsndfile, libopenmpt, libsoxr,
#      libpulse, cairo, pango or fontconfig headers.
# Usage: check_includes.sh [source root]. Prints each breach and exits 1 if there is any.
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

system='app|audio|scene|render|effects'
libraries='pulse/|SDL[^"/>]*\.h|SDL2/|sndfile\.h|sndfile\.hh|libopenmpt/|soxr\.h|cairo[^"/>]*\.h|cairo/|pango/|fontconfig/'
failed=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT

mapfile -t files < <(find app audio scene render effects platform tests tools bench \
    -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)

for file in "${files[@]}"; do
    top=${file%%/*}
    while IFS= read -r line; do
        target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([^">]*)[">].*/\1/' <<<"$line")
        if [[ $line =~ \"  ]]; then
            # Project headers are named from the root, or from the top folder of tests and tools.
            resolved=""
            if [[ -f $target ]]; then resolved=$target
            elif [[ -f $top/$target ]]; then resolved=$top/$target
            fi
            if [[ -n $resolved ]]; then
                echo "$file $resolved" >>"$edges"
                if [[ $top == platform && ${resolved%%/*} =~ ^($system)$ ]]; then
                    echo "$file: platform/ includes the system's $resolved"
                    failed=1
                fi
            fi
        fi
        if [[ ! $top =~ ^(platform|tests|tools|bench)$ && $target =~ ^($libraries) ]]; then
            echo "$file: includes the library header $target outside platform/"
            failed=1
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done

if ! cycle=$(tsort "$edges" 2>&1 >/dev/null) || [[ -n $cycle ]]; then
    echo "include cycle:"
    sed -n 's/^tsort: //p' <<<"$cycle"
    failed=1
fi

if [[ $failed -ne 0 ]]; then exit 1; fi
echo "include rules hold for ${#files[@]} files"
