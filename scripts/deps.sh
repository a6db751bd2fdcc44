#!/usr/bin/env bash
# Installs the Debian packages that building and testing Vandrel needs, when
# any is missing (as root, or through sudo).
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
          libzstd-dev zlib1g-dev nlohmann-json3-dev
          libgtest-dev libgmock-dev libbenchmark-dev gzip dict-freedict-deu-eng
          libre2-dev libhunspell-dev hunspell-en-us hunspell-ru hunspell-de-de
          dict dictd dict-wn clang-format time)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
