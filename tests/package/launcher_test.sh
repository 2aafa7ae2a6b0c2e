#!/usr/bin/env bash
# The installed launcher bin/dbg32: it hands its argument to wine unchanged, blanks and
# quotes included, with the installed dbg32.exe, and returns wine's exit status; where
# 32-bit programs cannot run it tells the user what to do and runs nothing. Then the
# release checks on the same build: the Debian package's contents and lintian, the
# comparison of two builds of it, the notices against the link maps, and the DLLs that
# dbg32.exe imports.
#
#   launcher_test.sh WIN32_BUILD_DIR
set -u
win32_dir=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
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

# Where 32-bit programs cannot run (forced): what the user can do, nothing about building
# or testing, status 126, no wine.
output=$(PATH="$work/fake:$PATH" DBG32_NO_32BIT=1 "$launcher" "x.exe" 2>&1)
status=$?
[ "$status" -eq 126 ] || fail "exit status $status without 32-bit support, not 126"
for words in 'cannot run 32-bit x86 programs' 'ia32_emulation=on' 'another machine'; do
    grep -q "$words" <<<"$output" || fail "no \"$words\" in: $output"
done
! grep -qiwE 'builds?|tests?|make|cross-compiled' <<<"$output" || fail "speaks of building: $output"
[ ! -e "$work/wine_arguments" ] || fail "wine was run without 32-bit support"

# The texts for Linux users, with Unix line ends.
for text in share/doc/dbg32/README share/doc/dbg32/copyright; do
    [ -s "$work/prefix/$text" ] || fail "no $text installed"
    ! grep -q $'\r' "$work/prefix/$text" || fail "$text has CR LF line ends"
done

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

# The Debian package: its files, lintian's verdict, and a second build of it, with another
# umask and time zone, staged on another file system (tmpfs where /dev/shm is one; the first
# in the build tree), found the same by the comparison that make dist makes.
deb=$(TMPDIR=$win32_dir "$top/scripts/make-deb" "$win32_dir" "$work/deb1")
listed=$(dpkg-deb -c "$deb" | awk '{print $1, $NF}')
for entry in '-rwxr-xr-x ./usr/bin/dbg32' '-rw-r--r-- ./usr/lib/dbg32/dbg32.exe' \
    '-rw-r--r-- ./usr/lib/dbg32/disasm.dll' '-rwxr-xr-x ./usr/lib/dbg32/check-32bit' \
    '-rw-r--r-- ./usr/share/doc/dbg32/README' '-rw-r--r-- ./usr/share/doc/dbg32/changelog.gz' \
    '-rw-r--r-- ./usr/share/doc/dbg32/copyright' '-rw-r--r-- ./usr/share/man/man1/dbg32.1.gz'; do
    grep -qxF -- "$entry" <<<"$listed" || fail "the package lacks $entry"
done
[ "$(dpkg-deb -f "$deb" Architecture)" = all ] || fail "the package is not architecture all"
# Its changelog's times, which come from CHANGELOG.md alone, strictly decrease from the newest
# entry, also where versions share a day (1.1.0 and 1.0.0 do).
times=$("$top/scripts/debian-changelog" "$top/CHANGELOG.md" "x <x@example.org>" |
    sed -n 's/^ -- .*>  //p' | while IFS= read -r time; do date -u -d "$time" +%s; done)
[ "$(sort -rnu <<<"$times")" = "$times" ] || fail "the changelog's times do not decrease: $times"
lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
other_fs=$work
[ -d /dev/shm ] && [ -w /dev/shm ] && other_fs=/dev/shm
(umask 077 && TZ=Asia/Tokyo TMPDIR=$other_fs "$top/scripts/make-deb" "$win32_dir" "$work/deb2" >/dev/null)
name=${deb##*/}
"$top/scripts/compare-packages" "$work/deb1" "$work/deb2" "$name" || fail "the package differs"
(cd "$work/deb1" && sha256sum --quiet -c SHA256SUMS) || fail "no SHA256SUMS for $name"
printf 'other bytes' >>"$work/deb2/$name"
"$top/scripts/compare-packages" "$work/deb1" "$work/deb2" "$name" 2>/dev/null &&
    fail "two different packages compared the same"
[ ! -e "$work/deb1/SHA256SUMS" ] || fail "SHA256SUMS written for differing packages"

# dbg32.exe starts with KERNEL32 and msvcrt alone: user32, were it imported, would connect
# every start to a desktop; dbg32 loads it at "exit" only.
imports=$(i686-w64-mingw32-objdump -p "$win32_dir/dbg32.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    LC_ALL=C sort -u | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "dbg32.exe imports: $imports"

# The notices cover the archives in the link maps, and miss one that a map adds; a map
# that is missing or names nothing proves nothing and fails.
maps=("$win32_dir/maps/dbg32.map" "$win32_dir/maps/disasm.map")
"$top/scripts/check-notices" "$top/THIRD-PARTY-NOTICES.txt" "${maps[@]}" || fail "notices incomplete"
for map in "$work/no.map" /dev/null; do
    "$top/scripts/check-notices" "$top/THIRD-PARTY-NOTICES.txt" "${maps[0]}" "$map" 2>/dev/null &&
        fail "the notices check passed with the map $map"
done
{ cat "${maps[0]}"; echo "/usr/lib/libextra.a(extra.o)"; } >"$work/extra.map"
output=$("$top/scripts/check-notices" "$top/THIRD-PARTY-NOTICES.txt" "$work/extra.map" 2>&1) &&
    fail "an uncovered archive passed the notices check"
grep -q 'libextra.a' <<<"$output" || fail "the uncovered archive is not named: $output"

[ "$failures" -eq 0 ] && echo "launcher: all checks passed"
exit "$failures"
