#!/usr/bin/env bash
# Runs one Windows program under Wine in a private prefix: the cross build's test emulator.
# Usage: wine-run.sh <template prefix> <program.exe> [arguments...]
export HL73_WINE_TEMPLATE=$1
shift
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
trap wine_cleanup EXIT
wine_start_session
status=0
wine "$@" || status=$?
exit "$status"
