#!/bin/sh
# Writes a help2man include file for setuptool-cli: the fixed sections of cli.h2m, and a COMMANDS
# section made of every command's own --help, so that the manual page lists each command's
# options exactly as the program does.
# Usage: cli-commands.sh PROGRAM H2M_FILE > OUTPUT
set -eu
program=$1
cat "$2"
printf '[COMMANDS]\n'
for command in scan set-time set-address; do
    printf '.SS %s\n.nf\n' "$command"
    # Everything after the usage line; backslashes and leading dots must not read as roff.
    "$program" "$command" --help | sed -e '1d' -e '/^Exit status:/,$d' -e 's/\\/\\e/g' -e 's/^\./\\\&./'
    printf '.fi\n'
done
