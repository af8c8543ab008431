#!/usr/bin/env bash
# Installs what building and testing Zarmite needs on Debian 12, and nothing when it is
# all present already. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  cmake make g++ googletest libgtest-dev clang-format  # the native build and its tests
  g++-mingw-w64-i686 wine wine32:i386                  # the Windows build, run under Wine
  g++-mingw-w64-x86-64 wine64                          # the same under 64-bit Wine
  clang libclang-rt-14-dev                             # libFuzzer with the sanitizers
  valgrind gcovr libbenchmark-dev                      # memcheck, coverage, benchmarks
  libncurses-dev tmux python3                          # the live view and its tests
  libmicrohttpd-dev libgnutls28-dev libyaml-cpp-dev libcrypt-dev  # the metrics endpoint: HTTP, TLS, auth
  prometheus openssl                                   # its tests: a real Prometheus, a cert
  pci.ids                                              # GPU model names in the GPU library
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# Wine runs the 32-bit Windows build and needs the i386 architecture for it.
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
