#!/usr/bin/env bash
# Builds the Debian package from an already built tree, unpacks it into a scratch root and checks
# that everything is where a desktop looks for it.
#
#   check-deb.sh <CPackConfig.cmake> <scratch dir> <expected version> "<icon sizes>"
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 <CPackConfig.cmake> <scratch dir> <version> \"<icon sizes>\"" >&2
    exit 2
fi
config=$1
scratch=$2
version=$3
read -r -a sizes <<<"$4"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root"

# --- Build the package ---------------------------------------------------------------------
if ! cpack --config "$config" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack did not produce a package" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
deb="$scratch/out/tamberlo_${version}_${arch}.deb"
if [ ! -f "$deb" ]; then
    ls -l "$scratch/out" >&2
    echo "FAIL: expected $deb" >&2
    exit 1
fi

# --- Control fields ------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tamberlo ] || fail "Package is '$(field Package)', not tamberlo"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Maintainer)" = "Tamberlo developers <dev@tamberlo.invalid>" ] ||
    fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Section)" ] || fail "no Section"
[ -n "$(field Description)" ] || fail "no Description"

# Depends as one item per line, alternatives kept together, version constraints dropped.
depends=$(field Depends | tr ',' '\n' | sed -e 's/([^)]*)//g' -e 's/[[:space:]]//g')
# Whether a package is named in Depends, alone or as one alternative of an item.
depends_on() {
    local item alternative alternatives
    while IFS= read -r item; do
        IFS='|' read -r -a alternatives <<<"$item"
        for alternative in "${alternatives[@]}"; do
            [ "$alternative" = "$1" ] && return 0
        done
    done <<<"$depends"
    return 1
}
for needed in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 \
    libqt6multimedia6 libqt6svg6 qt6-qpa-plugins gstreamer1.0-plugins-base \
    gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad gstreamer1.0-libav \
    qt6-translations-l10n; do
    depends_on "$needed" || fail "Depends lacks $needed"
done
grep -qE '(^|\|)fonts-(wqy|noto-cjk)' <<<"$depends" || fail "Depends lacks a CJK font"

# --- Contents ------------------------------------------------------------------------------
dpkg -x "$deb" "$scratch/root"
root="$scratch/root"

# Only what belongs to the application: no build helpers, tests or static libraries.
while IFS= read -r path; do
    case "$path" in
    usr/bin/tamberlo | usr/bin/tamberlo-bridge-sim | usr/bin/tamberlo-cli) ;;
    usr/libexec/tamberlo/tamberlo-cli-plan) ;; # plan, program, export of tamberlo-cli
    usr/share/applications/*.desktop) ;;
    usr/share/icons/hicolor/*/apps/*) ;;
    usr/share/metainfo/*.metainfo.xml) ;;
    usr/share/doc/tamberlo/*) ;;
    *) fail "unexpected file in the package: /$path" ;;
    esac
done < <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)

for program in tamberlo tamberlo-bridge-sim tamberlo-cli; do
    binary="$root/usr/bin/$program"
    if [ ! -x "$binary" ]; then
        fail "/usr/bin/$program is missing or not executable"
        continue
    fi
    [ "$(head -c 4 "$binary" | od -An -c | tr -d ' ')" = '177ELF' ] || fail "$program is not ELF"
    if readelf -S "$binary" 2>/dev/null | grep -q '\.debug_info'; then
        fail "$program is not stripped"
    fi
done
# Every shared library the programs load must come from a package the .deb depends on.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
needed_packages() {
    local binary=$1 soname owner
    readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | while read -r soname; do
        # The copy in this architecture's library folder: a soname can also be owned by a
        # package of another architecture (libc6-i386 has /lib32/libm.so.6).
        owner=$(dpkg -S "*/$soname" 2>/dev/null |
            awk -v p="/$multiarch/$soname" 'substr($0, length($0) - length(p) + 1) == p { print; exit }' |
            cut -d: -f1)
        if [ -z "$owner" ]; then
            echo "?$soname"
        else
            echo "$owner"
        fi
    done
}
for program in tamberlo tamberlo-bridge-sim tamberlo-cli; do
    [ -x "$root/usr/bin/$program" ] || continue
    while read -r owner; do
        case "$owner" in
        \?*) fail "$program needs ${owner#?}, which no installed package provides" ;;
        *) depends_on "$owner" || fail "$program needs $owner, which Depends lacks" ;;
        esac
    done < <(needed_packages "$root/usr/bin/$program" | sort -u)
done
# tamberlo-cli's plan commands: present, stripped, and its libraries in Depends.
plan_tool="$root/usr/libexec/tamberlo/tamberlo-cli-plan"
if [ -x "$plan_tool" ]; then
    if readelf -S "$plan_tool" 2>/dev/null | grep -q '\.debug_info'; then
        fail "tamberlo-cli-plan is not stripped"
    fi
    while read -r owner; do
        case "$owner" in
        \?*) fail "tamberlo-cli-plan needs ${owner#?}, which no installed package provides" ;;
        *) depends_on "$owner" || fail "tamberlo-cli-plan needs $owner, which Depends lacks" ;;
        esac
    done < <(needed_packages "$plan_tool" | sort -u)
else
    fail "/usr/libexec/tamberlo/tamberlo-cli-plan is missing or not executable"
