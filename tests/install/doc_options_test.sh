#!/usr/bin/env bash
# Every option that `qzscan --help` and `qzrules [COMMAND] --help` print is
# described in the tool's man page and offered by its bash completion; the
# completion also completes option values and file names. The checker itself
# must catch an option taken out of a man page. The pages carry the version.
#   doc_options_test.sh QZSCAN QZRULES SOURCE_DIR
set -euo pipefail
qzscan=$1
qzrules=$2
src=$3
man_dir=$src/docs/man
comp_dir=$src/contrib/completion
fail=0
problem() { echo "FAIL: $*" >&2; fail=1; }

# Option names of one --help text: the first column of the lines that begin
# with an option ("  -j,--jobs UINT:INT in [1 - 256]  ..."), split at commas.
help_options() {
  sed -nE 's/^ +(-[^ ]*).*/\1/p' | tr ',' '\n' | grep -E '^-' | sort -u
}
# Subcommand names from the "Subcommands:" block of a --help text.
help_subcommands() {
  sed -n '/^Subcommands:/,/^$/p' | sed -nE 's/^  ([a-z][a-z0-9-]*) .*/\1/p'
}

# The words of WORDS... that a man page does not contain as a whole word
# (roff writes "-" as "\-").
missing_from_man() {
  local page=$1 w
  shift
  local text
  text=$(sed 's/\\-/-/g' "$page")
  for w in "$@"; do
    grep -qE -- "(^|[^A-Za-z0-9-])${w}([^A-Za-z0-9-]|\$)" <<<"$text" || echo "$w"
  done
}

# What the completion function FUNC of FILE offers for the words given (the
# last one is the word being completed), one per line.
complete_words() {
  local file=$1 func=$2
  shift 2
  bash -c '
    source "$1"; func=$2; shift 2
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    "$func"; printf "%s\n" "${COMPREPLY[@]}"' _ "$file" "$func" "$@"
}

# Checks one tool's option list against its man page and its completion.
# PREFIX... are the words before the option (the tool, and the command).
check_options() {
  local page=$1 comp=$2 func=$3 opts=$4
  shift 4
  local o missing
  [ -n "$opts" ] || { problem "$*: no options read from --help"; return; }
  mapfile -t opts <<<"$opts"
  missing=$(missing_from_man "$page" "${opts[@]}" | paste -sd' ')
  [ -z "$missing" ] || problem "$(basename "$page") lacks: $missing"
  # grep reads the offers whole: with -q it could stop at the first match
  # and, under pipefail, the completion's SIGPIPE would fail the check
  # whenever one option is the prefix of another (--restore, --restore-setid).
  for o in "${opts[@]}"; do
    complete_words "$comp" "$func" "$@" "$o" | grep -xF -- "$o" >/dev/null ||
      problem "completion for '$* $o' does not offer $o"
  done
}

scan_opts=$("$qzscan" --help | help_options)
check_options "$man_dir/qzscan.1" "$comp_dir/qzscan" _qzscan "$scan_opts" qzscan
# The options that qzscan cannot run without must be among those read.
for o in --rules --format -o --quiet; do
  grep -qxF -- "$o" <<<"$scan_opts" || problem "--help parse lost $o"
done

rules_help=$("$qzrules" --help)
mapfile -t subs < <(help_subcommands <<<"$rules_help")
[ "${subs[*]}" = "encrypt decrypt lint dump test" ] || problem "qzrules commands read: ${subs[*]}"
check_options "$man_dir/qzrules.1" "$comp_dir/qzrules" _qzrules \
  "$(help_options <<<"$rules_help")" qzrules
missing=$(missing_from_man "$man_dir/qzrules.1" "${subs[@]}" | paste -sd' ')
[ -z "$missing" ] || problem "qzrules.1 lacks the commands: $missing"
for s in "${subs[@]}"; do
  check_options "$man_dir/qzrules.1" "$comp_dir/qzrules" _qzrules \
    "$("$qzrules" "$s" --help | help_options)" qzrules "$s"
done

# Completion beyond option names: (tool | words, the last being completed,
# "~" for an empty word | the offers, sorted).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/site dir"
touch "$work/site dir/up load.php" "$work/rules one.rules"
while IFS='|' read -r tool words expected; do
  read -ra w <<<"$words"
  w=("${w[@]/#\~/}")
  got=$(complete_words "$comp_dir/$tool" "_$tool" "$tool" "${w[@]}" | sort | paste -sd' ')
  [ "$got" = "$expected" ] || problem "completion of '$tool $words': '$got', expected '$expected'"
done <<EOF
qzscan|--format j|json
qzscan|--format ~|json sarif text
qzscan|--fail-on s|skip suspicious
qzscan|--jobs ~|
qzscan|--no-e|--no-extensions
qzrules|en|encrypt
qzrules|~|decrypt dump encrypt lint test
qzrules|lint --|--enciphered --help --plain
qzrules|test r --malicious x --j|--jobs --json
qzrules|dump --|--help --output
EOF
# File names with spaces stay whole.
got=$(complete_words "$comp_dir/qzscan" _qzscan qzscan --rules "$work/rules")
[ "$got" = "$work/rules one.rules" ] || problem "qzscan --rules file completion: '$got'"
got=$(complete_words "$comp_dir/qzscan" _qzscan qzscan -q "$work/site dir/u")
[ "$got" = "$work/site dir/up load.php" ] || problem "qzscan path completion: '$got'"
got=$(complete_words "$comp_dir/qzrules" _qzrules qzrules test r --benign "$work/s")
[ "$got" = "$work/site dir" ] || problem "qzrules --benign directory completion: '$got'"

# The pages carry the version of the tools.
version=$("$qzscan" --version | sed -n '1s/^qzscan //p')
for page in "$man_dir"/*.1; do
  grep -q "^\.TH .* \"qz-engine $version\"" "$page" || problem "$page is not marked version $version"
done

# The checker catches an option missing from a page.
sed 's/\\-\\-explain/--expl/g' "$man_dir/qzscan.1" >"$work/stripped.1"
[ "$(missing_from_man "$work/stripped.1" --explain --rules)" = "--explain" ] ||
  problem "the man page check does not notice a missing option"

# The pages format without warnings where groff is installed.
if command -v groff >/dev/null; then
  for page in "$man_dir"/*.1; do
    out=$(groff -man -ww -z "$page" 2>&1) || problem "groff failed on $page"
    [ -z "$out" ] || problem "groff warnings on $page: $out"
  done
fi

[ "$fail" -eq 0 ] && echo "doc options test: ok"
exit "$fail"
