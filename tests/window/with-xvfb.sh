#!/usr/bin/env bash
# Runs a command on a private Xvfb display with a window manager (JUCE's windows rely on the
# atoms a window manager creates), both ending with it.
source "$(dirname "${BASH_SOURCE[0]}")/x11-session.sh"
start_x11
"$@"
