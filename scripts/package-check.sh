#!/usr/bin/env bash
# Checks the two Debian packages that `make package` made: the window's (kelvora) and the
# command-line programs' (kelvora-cli). Unpacks each into a temporary tree (dpkg -x) and checks:
# the control fields, that kelvora-cli needs no graphical library, every program under usr/bin of
# its own package with its compressed man page, each package's copyright and changelog, nothing
# under usr/local, the desktop entry, icon and metainfo in the window's package only
# (desktop-file-validate and appstreamcli with no error and no warning), each program's
# --version and --help without a display, that each man page names every long option of its
# program's --help, and lintian (fails on any error or warning).
# With --install (root, Debian 12) it also installs both packages with apt, runs every program
# from PATH, purges them and whatever apt brought with them, and checks that no file of them is
# left and that dpkg lists the same packages as before.
#
# Usage: scripts/package-check.sh [--install] [BUILD_DIR]   (default build-package)
set -euo pipefail
cd "$(dirname "$0")/.."

install=no
if [ "${1:-}" = --install ]; then
    install=yes
    shift
fi
dir=${1:-build-package}

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAILED: $*" >&2; }
check() { # check <what> <command...>: passes when the command succeeds
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
quiet() { "$@" >/dev/null; }
headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }

# The version and the programs from the top CMakeLists.txt; ids, package names and which programs
# need a display from cmake/KelvoraPackage.cmake.
cmake_value() { sed -n "s/^set($1 \(.*\))$/\1/p" cmake/KelvoraPackage.cmake; }
version=$(sed -n 's/^project(Kelvora VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
mapfile -t programs < <(sed -n 's/^kelvora_install_program(\([a-z0-9-]*\).*/\1/p' CMakeLists.txt)
app_id=$(cmake_value KELVORA_APP_ID)
window=$(cmake_value KELVORA_WINDOW_PACKAGE)
cli=$(cmake_value KELVORA_CLI_PACKAGE)
read -r -a window_programs <<<"$(cmake_value KELVORA_WINDOW_PROGRAMS)"
if [ -z "$version" ] || [ ${#programs[@]} -eq 0 ] || [ -z "$app_id" ] || [ -z "$window" ] ||
    [ -z "$cli" ] || [ ${#window_programs[@]} -eq 0 ]; then
    echo "package-check: cannot read the version, programs, application id or package names" >&2
    exit 2
fi
package_of() { # the package a program belongs in
    local w
    for w in "${window_programs[@]}"; do [ "$1" = "$w" ] && { echo "$window"; return; }; done
    echo "$cli"
}

arch=$(dpkg --print-architecture)
declare -A deb
for pkg in "$window" "$cli"; do
    deb[$pkg]=$dir/${pkg}_${version}_$arch.deb
    if [ ! -f "${deb[$pkg]}" ]; then
        echo "package-check: ${deb[$pkg]} is missing; run make package first" >&2
        exit 2
    fi
done
echo "package-check: ${deb[$window]} ${deb[$cli]} (version $version; programs: ${programs[*]})"

tree=$(mktemp -d)
trap 'rm -rf "$tree" "$tree.apt.log"' EXIT

# Control fields: version from the project, maintainer and home page, Depends by dpkg-shlibdeps.
declare -A depends
for pkg in "$window" "$cli"; do
    field() { dpkg-deb -f "${deb[$pkg]}" "$1"; }
    check "$pkg: Package is $pkg" test "$(field Package)" = "$pkg"
    check "$pkg: Version is $version" test "$(field Version)" = "$version"
    check "$pkg: Maintainer is set ($(field Maintainer))" test -n "$(field Maintainer)"
    check "$pkg: Homepage is set ($(field Homepage))" test -n "$(field Homepage)"
    depends[$pkg]=$(field Depends)
    echo "   $pkg Depends: ${depends[$pkg]}"
    mkdir "$tree/$pkg"
    dpkg -x "${deb[$pkg]}" "$tree/$pkg"
done
# Package and file names alike (libqt6gui6, libQt6Gui.so.6, libgl1, libGL.so.1, libx11-6...).
graphical='lib(qt6(gui|widgets|opengl)|glx?|egl|opengl|x11|xcb|xkbcommon|vulkan)([0-9.-]|\.so)'
check "$cli: Depends names Qt Core" grep -q 'libqt6core6 (>= [^)]*)' <<<"${depends[$cli]}"
check "$cli: Depends names Qt Network" grep -q 'libqt6network6 (>= [^)]*)' <<<"${depends[$cli]}"
check "$cli: Depends names no graphical library" bash -c '! grep -qiE "$1" <<<"$2"' _ \
    "$graphical" "${depends[$cli]}"
check "$window: Depends on $cli (= $version)" grep -qF "$cli (= $version)" <<<"${depends[$window]}"
check "$window: Depends names the Qt Widgets library" \
    grep -q 'libqt6widgets6 (>= [^)]*)' <<<"${depends[$window]}"

for p in "${programs[@]}"; do
    pkg=$(package_of "$p")
    other=$window
    [ "$pkg" = "$window" ] && other=$cli
    check "$p is usr/bin/$p of $pkg" test -x "$tree/$pkg/usr/bin/$p"
    check "$p is not in $other" test ! -e "$tree/$other/usr/bin/$p"
    check "$pkg: man page usr/share/man/man1/$p.1.gz" gzip -t "$tree/$pkg/usr/share/man/man1/$p.1.gz"
    if [ "$pkg" = "$cli" ]; then
        # ldd follows the libraries' own needs too, so a graphical one pulled in through
        # another library shows up here as well.
        libs=$(ldd "$tree/$pkg/usr/bin/$p" 2>&1) || libs=
        others=$(grep -o 'libQt6[A-Za-z]*' <<<"$libs" | sort -u | grep -vxE 'libQt6(Core|Network)' |
            tr '\n' ' ') || true
        check "$p loads Qt Core" grep -q 'libQt6Core\.so' <<<"$libs"
        check "$p loads no Qt module but Core and Network${others:+ (also: ${others% })}" test -z "$others"
        check "$p loads no graphical library" bash -c '! grep -qiE "$1" <<<"$2"' _ "$graphical" "$libs"
    fi
done

license=$(awk '/^Files: \*$/ { f = 1 } f && /^License:/ { print $2; exit }' packaging/copyright)
for pkg in "$window" "$cli"; do
    check "$pkg: usr/share/doc/$pkg/copyright says License: $license" \
        grep -q "^License: $license\$" "$tree/$pkg/usr/share/doc/$pkg/copyright"
    check "$pkg: usr/share/doc/$pkg/changelog.gz" gzip -t "$tree/$pkg/usr/share/doc/$pkg/changelog.gz"
    check "$pkg: nothing under usr/local" test ! -e "$tree/$pkg/usr/local"
    outside=$(cd "$tree/$pkg" && find . -mindepth 1 -maxdepth 1 ! -name usr)
    check "$pkg: nothing outside usr/" test -z "$outside"
done
for d in applications metainfo icons; do
    check "$cli: no usr/share/$d" test ! -e "$tree/$cli/usr/share/$d"
done

desktop=$tree/$window/usr/share/applications/$app_id.desktop
metainfo=$tree/$window/usr/share/metainfo/$app_id.metainfo.xml
out=$(desktop-file-validate "$desktop" 2>&1) && status=0 || status=$?
[ -z "$out" ] || sed 's/^/   /' <<<"$out"
check "desktop-file-validate $app_id.desktop: no error, no warning" test "$status" -eq 0 -a -z "$out"
out=$(appstreamcli validate --no-net "$metainfo" 2>&1) && status=0 || status=$?
sed 's/^/   /' <<<"$out"
check "appstreamcli validate --no-net $app_id.metainfo.xml: no error, no warning" \
    bash -c '[ "$1" -eq 0 ] && ! grep -qE "^[EW]:" <<<"$2"' _ "$status" "$out"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" 2>/dev/null) || true
check "the desktop entry starts usr/bin/$exec_name of $window" test -x "$tree/$window/usr/bin/$exec_name"
icon=$(sed -n 's/^Icon=//p' "$desktop" 2>/dev/null) || true
check "icon $icon is a scalable SVG under hicolor" \
    grep -q '<svg' "$tree/$window/usr/share/icons/hicolor/scalable/apps/$icon.svg"
check "the metainfo launches $app_id.desktop" \
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo"
check "the metainfo's project licence is $license, as packaging/copyright says" \
    grep -q "<project_license>$license</project_license>" "$metainfo"
# The window tells the desktop which entry it belongs to; another name loses its icon there.
check "app/main.cpp names $app_id as the desktop file" grep -qF "\"$app_id\"" app/main.cpp

# The programs as unpacked, with the system's libraries, and no display.
for p in "${programs[@]}"; do
    bin=$tree/$(package_of "$p")/usr/bin/$p
    out=$(headless "$bin" --version 2>&1) || true
    check "$p --version prints '$p $version' without a display" test "$out" = "$p $version"
    help=$(headless "$bin" --help 2>&1) || help=
    check "$p --help answers without a display" grep -q -- '--version' <<<"$help"
    page=$(zcat "$tree/$(package_of "$p")/usr/share/man/man1/$p.1.gz" 2>/dev/null) || page=
    missing=()
    for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
        grep -qF -- "${option//-/\\-}" <<<"$page" || missing+=("$option")
    done
    check "man page of $p names each option of its --help${missing[*]:+ (missing: ${missing[*]})}" \
        test ${#missing[@]} -eq 0
done

echo "lintian:"
if lintian --display-info --fail-on error,warning "${deb[$window]}" "${deb[$cli]}"; then
    pass "lintian reports no error and no warning"
else
    fail "lintian reports errors or warnings"
fi

if [ "$install" = yes ]; then
    for pkg in "$window" "$cli"; do
        if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            echo "package-check: $pkg is installed already; not touching it" >&2
            exit 2
        fi
    done
    export DEBIAN_FRONTEND=noninteractive
    apt_log=$tree.apt.log
    apt() { # apt's own output only when it fails; waits a bounded time for another apt's lock
        apt-get -y -qq -o DPkg::Lock::Timeout=120 "$@" >"$apt_log" 2>&1 ||
            { cat "$apt_log" >&2; return 1; }
    }
    known() { dpkg-query -W -f='${binary:Package} ${Status}\n' | grep -v ' not-installed$' | sort; }
    before=$(known)
    debs=("$(realpath "${deb[$window]}")" "$(realpath "${deb[$cli]}")")
    # What apt will add besides the two packages: purged again at the end.
    mapfile -t added < <(apt-get -s -qq install "${debs[@]}" 2>/dev/null |
        sed -n 's/^Inst \([^ ]*\) .*/\1/p' | grep -vxF -e "$window" -e "$cli" |
        while read -r p; do
            dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || echo "$p"
        done)
    echo "   apt adds: $window $cli${added[*]:+ ${added[*]}}"
    check "apt install ./$(basename "${deb[$window]}") ./$(basename "${deb[$cli]}")" apt install "${debs[@]}"
    mapfile -t files < <(dpkg -L "$window" "$cli")
    for p in "${programs[@]}"; do
        check "$p is on PATH at /usr/bin/$p" test "$(command -v "$p")" = "/usr/bin/$p"
        out=$(headless "$p" --version 2>&1) || true
        check "$p --version from PATH without a display" test "$out" = "$p $version"
        check "$p --help from PATH without a display" quiet headless "$p" --help
        check "man -w $p finds its page" test "$(man -w "$p")" = "/usr/share/man/man1/$p.1.gz"
    done
    check "apt remove --purge $window $cli${added[*]:+ ${added[*]}}" \
        apt remove --purge "$window" "$cli" "${added[@]}"
    for pkg in "$window" "$cli"; do
        check "dpkg no longer knows $pkg" \
            bash -c '! dpkg-query -W -f="\${Status}" "$1" 2>/dev/null | grep -q installed' _ "$pkg"
    done
    left=()
    for f in "${files[@]}"; do
        [ -f "$f" ] || [ -L "$f" ] || continue
        left+=("$f")
    done
    for pkg in "$window" "$cli"; do # the packages' own folders, not shared ones such as /usr/bin
        [ -e "/usr/share/doc/$pkg" ] && left+=("/usr/share/doc/$pkg")
    done
    check "no file of the packages is left (${#files[@]} paths listed before removal)${left[*]:+: ${left[*]}}" \
        test ${#left[@]} -eq 0
    changed=$(diff <(echo "$before") <(known)) || true
    check "dpkg lists the same packages as before${changed:+: $changed}" test -z "$changed"
fi

echo "package-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
