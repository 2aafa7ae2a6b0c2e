#!/bin/sh
# dbg32 for Linux with Wine: runs the installed dbg32.exe under Wine with its one argument,
# the debuggee's command line, passed on exactly as given. The exit status is dbg32's;
# 126 where this machine cannot run 32-bit programs, 127 without Wine.
#
#   dbg32 "program.exe arguments"

# The Windows programs are installed in ../lib/dbg32 beside this script's folder.
here=$(dirname "$(readlink -f "$0")")
program_dir=$(cd "$here/../lib/dbg32" && pwd -P) || exit 127

# Wine, and so dbg32.exe, cannot run where the kernel refuses 32-bit programs; the probe
# says so and what the user can do.
"$program_dir/check-32bit" --for user || exit 126

if ! command -v wine >/dev/null 2>&1; then
    echo "dbg32: wine is not installed (on Debian or Ubuntu: wine and wine32:i386)" >&2
    exit 127
fi

# Wine's own diagnostics would mix with the debugger's output, unless asked for.
WINEDEBUG=${WINEDEBUG:--all}
export WINEDEBUG
exec wine "$program_dir/dbg32.exe" "$@"
