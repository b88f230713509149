#!/usr/bin/env bash
# The install step of scripts/test.sh and scripts/demo.sh, with stand-ins for apt-get, sudo, id,
# dpkg-query and cmake on a PATH of their own: nothing is fetched when nothing is missing, a missing
# package is installed with a wait for the package lock, and where installing is impossible the
# script says what is missing and how to install it, and stops before building.
# Usage: install_step_test.sh <source tree>
set -uo pipefail

root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Only these commands exist for the scripts: no sudo unless a case adds the stand-in.
mkdir -p "$work/sys"
for tool in bash env dirname nproc cat; do
    ln -s "$(command -v "$tool")" "$work/sys/$tool"
done

make_stubs() {
    local stubs="$1"
    mkdir -p "$stubs"
    # apt-get: records its arguments; exits with $STUB_APT_EXIT.
    cat >"$stubs/apt-get" <<'STUB'
#!/bin/bash
echo "$*" >>"$STUB_LOG/apt-get"
exit "${STUB_APT_EXIT:-0}"
STUB
    cat >"$stubs/sudo" <<'STUB'
#!/bin/bash
echo "$*" >>"$STUB_LOG/sudo"
exec "$@"
STUB
    # cmake: the build starts here; recorded, then the script is stopped.
    cat >"$stubs/cmake" <<'STUB'
#!/bin/bash
echo "$*" >>"$STUB_LOG/cmake"
exit 97
STUB
    cat >"$stubs/id" <<'STUB'
#!/bin/bash
echo "${STUB_UID:-0}"
STUB
    # dpkg-query: every package installed except those in $STUB_MISSING (and a name only provided
    # by another package, which dpkg never reports as installed).
    cat >"$stubs/dpkg-query" <<'STUB'
#!/bin/bash
name="${!#}"
case " $STUB_MISSING libqt6serialport6-dev " in
*" $name "*) echo "dpkg-query: no packages found matching $name" >&2; exit 1 ;;
esac
printf 'install ok installed'
STUB
    chmod +x "$stubs"/*
}

# run_case <name> <script> <with sudo: 0/1> [VAR=value...]: runs the script; leaves its output in
# $work/<name>/out and the stand-ins' records in $work/<name>/log.
run_case() {
    local name="$1" script="$2" with_sudo="$3"
    shift 3
    local dir="$work/$name"
    mkdir -p "$dir/log"
    make_stubs "$dir/stubs"
    [ "$with_sudo" = 1 ] || rm "$dir/stubs/sudo"
    env -i HOME="$dir" PATH="$dir/stubs:$work/sys" STUB_LOG="$dir/log" STUB_MISSING="" "$@" \
        bash "$root/scripts/$script" >"$dir/out" 2>&1
    echo $? >"$dir/status"
}

expect_no_apt() {
    [ ! -e "$work/$1/log/apt-get" ] || fail "$1: apt-get was called: $(cat "$work/$1/log/apt-get")"
}
expect_built() {
    [ -e "$work/$1/log/cmake" ] || fail "$1: the build did not start: $(cat "$work/$1/out")"
}
expect_stopped() {
    [ ! -e "$work/$1/log/cmake" ] || fail "$1: the build started"
    [ "$(cat "$work/$1/status")" = 1 ] || fail "$1: exit status $(cat "$work/$1/status"), expected 1"
    grep -q "Missing Debian packages: $2\$" "$work/$1/out" || fail "$1: the missing package is not named: $(cat "$work/$1/out")"
    grep -q "apt-get install --no-install-recommends $2\$" "$work/$1/out" ||
        fail "$1: no install command is shown: $(cat "$work/$1/out")"
}

# Everything present: neither script calls apt-get, as root or not.
for script in test.sh demo.sh; do
    run_case "present-$script" "$script" 1
    expect_no_apt "present-$script"
    expect_built "present-$script"
    run_case "present-user-$script" "$script" 0 STUB_UID=1000
    expect_no_apt "present-user-$script"
    expect_built "present-user-$script"
done

# One package missing, as root: the lists are updated and only that package is installed, each
# apt-get call waiting for the package lock.
run_case missing-root test.sh 0 STUB_MISSING=xauth NX7_APT_LOCK_TIMEOUT=42
expect_built missing-root
if [ "$(cat "$work/missing-root/log/apt-get" 2>/dev/null)" != "-o DPkg::Lock::Timeout=42 update -qq
-o DPkg::Lock::Timeout=42 install -y -qq --no-install-recommends xauth" ]; then
    fail "missing-root: apt-get calls: $(cat "$work/missing-root/log/apt-get" 2>/dev/null)"
fi

# Not root: through sudo.
run_case missing-sudo demo.sh 1 STUB_MISSING=xauth STUB_UID=1000
expect_built missing-sudo
grep -q "apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends xauth" \
    "$work/missing-sudo/log/sudo" 2>/dev/null || fail "missing-sudo: not installed through sudo"

# Installing impossible: not root and no sudo; no network (the update fails); the install fails.
run_case no-sudo test.sh 0 STUB_MISSING="xauth file" STUB_UID=1000
expect_no_apt no-sudo
expect_stopped no-sudo "xauth file"
run_case offline demo.sh 0 STUB_MISSING=xauth STUB_APT_EXIT=100
expect_stopped offline xauth
grep -q "could not be updated" "$work/offline/out" || fail "offline: the reason is not given"

# The real package database, where there is one and the set-up has run: every listed name is one
# that dpkg reports as installed.
if command -v dpkg-query >/dev/null 2>&1 && [ "${NX7_CHECK_INSTALLED:-1}" = 1 ]; then
    missing="$(bash -c "source '$root/scripts/lib.sh' && nx7_missing_packages")"
    [ -z "$missing" ] || fail "listed but not installed here: $missing"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "install step: all cases passed"
