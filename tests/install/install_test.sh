#!/usr/bin/env bash
# Installs the build into a fresh prefix, then builds a tiny host against it
# twice (pkg-config and find_package) and runs both, and runs the installed
# qzscan with its installed rules over the example scripts.
set -euo pipefail
build=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
rules=$prefix/share/qzengine/default.rules
test -f "$rules"
pcdir=$(dirname "$(find "$prefix" -name qzengine.pc | head -n1)")
libdir=$(dirname "$(find "$prefix" -name 'libqzengine.so.1' | head -n1)")

# pkg-config
PKG_CONFIG_PATH=$pcdir c++ -std=c++17 "$src/tests/install/host.cpp" -o "$work/host_pc" \
  $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs qzengine) -Wl,-rpath,"$libdir"
"$work/host_pc" "$rules"

# find_package
mkdir -p "$work/cm"
cp "$src/tests/install/host.cpp" "$work/cm/"
cp "$src/tests/install/CMakeLists.txt.in" "$work/cm/CMakeLists.txt"
cmake -S "$work/cm" -B "$work/cm/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/cm/build" >/dev/null
"$work/cm/build/host" "$rules"

# the installed scanner finds its installed rules
status=0
LD_LIBRARY_PATH=$libdir "$prefix/bin/qzscan" -q "$src/examples/scripts/shells/request_eval.php" || status=$?
test "$status" -eq 1
echo "install test: ok"
