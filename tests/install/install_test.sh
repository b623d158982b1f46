#!/usr/bin/env bash
# Installs the build into a fresh prefix and uses it as an operator and a
# host would: the installed qzscan and qzrules run without LD_LIBRARY_PATH and
# judge a shell and a clean file; two hosts (the test host and the README's
# example, taken from the README itself) are built against the prefix with
# pkg-config and with find_package and run; the nightly-scan script logs and
# mails findings.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
unset LD_LIBRARY_PATH
fail=0
problem() { echo "FAIL: $*" >&2; fail=1; }

rules=$prefix/share/qzengine/default.rules
lib=$(find "$prefix" -name 'libqzengine.so.1')
libdir=$(dirname "$lib")
pcdir=$(dirname "$(find "$prefix" -name qzengine.pc)")
for f in "$rules" "$lib" "$pcdir/qzengine.pc" "$prefix/bin/qzscan" "$prefix/bin/qzrules" \
  "$prefix/share/man/man1/qzscan.1" "$prefix/share/man/man1/qzrules.1" \
  "$prefix/share/bash-completion/completions/qzscan" \
  "$prefix/share/bash-completion/completions/qzrules" \
  "$prefix/share/doc/qzengine/examples/qzscan-nightly"; do
  [ -f "$f" ] || problem "not installed: ${f#"$prefix"/}"
done
# The tests' qzscan with hooks stays in the build tree, and the installed one
# holds none of them.
[ ! -e "$prefix/bin/qzscan-testhooks" ] || problem "installed: bin/qzscan-testhooks"
! grep -qa QZSCAN_TEST_ "$prefix/bin/qzscan" || problem "the installed qzscan has test hooks"
# The headers are installed, their templates are not.
stray=$(find "$prefix/include" -type f ! -name '*.h')
[ -z "$stray" ] || problem "installed beside the headers: $stray"
[ "$fail" -eq 0 ] || exit 1

shell=$src/examples/scripts/shells/request_eval.php
clean=$src/examples/scripts/clean/contact_form.php

# The tools find the library of their own prefix through their run path
# (qzrules has the engine linked in today).
for tool in qzscan qzrules; do
  loaded=$(ldd "$prefix/bin/$tool" | sed -n 's/^[[:space:]]*libqzengine\.so\.1 => \(.*\) (0x.*/\1/p')
  [ -n "$loaded" ] || [ "$tool" = qzrules ] || problem "$tool does not find libqzengine.so.1"
  [ -z "$loaded" ] || [ "$(realpath "$loaded")" = "$(realpath "$lib")" ] ||
    problem "$tool loads $loaded, not the installed library"
done

# Runs a command and checks its exit status and that its standard output
# contains a text: (expected status | text | command...).
expect() {
  local want=$1 text=$2 out status=0
  shift 2
  out=$("$@" 2>&1) || status=$?
  [ "$status" -eq "$want" ] || problem "$*: status $status, expected $want: $out"
  grep -qF -- "$text" <<<"$out" || problem "$*: no '$text' in: $out"
}

expect 0 "qzscan " "$prefix/bin/qzscan" --version
expect 1 "request_eval.php" "$prefix/bin/qzscan" -q "$shell"
expect 0 "" "$prefix/bin/qzscan" -q "$clean"
expect 1 '"threats": 1' "$prefix/bin/qzscan" --format json "$shell" "$clean"
expect 2 "no-such.php" "$prefix/bin/qzscan" -q "$work/no-such.php"
[ -z "$("$prefix/bin/qzscan" -q "$clean")" ] || problem "qzscan reports the clean file"
# The default rules are those of the prefix, unless the configured prefix
# holds rules of its own, which come first.
configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
if [ ! -e "$configured/share/qzengine/default.rules" ]; then
  expect 0 "rules: $prefix/bin/../share/qzengine/default.rules" "$prefix/bin/qzscan" --version
fi

