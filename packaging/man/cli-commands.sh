#!/bin/sh
# Writes a help2man include file for setuptool-cli: the fixed sections of cli.h2m, and a COMMANDS
# section made of the --help of every command the overview lists, so that the manual page lists
# each command's options exactly as the program does.
# Usage: cli-commands.sh PROGRAM H2M_FILE > OUTPUT
set -eu
program=$1
cat "$2"
printf '[COMMANDS]\n'
# The commands are those the program's own overview lists, so that a new one needs no edit here.
commands=$("$program" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' | grep -vx help)
for command in $commands; do
    printf '.SS %s\n.nf\n' "$command"
    # Everything after the usage line; backslashes and leading dots must not read as roff.
    "$program" "$command" --help | sed -e '1d' -e '/^Exit status:/,$d' -e 's/\\/\\e/g' -e 's/^\./\\\&./'
    printf '.fi\n'
done
