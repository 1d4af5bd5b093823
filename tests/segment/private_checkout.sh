#!/usr/bin/env bash
# A new user's checkout often lies where other users cannot enter: under /root, or in a folder
# made by `mktemp -d` (both mode 0700), and its path may hold spaces. The segment self-test once
# failed there because it ran vsegment as a normal user straight from the checkout. This
# puts the self-test and vsegment, as they are in this tree, into such a place and runs the
# self-test's refusal checks from there.
#
# Prints the checks and "N passed, M failed"; exits 77 with a SKIP line when not run as root.
set -u

here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: needs root, to run a check as a normal user"
    exit 77
fi

private=$(mktemp -d)
trap 'rm -rf "$private"' EXIT
if [ "$(stat -c %a "$private")" != 700 ]; then
    echo "FAIL - $private is not private (mode $(stat -c %a "$private"))"
    exit 1
fi

checkout="$private/a checkout"
mkdir -p "$checkout/tests/segment"
cp -p "$here/vsegment" "$here/vsegment_selftest.sh" "$checkout/tests/segment/"

bash "$checkout/tests/segment/vsegment_selftest.sh" --refusals
