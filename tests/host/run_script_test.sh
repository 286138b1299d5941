#!/usr/bin/env bash
# Runs comscript with the server library registered in a registry of its own
# and compares the exit status, standard output and standard error with
# expected values ("-" for an output: not compared).
#
#   run_script_test.sh STATUS OUT_FILE ERR_FILE [--copy-host] COMSCRIPT_ARGS...
#
# Environment: COMSCRIPT, REGSVR, LIBRARY (the server library), WORKDIR (where
# the script runs).  --copy-host runs a copy of comscript from another
# directory, so that the library, registered by its bare file name, is found
# only through COMHOST_PATH.
set -u
status=$1 out=$2 err=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export COMHOST_REGISTRY=$tmp/registry.db
unset COMHOST_PATH
"$REGSVR" -s "$LIBRARY" || { echo "regsvr failed: $?"; exit 1; }
host=$COMSCRIPT
if [ "${1:-}" = "--copy-host" ]; then
    shift
    mkdir "$tmp/bin"
    cp "$COMSCRIPT" "$tmp/bin/comscript"
    host=$tmp/bin/comscript
    export COMHOST_PATH=$tmp/nothing-here:$(dirname "$LIBRARY")
fi
cd "$WORKDIR" || exit 1
"$host" "$@" >"$tmp/out" 2>"$tmp/err"
actual=$?
failed=0
if [ "$actual" != "$status" ]; then
    echo "exit status $actual, expected $status"
    failed=1
fi
if [ "$out" != "-" ] && ! diff -u "$out" "$tmp/out"; then
    echo "standard output differs from $out"
    failed=1
fi
if [ "$err" != "-" ] && ! diff -u "$err" "$tmp/err"; then
    echo "standard error differs from $err"
    failed=1
fi
if [ "$failed" = 1 ]; then
    echo "--- stderr:"
    cat "$tmp/err"
fi
exit $failed
