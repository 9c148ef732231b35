# shellcheck shell=bash
# What the scripts share: where the repository is, how Wine is run, a timer, and
# the checks every script makes on its arguments and tools. Sourced, never run:
#
#   source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"     (from scripts/)
#
# A script sets `usage` (its usage line, without "usage: ") before it calls
# usage_error or parse_help.

# The repository root, wherever the script was started from.
REPO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# The script's name as a user types it, for messages.
script_name() { basename "$0"; }

# Prints the message after the script's name and ends the script with 1.
fail() {
    echo "$(script_name): $*" >&2
    exit 1
}

# Prints the usage line and ends the script with 2: the exit code of every
# script for an unknown option, a missing argument or one that is not a number.
usage_error() {
    [[ $# -eq 0 ]] || echo "$(script_name): $*" >&2
    echo "usage: ${usage:?}" >&2
    exit 2
}

# Prints the usage line on stdout and ends with 0 when the first argument asks
# for help; refuses any other word that starts with a dash. For scripts that
# take no options of their own.
parse_help() {
    case "${1:-}" in
        -h | --help) echo "usage: ${usage:?}"; exit 0 ;;
        -*) usage_error "unknown option: $1" ;;
    esac
}

# Checks that $2 is a whole number of at least $3 (default 0); $1 names it.
require_number() {
    local name=$1 value=$2 least=${3:-0}
    # Nine digits at most: the shell's arithmetic must not overflow on it.
    [[ "$value" =~ ^[0-9]{1,9}$ ]] || usage_error "$name is not a whole number below 10^9: '$value'"
    ((10#$value >= least)) || usage_error "$name must be at least $least: $value"
}

# The Debian package that brings a tool.
package_of_tool() {
    case "$1" in
        x86_64-w64-mingw32-*-posix) echo "g++-mingw-w64-x86-64-posix" ;;
        x86_64-w64-mingw32-*) echo "binutils-mingw-w64-x86-64" ;;
        wine | wineboot | wineserver) echo "wine" ;;
        ninja) echo "ninja-build" ;;
        flock | setarch) echo "util-linux" ;;
        clang-14 | clang++-14) echo "clang-14" ;;
        *) echo "$1" ;;  # cmake, wixl, cppcheck, clang-tidy-14, openssl, osslsigncode, python3
    esac
}

# Ends the script with 1, naming every tool that is missing and its package.
require_tools() {
    local tool missing=0
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 && continue
        echo "$(script_name): $tool is missing: install the Debian package" \
             "$(package_of_tool "$tool") (scripts/setup-debian installs them all)" >&2
        missing=1
    done
    ((missing == 0)) || exit 1
}

# The signing key, as scripts/sign and scripts/publish take it: ends the script with 1 unless
# REMOTEUPDATER_SIGN_PKCS12 names a PKCS#12 file.
require_signing_key() {
    local problem=""
    if [[ -z "${REMOTEUPDATER_SIGN_PKCS12:-}" ]]; then
        problem="REMOTEUPDATER_SIGN_PKCS12 is not set: name the PKCS#12 file with the key and certificate"
    elif [[ ! -f "$REMOTEUPDATER_SIGN_PKCS12" ]]; then
        problem="REMOTEUPDATER_SIGN_PKCS12 names no file: $REMOTEUPDATER_SIGN_PKCS12"
    fi
    [[ -z "$problem" ]] || fail "$problem"
}

# Sets `password` to the signing key's password, read from REMOTEUPDATER_SIGN_PASSWORD (which
# is then removed from the environment, so that no program started later inherits it), from
# the first line of the file named by REMOTEUPDATER_SIGN_PASSWORD_FILE, or from a prompt on the
# terminal; ends the script with 1 when none is there. The caller hands it to its tools through
# a pipe, never on a command line.
# shellcheck disable=SC2034  # the caller reads it
read_signing_password() {
    password=""
    if [[ -v REMOTEUPDATER_SIGN_PASSWORD ]]; then
        password=$REMOTEUPDATER_SIGN_PASSWORD
        unset REMOTEUPDATER_SIGN_PASSWORD
    elif [[ -n "${REMOTEUPDATER_SIGN_PASSWORD_FILE:-}" ]]; then
        if [[ ! -r "$REMOTEUPDATER_SIGN_PASSWORD_FILE" ]]; then
            echo "$(script_name): REMOTEUPDATER_SIGN_PASSWORD_FILE names no readable file:" \
                 "$REMOTEUPDATER_SIGN_PASSWORD_FILE" >&2
            exit 1
        fi
        IFS= read -r password <"$REMOTEUPDATER_SIGN_PASSWORD_FILE" || true
    elif [[ -t 0 ]]; then
        IFS= read -rs -p "Password of $REMOTEUPDATER_SIGN_PKCS12: " password
        echo >&2
    else
        echo "$(script_name): no password: set REMOTEUPDATER_SIGN_PASSWORD or" \
             "REMOTEUPDATER_SIGN_PASSWORD_FILE, or run from a terminal to be asked (empty if" \
             "the file has none)" >&2
        exit 1
    fi
}

