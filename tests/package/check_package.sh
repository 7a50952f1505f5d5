#!/usr/bin/env bash
# The Debian package as a user gets it: made from the build, it holds exactly the expected files
# under /usr, the program it holds runs from where it is unpacked, and its desktop entry,
# metadata and manual pass their validators. The manual names every option --help prints, and
# the version is the same wherever it is shown.
#
#     check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

(cd "$build" && cpack -G DEB -D CPACK_PACKAGE_DIRECTORY="$work" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    exit 1
}
deb=$(ls "$work"/vormel_*.deb)
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[[ $(basename "$deb") == "vormel_${version}_${arch}.deb" ]] || fail "package named $(basename "$deb")"

# Its files, links and folders aside.
listing=$(dpkg-deb -c "$deb")
awk '$1 !~ /^[dl]/ { print $6 }' <<<"$listing" | sort >"$work/files"
# Every file of the project's Resource/ folder goes with the program.
resources=$(cd "$(dirname "$0")/../../Resource" && ls)
{
    sed 's|^|./usr/lib/vormel/Resource/|' <<<"$resources"
    cat <<EOF
./usr/lib/vormel/vormel
./usr/share/applications/vormel.desktop
./usr/share/doc/vormel/changelog.gz
./usr/share/doc/vormel/copyright
./usr/share/icons/hicolor/64x64/apps/vormel.png
./usr/share/man/man1/vormel.1.gz
./usr/share/metainfo/org.vormel.vormel.metainfo.xml
EOF
} | sort >"$work/expected"
diff -u "$work/expected" "$work/files" || fail "the package's files are not the expected ones"
grep -q ' ./usr/bin/vormel -> ../lib/vormel/vormel$' <<<"$listing" ||
    fail "no link /usr/bin/vormel to the program"
depends=$(dpkg-deb -f "$deb" Depends)
# The libraries it links, and the OpenGL ones SDL and a render load at run time.
for library in libsdl2-2.0-0 libsndfile1 libopenmpt0 libcairo2 libc6 libgl1 libegl1; do
    grep -qE "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library: $depends"
done

# The program, run from the unpacked package.
root="$work/root"
dpkg-deb -x "$deb" "$root"
program="$root/usr/bin/vormel"
[[ $("$program" --version) == "vormel $version" ]] || fail "--version says '$("$program" --version)'"
mkdir "$work/frames"
if "$program" --render "$root/usr/lib/vormel/Resource/audio.ogg" --seconds 0.5 --fps 10 \
    --size 64x48 --png "$work/frames" 2>"$work/render.log"; then
    count=$(ls "$work/frames" | grep -c '\.png$' || true)
    [[ $count == 5 ]] || fail "the render wrote $count frames instead of 5"
else
    fail "the unpacked program could not render: $(cat "$work/render.log")"
fi

# The copyright file in Debian's machine-readable format, with the licence of LICENSE word for
# word, and the changelog of this version.
copyright="$root/usr/share/doc/vormel/copyright"
[[ $(head -1 "$copyright") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] ||
    fail "the copyright file is not in the machine-readable format"
grep -qx 'Files: \*' "$copyright" && grep -qx 'License: Expat' "$copyright" ||
    fail "the copyright file does not give every file the MIT (Expat) licence"
licence=$(awk '/^License: Expat$/ { n++; next } n == 2' "$copyright" | sed 's/^ //; s/^\.$//')
[[ $licence == "$(sed -n '/^Permission/,$p' "$(dirname "$0")/../../LICENSE")" ]] ||
    fail "the copyright file's licence is not LICENSE's"
changelog="$root/usr/share/doc/vormel/changelog.gz"
zcat "$changelog" >"$work/changelog" || fail "the changelog is not compressed"
[[ $(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1) == "$version" ]] ||
    fail "the changelog is not of version $version: $(head -1 "$work/changelog")"
dpkg-parsechangelog -l "$work/changelog" -S Date >/dev/null 2>&1 || fail "the changelog's date"

# The desktop entry, the metadata and the manual, as their validators and man read them.
desktop-file-validate "$root/usr/share/applications/vormel.desktop" || fail "desktop entry"
metainfo="$root/usr/share/metainfo/org.vormel.vormel.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    fail "metadata: $(cat "$work/appstream.log")"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata's release is not $version"
grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "the metadata names no licence"
grep -q '<launchable type="desktop-id">vormel.desktop</launchable>' "$metainfo" ||
    fail "the metadata does not launch the desktop entry"

page="$root/usr/share/man/man1/vormel.1.gz"
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "man warns: $warnings"
[[ $(zcat "$page" | head -1) == *"\"Vormel $version\""* ]] || fail "the manual's heading is not $version"
# Every option that --help prints has an entry of its own: it stands in the tag line of a .TP
# paragraph (the line after it), as the page's source writes it (\- for each dash).
tags=$(zcat "$page" | awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' | sed 's/\\-/-/g')
for option in $("$program" --help | grep -oE '(^|[ ,])--?[a-zA-Z][a-z0-9-]*' | tr -d ' ,' |
    sort -u); do
    grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" <<<"$tags" ||
        fail "the manual has no entry for $option"
done

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package $(basename "$deb"): every check passed"
