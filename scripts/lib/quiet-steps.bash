# Sourced by the scripts that run apt-get or dpkg. Their chatter (hundreds
# of lines of unpacking and setting up on a fresh machine, -qq or not) goes
# to a log file; the terminal gets one line per step, and the log's part of
# a step only when that step fails.

# Usage: quiet_step LOG_FILE DESCRIPTION COMMAND [ARG]...
# Prints "scripts/NAME: DESCRIPTION", runs the command with its output appended
# to LOG_FILE and exits with status 1 if it fails.
quiet_step() {
    local log=$1 what=$2 me start
    shift 2
    me="scripts/$(basename "$0")"
    echo "$me: $what" >&2
    start=$(($(stat -c %s "$log" 2>/dev/null || echo 0) + 1))
    if ! "$@" >>"$log" 2>&1 </dev/null; then
        tail -c "+$start" "$log" >&2
        echo "$me: failed: $what (the log is $log)" >&2
        exit 1
    fi
}

# Usage: count_packages NAME... -> "1 package: a" or "3 packages: a b c"
count_packages() {
    if [ $# -eq 1 ]; then echo "1 package: $1"; else echo "$# packages: $*"; fi
}
