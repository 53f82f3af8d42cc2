#!/usr/bin/env bash
# The Debian package as a user gets it: installed with dpkg -i, used by two
# users (root and an unprivileged one), the window started on a virtual X
# server until it shows, crash recovery in the per-user directory, then
# removed with dpkg -r. Run as root (CI does), after scripts/package.sh.
# Usage: tests/packaging/installed_package_test.sh dist/kqm-indexer_VERSION_ARCH.deb
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 PACKAGE.deb (one package)" >&2; exit 2; }
deb=$(realpath "$1")
[ "$(id -u)" -eq 0 ] || { echo "run as root: it installs a package" >&2; exit 2; }

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends x11-utils xvfb \
    xauth bash-completion man-db >/dev/null

work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
    pkill -9 -x kqm-indexer 2>/dev/null || true
    dpkg -r kqm-indexer >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "--- $*"; }

step "dpkg -i"
dpkg -i "$deb" >/dev/null
bin_before=$(ls /usr/bin | sort)
[ -x /usr/bin/kqmctl ] && [ -x /usr/bin/kqm-indexer ] || fail "programs not installed"
man -w kqmctl >/dev/null && man -w kqm-indexer >/dev/null || fail "manual pages not found by man"

step "bash completion"
# What a user gets on pressing Tab: bash-completion loads the installed file.
completed=$(bash -c '
    source /usr/share/bash-completion/bash_completion
    _completion_loader kqmctl
    COMP_LINE="kqmctl send prog.mdb --p"; COMP_POINT=${#COMP_LINE}
    COMP_WORDS=(kqmctl send prog.mdb --p); COMP_CWORD=3
    _kqmctl kqmctl --p prog.mdb; echo "${COMPREPLY[*]}"')
[ "$completed" = "--pace --port" ] || fail "completion of kqmctl send --p gave: $completed"
# After edit FILE add, and after insert N or change N: the command kinds.
for line in "edit prog.mdb add w" "edit prog.mdb insert 2 w" "edit prog.mdb change 1 w"; do
    completed=$(LINE="$line" bash -c '
        source /usr/share/bash-completion/bash_completion
        _completion_loader kqmctl
        read -ra words <<<"kqmctl $LINE"
        COMP_LINE="kqmctl $LINE"; COMP_POINT=${#COMP_LINE}
        COMP_WORDS=("${words[@]}"); COMP_CWORD=$((${#words[@]} - 1))
        _kqmctl kqmctl w "${words[-2]}"; echo "${COMPREPLY[*]}"')
    [ "$completed" = "wait" ] || fail "completion of kqmctl $line gave: $completed"
done

step "kqmctl --version, list"
/usr/bin/kqmctl --version | grep -q '^kqmctl ' || fail "kqmctl --version"
printf 'KQM program text 1\nA100 ; ramp\nN500 @0G\nQ\n' >"$work/demo.txt"
/usr/bin/kqmctl import "$work/demo.txt" -o "$work/demo.mdb"
listing=$(/usr/bin/kqmctl list "$work/demo.mdb")
echo "$listing"
grep -q 'ramp' <<<"$listing" || fail "kqmctl list does not show the program"
# An Access program file of the older kind, through the installed libmdb.
legacy="$(dirname "$0")/../files/legacy/jet4-program.mdb"
/usr/bin/kqmctl convert "$legacy" "$work/converted.mdb" >/dev/null
/usr/bin/kqmctl list "$work/converted.mdb" | grep -q 'Zuführung' ||
    fail "the converted Access program lacks its comments"

# USER HOME LOG PATTERN [COPY]: runs the window as USER with that HOME on a
# virtual X server, waits until a window whose name matches PATTERN is mapped
# (the main window, or a message box at start), and kills it as a crash
# would. With COPY, kqmctl (as that user) first writes a line into that
# working copy, as an edit in the window would.
data_dir() { echo "$1/.local/share/Quorvex Motion/kqm-indexer"; }
as_user() {
    local user=$1 home=$2
    shift 2
    if [ "$user" = root ]; then
        env -u XDG_DATA_HOME -u XDG_RUNTIME_DIR HOME="$home" "$@"
    else
        setpriv --reuid="$user" --regid="$user" --clear-groups \
            env -u XDG_DATA_HOME -u XDG_RUNTIME_DIR HOME="$home" "$@"
    fi
}
main_window='QUORVEX MOTION - KQM20/KQM21 WIN Programmable Indexer'
message_box='"KQM20/KQM21 Programmable Indexer":'
start_window_until_shown() {
    local user=$1 home=$2 log=$3 pattern=$4 copy=${5:-}
    as_user "$user" "$home" xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
        kqm-indexer >"$1" 2>&1 &
        pid=$!
        for _ in $(seq 1 150); do
            for id in $(xwininfo -root -tree 2>/dev/null | grep -F -- "$2" | awk "{print \$1}"); do
                if xwininfo -id "$id" | grep -q IsViewable; then
                    echo shown
                    [ -n "$3" ] && kqmctl edit "$3" add quit --comment "typed before the crash" >/dev/null
                    kill -9 $pid
                    exit 0
                fi
            done
            kill -0 $pid 2>/dev/null || { echo "kqm-indexer ended"; exit 1; }
            sleep 0.2
        done
        echo "no window"; kill -9 $pid; exit 1' _ "$log" "$pattern" "$copy"
}

step "two users, each with a directory of their own"
mkdir -p "$work/home-root" "$work/home-nobody" "$work/logs"
chown 65534:65534 "$work/home-nobody"
chmod 1777 "$work/logs"
for user in root 65534; do
    home=$work/home-root
    [ "$user" = root ] || home=$work/home-nobody
    result=$(start_window_until_shown "$user" "$home" "$work/logs/window-$user.log" "$main_window") ||
        { cat "$work/logs/window-$user.log" || true; fail "the window did not show for user $user: $result"; }
    [ "$result" = shown ] || fail "the window did not show for user $user"
    dir=$(data_dir "$home")
    for file in config.kqm blank.kqm temp.mdb; do
        [ -f "$dir/$file" ] || fail "$dir/$file was not made for user $user"
    done
    [ "$(stat -c %u "$dir/temp.mdb")" = "$( [ "$user" = root ] && echo 0 || echo 65534)" ] ||
        fail "the working copy of user $user is not their own"
done
[ "$(ls /usr/bin | sort)" = "$bin_before" ] || fail "files were written into /usr/bin"
[ -z "$(ls /usr/share/kqm-indexer | grep -v '^blank.kqm$')" ] ||
    fail "files were written into /usr/share/kqm-indexer"

step "crash recovery in the per-user directory"
home=$work/home-nobody
copy="$(data_dir "$home")/temp.mdb"
# The first start above ended in a kill: this one says the program was
# recovered; the line is written while it asks, and it is killed again.
start_window_until_shown 65534 "$home" "$work/logs/window-crash.log" "$message_box" "$copy" >/dev/null ||
    { cat "$work/logs/window-crash.log" || true; fail "the window did not show for the crash"; }
as_user 65534 "$home" kqmctl list "$copy" | grep -q "typed before the crash" ||
    fail "the line was not written"
# The next start keeps the working copy and says so in a message box before
# the main window shows.
start_window_until_shown 65534 "$home" "$work/logs/window-recovered.log" "$message_box" >/dev/null ||
    { cat "$work/logs/window-recovered.log" || true; fail "the window did not show after the crash"; }
as_user 65534 "$home" kqmctl list "$copy" | grep -q "typed before the crash" ||
    fail "the working copy was not recovered"
roots=$(as_user root "$work/home-root" kqmctl list "$(data_dir "$work/home-root")/temp.mdb") ||
    fail "root's working copy could not be listed"
grep -q "typed before the crash" <<<"$roots" && fail "the two users share a working copy"

step "dpkg -r"
dpkg -r kqm-indexer >/dev/null
[ ! -e /usr/bin/kqmctl ] && [ ! -e /usr/bin/kqm-indexer ] || fail "dpkg -r left the programs"
[ ! -e /usr/share/kqm-indexer ] || fail "dpkg -r left /usr/share/kqm-indexer"
echo "installed package: all checks passed"
