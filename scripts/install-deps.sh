#!/usr/bin/env bash
# Installs what building and testing Zarmite needs on Debian 12, and nothing when it is
# all present already. Needs root (or sudo) only when something is missing.
#   install-deps.sh        everything: the builds, the tests and the checks
#   install-deps.sh demo   only what the Linux build and its demo need
#   install-deps.sh demo PACKAGE...   that, and the packages named (a script's own needs)
set -euo pipefail

# The Linux build, with the host's live view and metrics endpoint; configuring the build
# needs googletest even where no test runs.
demo_packages=(
  cmake make g++ googletest libgtest-dev python3          # the native build
  libncurses-dev                                          # the live view
  libmicrohttpd-dev libgnutls28-dev libyaml-cpp-dev libcrypt-dev  # the metrics endpoint: HTTP, TLS, auth
  pci.ids                                                 # GPU model names in the GPU library
)
test_packages=(
  clang-format                                         # the formatting check
  g++-mingw-w64-i686 wine wine32:i386                  # the Windows build, run under Wine
  g++-mingw-w64-x86-64 wine64                          # the same under 64-bit Wine
  clang libclang-rt-14-dev                             # libFuzzer with the sanitizers
  valgrind gcovr libbenchmark-dev                      # memcheck, coverage, benchmarks
  tmux                                                 # the live view's tests
  prometheus openssl                                   # the endpoint's tests: a real Prometheus, certs
  systemd                                              # systemd-analyze checks the service's unit
)
packages=("${demo_packages[@]}")
if [ "${1:-}" = demo ]; then
  packages+=("${@:2}")
else
  packages+=("${test_packages[@]}")
fi

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
if [[ " ${missing[*]} " == *":i386 "* ]]; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
# A mirror that is being synced may fail one list (seen: the i386 security list): the
# packages are then installed from the lists that came.
$sudo apt-get update -qq || echo "install-deps: some package lists could not be fetched"
install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >/dev/null
}
install "${missing[@]}" && exit 0
# 32-bit Wine needs i386 packages of the very versions of their amd64 twins, which such a
# list may lack: without it the Windows build is tested under 64-bit Wine (scripts/test.sh).
rest=()
for package in "${missing[@]}"; do
  [[ $package == *:i386 ]] || rest+=("$package")
done
[ ${#rest[@]} -lt ${#missing[@]} ] || exit 1
echo "install-deps: 32-bit Wine could not be installed; the Windows build is tested under 64-bit Wine"
[ ${#rest[@]} -eq 0 ] || install "${rest[@]}"
