#!/usr/bin/env bash
# Installs the Debian packages the build, the tools and the tests need,
# skipping those already present. Needs root (or sudo).
#   scripts/deps.sh          the build, the tools and the tests
#   scripts/deps.sh --fuzz   also clang with its libFuzzer runtime (fuzz/)
#   scripts/deps.sh --bench  also what bench/compare and bench/callgrind run:
#                            yara, php-cli, GNU time, valgrind
set -euo pipefail
packages=(g++ cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
          libssl-dev libcli11-dev nlohmann-json3-dev libsqlite3-dev python3)
for flag in "$@"; do
  case "$flag" in
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --bench) packages+=(yara php-cli time valgrind) ;;
    *) echo "deps.sh: unknown option $flag" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