# The text of the constant $1 of the updater's contract, read from its header.
contract_text() { python3 "$REPO_ROOT/scripts/lib/updater_contract.py" "$1"; }

# Where the road's files are in the running Wine prefix, as the service finds them: asks the
# sample's driver in build folder $1 and writes its incoming=, staging= and service-log= lines
# to file $2 (through a file: a Wine program's output must never go to a pipe).
road_paths() {
    wine "$1/sample-apply-update.exe" --where </dev/null >"$2" 2>&1 && sed -i 's/\r$//' "$2"
}
# The path named $2 (incoming, staging, service-log) in a file that road_paths wrote, $1.
road_path() { sed -n "s/^$2=//p" "$1"; }
# The Unix path, in prefix $1, of the Windows path $2 on drive C:.
unix_path_in() {
    local path=${2#[Cc]:\\}
    echo "$1/drive_c/${path//\\//}"
}

# Milliseconds since the epoch, and the seconds since such a moment with one decimal.
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
seconds_since() { LC_NUMERIC=C printf '%.1f' "$(( $(now_ms) - $1 ))e-3"; }

# Sets the environment of every Wine run in prefix $1: 64-bit, quiet, without the
# .NET and HTML engines (their installers would stall a fresh prefix), and without
# a display, so that the prefix's null graphics driver is used.
wine_environment() {
    export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
}

# Runs the calling script again with the kernel's address randomization off, unless it
# already is; every program it starts, Wine's own included, inherits that. Call it first,
# with the script's arguments. Wine 8.0 maps Windows' shared user data at the fixed address
# 0x7ffe0000, 48 MB above its loader, and recent kernels start a 64-bit program's heap
# anywhere in the 1 GB above the program: about one Wine process in 4,000 finds its heap
# there and ends before it starts (see docs/wine.md). Without randomization the heap starts
# right above the loader.
fixed_address_layout() {
    local addr_no_randomize=0x0040000
    (( 0x$(</proc/self/personality) & addr_no_randomize )) && return
    require_tools setarch
    exec setarch --addr-no-randomize "$BASH" "$0" "$@"
}

# The state of the service named $1 in the current prefix (RUNNING, STOPPED, ...). A query
# that fails (nothing there yet) reads as empty: under pipefail it would end the script.
service_state() {
    { wine sc query "$1" 2>/dev/null || true; } | tr -d '\r' | awk '$1 == "STATE" { print $4 }'
}

# Waits up to 10 s for the service named $1 to be in state $2; true when it is.
service_reaches() {
    for _ in $(seq 1 100); do
        [[ "$(service_state "$1")" == "$2" ]] && return 0
        sleep 0.1
    done
    return 1
}

# Ends the Wine server of the current prefix, and everything it runs, and waits
# until it is gone. Quiet and harmless when none runs.
stop_wine_server() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

# Makes the template prefix $1 unless it is complete, under a lock: tests started
# side by side and the demo all make it on first use. Its output goes to $2
# (default: discarded) and is shown when it fails.
make_wine_template() {
    local template=$1 log=${2:-/dev/null}
    mkdir -p "$(dirname "$template")"
    if ! flock "$template.lock" "$REPO_ROOT/scripts/wine-prefix-template" "$template" \
            >"$log" 2>&1; then
        [[ "$log" == /dev/null ]] || cat "$log" >&2
        echo "$(script_name): making the Wine prefix template $template failed" >&2
        return 1
    fi
}
