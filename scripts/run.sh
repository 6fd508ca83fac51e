#!/bin/bash
# Installs what is missing, builds, and starts arvex-remote on the simulated
# camera, serving on 127.0.0.1 only (a safe demonstration; --listen ADDRESS
# picks a real adapter). With a display it opens the window, without one it
# runs headless. Extra arguments go to arvex-remote.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh build -DARVEX_BUILD_TESTS=OFF

cat <<INFO

Arvex Remote Control on the simulated camera.
  Stop it:      Ctrl-C (or: kill \$(pidof arvex-remote))
  Talk to it:   build/client/arvex-client discover 127.0.0.1
                build/client/arvex-client raw-list 127.0.0.1
                build/client/arvex-client --help

INFO

if [ -n "${DISPLAY:-}" ] && [ "${ARVEX_HEADLESS:-0}" != 1 ]; then
  exec build/app/arvex-remote --listen 127.0.0.1 --log "$@"
else
  exec build/app/arvex-remote --headless --listen 127.0.0.1 --log "$@"
fi