fi
# The stripped, packaged simulator still starts and is of this version. (In a sanitizer build,
# leak reports at exit are the simulator's own tests' business, not the package's.)
if [ -x "$root/usr/bin/tamberlo-bridge-sim" ]; then
    sim_version=$(ASAN_OPTIONS=detect_leaks=0 "$root/usr/bin/tamberlo-bridge-sim" --version 2>&1) ||
        fail "packaged tamberlo-bridge-sim --version failed: $sim_version"
    [[ "$sim_version" == *" $version" ]] ||
        fail "packaged tamberlo-bridge-sim says '$sim_version', not $version"
fi
# The command-line tool starts, is of this version and loads no widgets or multimedia.
if [ -x "$root/usr/bin/tamberlo-cli" ]; then
    cli_version=$(ASAN_OPTIONS=detect_leaks=0 "$root/usr/bin/tamberlo-cli" --version 2>&1) ||
        fail "packaged tamberlo-cli --version failed: $cli_version"
    [[ "$cli_version" == *" $version" ]] || fail "packaged tamberlo-cli says '$cli_version', not $version"
    if readelf -d "$root/usr/bin/tamberlo-cli" | grep -qE 'NEEDED.*libQt6(Widgets|Multimedia|Gui)'; then
        fail "tamberlo-cli links Qt Widgets, Gui or Multimedia"
    fi
fi
[ -f "$root/usr/share/doc/tamberlo/copyright" ] || fail "no /usr/share/doc/tamberlo/copyright"

# The menu entry: valid, its program installed, its icon in the hicolor theme.
desktop="$root/usr/share/applications/tamberlo.desktop"
if [ ! -f "$desktop" ]; then
    fail "no /usr/share/applications/tamberlo.desktop"
else
    desktop-file-validate "$desktop" || fail "installed desktop entry does not validate"
    key() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
    exec_program=$(key Exec | awk '{print $1}')
    [ -x "$root/usr/bin/$exec_program" ] || fail "Exec=$exec_program is not in /usr/bin"
    [ "$(key Terminal)" = false ] || fail "Terminal is not false"
    icon=$(key Icon)
    [ -n "$icon" ] || fail "no Icon key"
    hicolor="$root/usr/share/icons/hicolor"
    [ -f "$hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon.svg"
    grep -q '<svg' "$hicolor/scalable/apps/$icon.svg" 2>/dev/null || fail "$icon.svg is not SVG"
    for size in "${sizes[@]}"; do
        png="$hicolor/${size}x${size}/apps/$icon.png"
        if [ ! -f "$png" ]; then
            fail "no ${size}x${size} icon $icon.png"
            continue
        fi
        # PNG signature, then the IHDR chunk's width and height (big-endian) at bytes 16..23.
        [ "$(od -An -tx1 -N8 "$png" | tr -d ' \n')" = 89504e470d0a1a0a ] ||
            fail "${size}x${size}/apps/$icon.png is not a PNG"
        read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$png")
        width=$(((w1 << 24) | (w2 << 16) | (w3 << 8) | w4))
        height=$(((h1 << 24) | (h2 << 16) | (h3 << 8) | h4))
        [ "$width" = "$size" ] && [ "$height" = "$size" ] ||
            fail "${size}x${size}/apps/$icon.png is ${width}x${height}"
    done
    [ -f "$hicolor/48x48/apps/$icon.png" ] || fail "no 48x48 icon (the size menus fall back to)"
fi

# The plan window's menu entry: valid, the same program with --plan, the same icon.
plan_desktop="$root/usr/share/applications/tamberlo-plan.desktop"
if [ ! -f "$plan_desktop" ]; then
    fail "no /usr/share/applications/tamberlo-plan.desktop"
else
    desktop-file-validate "$plan_desktop" || fail "installed plan desktop entry does not validate"
    grep -qx 'Name=Tamberlo 录音计划' "$plan_desktop" || fail "plan entry is not named 'Tamberlo 录音计划'"
    grep -q '^Exec=tamberlo --plan' "$plan_desktop" || fail "plan entry does not run tamberlo --plan"
    grep -qx "Icon=${icon:-}" "$plan_desktop" || fail "plan entry's icon is not the panel's"
fi

# The metainfo: valid, pointing at the installed desktop entry and this version.
shopt -s nullglob
metainfos=("$root"/usr/share/metainfo/*.metainfo.xml)
shopt -u nullglob
if [ ${#metainfos[@]} -ne 1 ]; then
    fail "expected one metainfo file, found ${#metainfos[@]}"
else
    metainfo=${metainfos[0]}
    appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 ||
        { cat "$scratch/appstream.log" >&2; fail "installed metainfo does not validate"; }
    id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$metainfo" | head -n 1)
    [ "$(basename "$metainfo")" = "$id.metainfo.xml" ] ||
        fail "metainfo file $(basename "$metainfo") is not named after its id $id"
    [ "${icon:-}" = "$id" ] || fail "desktop Icon '${icon:-}' is not the application id '$id'"
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    [ -f "$root/usr/share/applications/$launchable" ] ||
        fail "metainfo launchable '$launchable' is not installed"
    newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
    [ "$newest" = "$version" ] || fail "newest release in metainfo is '$newest', not $version"
    while read -r binary; do
        [ -x "$root/usr/bin/$binary" ] || fail "metainfo provides binary '$binary' not installed"
    done < <(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo")
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures packaging check(s) failed; package contents:" >&2
    dpkg-deb -c "$deb" >&2
    exit 1
fi
echo "ok: $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB), Depends: $(field Depends)"
