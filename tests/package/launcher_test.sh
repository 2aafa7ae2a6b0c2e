#!/usr/bin/env bash
# The installed launcher bin/dbg32: it hands its argument to wine unchanged, blanks and
# quotes included, with the installed dbg32.exe, and returns wine's exit status; where
# 32-bit programs cannot run it prints the probe's paragraph and runs nothing.
#
#   launcher_test.sh WIN32_BUILD_DIR
set -u
win32_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

cmake --install "$win32_dir" --prefix "$work/prefix" >/dev/null || {
    echo "FAIL: cmake --install $win32_dir" >&2
    exit 1
}
launcher=$work/prefix/bin/dbg32
program_dir=$(cd "$work/prefix/lib/dbg32" && pwd -P)

# A wine that records its arguments, one per line of a NUL-separated file, and ends with 3.
mkdir "$work/fake"
cat >"$work/fake/wine" <<FAKE
#!/bin/sh
printf '%s\0' "\$@" >"$work/wine_arguments"
exit 3
FAKE
chmod +x "$work/fake/wine"

# Where 32-bit programs cannot run (forced): the paragraph, a failure status, no wine.
output=$(PATH="$work/fake:$PATH" DBG32_NO_32BIT=1 "$launcher" "x.exe" 2>&1)
status=$?
[ "$status" -ne 0 ] || fail "no failure status without 32-bit support"
grep -q 'cannot run 32-bit x86 programs' <<<"$output" || fail "no paragraph: $output"
[ ! -e "$work/wine_arguments" ] || fail "wine was run without 32-bit support"

# The pass-through, with the probe answering "can": this machine may be either kind.
printf '#!/bin/sh\nexit 0\n' >"$program_dir/check-32bit"
command_line="prog.exe \"a b\" 'c' \\\"d\\\"  e\\\\ "
PATH="$work/fake:$PATH" DBG32_NO_32BIT= "$launcher" "$command_line"
status=$?
[ "$status" -eq 3 ] || fail "exit status $status, not wine's 3"
expected=$(printf '%s\0' "$program_dir/dbg32.exe" "$command_line" | od -c)
received=$(od -c <"$work/wine_arguments" 2>/dev/null)
[ "$received" = "$expected" ] || fail "wine received
$received
instead of
$expected"

[ "$failures" -eq 0 ] && echo "launcher: all checks passed"
exit "$failures"
