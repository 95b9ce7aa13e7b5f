#!/usr/bin/env bash
# Runs a command with a /var/tmp of its own. The program keeps its single-instance lock there, so
# tests that start the real program neither take turns nor meet another test run's program.
# Root and ordinary users alike may make the user and mount namespaces this needs.
set -euo pipefail
if [ "${HL73_PRIVATE_VAR_TMP:-}" != 1 ]; then
    exec unshare --user --map-root-user --mount --propagation private \
        env HL73_PRIVATE_VAR_TMP=1 "$0" "$@"
fi
mount -t tmpfs -o mode=1777 tmpfs /var/tmp
exec "$@"
