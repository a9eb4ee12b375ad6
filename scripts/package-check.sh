#!/usr/bin/env bash
# Checks the Debian package that `make package` made. Unpacks it into a temporary tree
# (dpkg -x) and checks: the control fields, every program under usr/bin with its compressed man
# page, nothing under usr/local, the desktop entry, icon and metainfo (desktop-file-validate,
# appstreamcli), each program's --version and --help without a display, that each man page
# names every long option of its program's --help, and lintian (fails on errors).
# With --install (root, Debian 12) it also installs the package with apt, runs the programs from
# PATH and removes it again with apt remove --purge, checking that no file of it is left.
#
# Usage: scripts/package-check.sh [--install] [BUILD_DIR | PACKAGE.deb]   (default build-package)
set -euo pipefail
cd "$(dirname "$0")/.."

install=no
if [ "${1:-}" = --install ]; then
    install=yes
    shift
fi
target=${1:-build-package}

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

# The installed programs and the version, from the top CMakeLists.txt.
version=$(sed -n 's/^project(Kelvora VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
mapfile -t programs < <(sed -n 's/^kelvora_install_program(\([a-z0-9-]*\).*/\1/p' CMakeLists.txt)
app_id=$(sed -n 's/^set(KELVORA_APP_ID \(.*\))$/\1/p' cmake/KelvoraPackage.cmake)
if [ -z "$version" ] || [ ${#programs[@]} -eq 0 ] || [ -z "$app_id" ]; then
    echo "package-check: cannot read the version, programs or application id" >&2
    exit 2
fi

if [ -d "$target" ]; then
    deb=$target/kelvora_${version}_$(dpkg --print-architecture).deb
else
    deb=$target
fi
if [ ! -f "$deb" ]; then
    echo "package-check: $deb is missing; run make package first" >&2
    exit 2
fi
echo "package-check: $deb (version $version; programs: ${programs[*]})"

tree=$(mktemp -d)
trap 'rm -rf "$tree" "$tree.apt.log"' EXIT

# Control fields: version from the project, maintainer, Depends worked out by dpkg-shlibdeps.
check "Package is kelvora" test "$(dpkg-deb -f "$deb" Package)" = kelvora
check "Version is $version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "Maintainer is set" test -n "$(dpkg-deb -f "$deb" Maintainer)"
depends=$(dpkg-deb -f "$deb" Depends)
check "Depends names the shared libraries ($depends)" \
    grep -q 'libqt6widgets6 (>= [^)]*)' <<<"$depends"

dpkg -x "$deb" "$tree"
for p in "${programs[@]}"; do
    check "usr/bin/$p" test -x "$tree/usr/bin/$p"
    check "man page usr/share/man/man1/$p.1.gz" gzip -t "$tree/usr/share/man/man1/$p.1.gz"
done
check "nothing under usr/local" test ! -e "$tree/usr/local"
outside=$(cd "$tree" && find . -mindepth 1 -maxdepth 1 ! -name usr)
check "nothing outside usr/" test -z "$outside"

desktop=$tree/usr/share/applications/$app_id.desktop
metainfo=$tree/usr/share/metainfo/$app_id.metainfo.xml
check "desktop-file-validate $app_id.desktop" desktop-file-validate "$desktop"
check "appstreamcli validate --no-net $app_id.metainfo.xml" appstreamcli validate --no-net "$metainfo"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" 2>/dev/null) || true
check "the desktop entry starts usr/bin/$exec_name" test -x "$tree/usr/bin/$exec_name"
icon=$(sed -n 's/^Icon=//p' "$desktop" 2>/dev/null) || true
check "icon $icon is a scalable SVG under hicolor" \
    grep -q '<svg' "$tree/usr/share/icons/hicolor/scalable/apps/$icon.svg"
check "the metainfo launches $app_id.desktop" \
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo"

# The programs as unpacked, with the system's libraries, and no display.
for p in "${programs[@]}"; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tree/usr/bin/$p" --version 2>&1) || true
    check "$p --version prints '$p $version' without a display" test "$out" = "$p $version"
    help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tree/usr/bin/$p" --help 2>&1) || help=
    check "$p --help answers without a display" grep -q -- '--version' <<<"$help"
    page=$(zcat "$tree/usr/share/man/man1/$p.1.gz" 2>/dev/null) || page=
    missing=()
    for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
        grep -qF -- "${option//-/\\-}" <<<"$page" || missing+=("$option")
    done
    check "man page of $p names each option of its --help${missing[*]:+ (missing: ${missing[*]})}" \
        test ${#missing[@]} -eq 0
done

echo "lintian:"
if lintian --fail-on error "$deb"; then
    pass "lintian reports no errors"
else
    fail "lintian reports errors"
fi

if [ "$install" = yes ]; then
    if dpkg-query -W -f='${Status}' kelvora 2>/dev/null | grep -q 'install ok installed'; then
        echo "package-check: kelvora is installed already; not touching it" >&2
        exit 2
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt_log=$tree.apt.log
    apt() { # apt's own output only when it fails
        apt-get -y -qq "$@" >"$apt_log" 2>&1 || { cat "$apt_log" >&2; return 1; }
    }
    check "apt install ./$(basename "$deb")" apt install "$(realpath "$deb")"
    mapfile -t files < <(dpkg -L kelvora)
    for p in "${programs[@]}"; do
        check "$p is on PATH at /usr/bin/$p" test "$(command -v "$p")" = "/usr/bin/$p"
    done
    check "kelvora-check --help from PATH" quiet env -u DISPLAY kelvora-check --help
    check "kelvora-camsim --help from PATH" quiet env -u DISPLAY kelvora-camsim --help
    check "kelvora --version from PATH" env -u DISPLAY -u WAYLAND_DISPLAY kelvora --version
    check "man -w kelvora finds the page" test "$(man -w kelvora)" = /usr/share/man/man1/kelvora.1.gz
    check "apt remove --purge kelvora" apt remove --purge kelvora
    check "dpkg no longer knows kelvora" \
        bash -c '! dpkg-query -W -f="\${Status}" kelvora 2>/dev/null | grep -q installed'
    left=()
    for f in "${files[@]}"; do
        [ -f "$f" ] || [ -L "$f" ] || continue
        left+=("$f")
    done
    for f in "${files[@]}"; do # the package's own folders, not the shared ones such as /usr/bin
        case $f in /usr/share/doc/kelvora) [ -e "$f" ] && left+=("$f") ;; esac
    done
    check "no file of the package is left (${#files[@]} paths listed before removal)${left[*]:+: ${left[*]}}" \
        test ${#left[@]} -eq 0
fi

echo "package-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
