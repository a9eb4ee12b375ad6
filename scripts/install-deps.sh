#!/usr/bin/env bash
# Installs the Debian packages Kelvora needs to build, test and run, when any is missing.
# Does nothing when all are present. Uses sudo when not run as root.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev libxkbcommon-dev
    libcpp-httplib-dev libssl-dev
    libhttp-parser-dev
    xvfb xauth curl
)
# `make test` also runs the Ansible collection's test and lint (ansible/), links its many
# test programs with LLVM's faster linker, and renders the fleet's HTML report in a headless
# browser (without one that test is skipped); `make fuzz` needs
# clang's libFuzzer; `make package` the Debian packaging tools.
if [ "${1:-}" = test ]; then
    packages+=(ansible-core ansible-lint lld chromium)
elif [ "${1:-}" = fuzz ]; then
    packages+=(clang libclang-rt-14-dev)
elif [ "${1:-}" = package ]; then
    packages+=(dpkg-dev file help2man lintian desktop-file-utils appstream)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! command -v apt-get >/dev/null 2>&1; then
    echo "install-deps: apt-get is not available on this machine." >&2
    echo "install-deps: install these packages (Debian 12 names) by other means: ${missing[*]}" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "install-deps: not root and sudo is not available; cannot install ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