# qzrules: the installed rules check out, and `test` runs the qzscan
# installed beside it over a shell and a clean folder.
expect 0 "" "$prefix/bin/qzrules" lint "$rules"
expect 0 '"behaviors"' "$prefix/bin/qzrules" dump "$rules"
mkdir -p "$work/samples/bad" "$work/samples/good"
cp "$shell" "$work/samples/bad/"
cp "$clean" "$work/samples/good/"
expect 0 '"passed": true' "$prefix/bin/qzrules" test "$rules" --json \
  --malicious "$work/samples/bad" --benign "$work/samples/good" --min-threat 100 --max-fp 0
expect 1 "below --min-detection 100" "$prefix/bin/qzrules" test "$rules" \
  --malicious "$work/samples/good" --benign "$work/samples/bad" --min-detection 100

# The README's host example, exactly as the README shows it.
awk '/<!-- host example:/ { f = 1; next }
     f == 1 && /^```c\+\+/ { f = 2; next }
     f == 2 && /^```/ { exit }
     f == 2 { print }' "$src/README.md" >"$work/scan_files.cpp"
[ -s "$work/scan_files.cpp" ] || { problem "no host example in README.md"; exit 1; }

# Both hosts built with pkg-config.
pc_flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs qzengine)
for host in host scan_files; do
  file=$src/tests/install/host.cpp
  [ "$host" = scan_files ] && file=$work/scan_files.cpp
  # Word splitting of the flags is wanted.
  # shellcheck disable=SC2086
  c++ -std=c++17 -Wall -Wextra -Werror "$file" -o "$work/${host}_pc" $pc_flags \
    -Wl,-rpath,"$libdir" || problem "$host does not build with pkg-config"
done
"$work/host_pc" "$rules" || problem "host (pkg-config) failed"

# Both hosts built with find_package.
mkdir -p "$work/cm"
cp "$src/tests/install/host.cpp" "$work/scan_files.cpp" "$work/cm/"
cp "$src/tests/install/CMakeLists.txt.in" "$work/cm/CMakeLists.txt"
cmake -S "$work/cm" -B "$work/cm/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/cm/build" >/dev/null || problem "the hosts do not build with find_package"
"$work/cm/build/host" "$rules" || problem "host (find_package) failed"

# The README example judges files as qzscan does.
for bin in "$work/scan_files_pc" "$work/cm/build/scan_files"; do
  expect 1 "request_eval.php: threat" "$bin" "$rules" "$shell" "$clean"
  expect 0 "contact_form.php: clean" "$bin" "$rules" "$clean"
  expect 2 "not scanned in full" "$bin" "$rules" "$work/no-such.php"
  expect 2 "cannot open the rule file" "$bin" "$work/no-such.rules" "$clean"
done

# The nightly scan logs findings and mails them through `mail`; a clean run
# mails nothing.
mkdir -p "$work/bin" "$work/site"
cat >"$work/bin/mail" <<EOF
#!/bin/sh
{ echo "to: \$*"; cat; } >>"$work/mailed"
EOF
chmod +x "$work/bin/mail"
cp "$shell" "$clean" "$work/site/"
cat >"$work/nightly.conf" <<EOF
QZSCAN=$prefix/bin/qzscan
QZSCAN_PATHS="$work/site"
QZSCAN_OPTIONS="-j 1"
QZSCAN_LOG_DIR=$work/log
QZSCAN_MAILTO=ops@example.org
EOF
nightly=$prefix/share/doc/qzengine/examples/qzscan-nightly
PATH=$work/bin:$PATH expect 1 "request_eval.php" "$nightly" "$work/nightly.conf"
grep -qF "request_eval.php" "$work"/log/qzscan-*.log || problem "nightly: no finding in the log"
grep -qF "to: -s qzscan on $(hostname): findings ops@example.org" "$work/mailed" ||
  problem "nightly: no mail: $(cat "$work/mailed" 2>/dev/null)"
grep -qF "request_eval.php" "$work/mailed" || problem "nightly: the mail lacks the finding"
rm -f "$work/mailed" "$work/site/request_eval.php"
PATH=$work/bin:$PATH expect 0 "no findings" "$nightly" "$work/nightly.conf"
[ ! -e "$work/mailed" ] || problem "nightly: a clean run sent mail"
expect 2 "cannot read" "$nightly" "$work/no-such.conf"

[ "$fail" -eq 0 ] && echo "install test: ok"
exit "$fail"
