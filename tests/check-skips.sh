#!/usr/bin/env bash
# Lists every skip in a CTest log (Testing/Temporary/LastTest.log) with the
# reason its test printed, and fails when one is not in tests/skips-allowed.txt.
set -euo pipefail
log=$1
allowed=$(dirname "$0")/skips-allowed.txt
status=0
while IFS= read -r skip; do
    if grep -qxF -- "$skip" "$allowed"; then
        echo "== skipped, as allowed: $skip" >&2
    else
        echo "== skipped without an accepted reason: $skip" >&2
        status=1
    fi
done < <(sed -n 's/^SKIP   : //p' "$log")
exit "$status"
