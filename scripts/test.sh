#!/bin/bash
# Installs what is missing, builds, runs every test; then does the same under
# AddressSanitizer + UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1

status=0
echo "== build (RelWithDebInfo) =="
if bash scripts/build.sh build -DARVEX_BUILD_TESTS=ON; then
  (cd build && ctest --output-on-failure -j 2) || status=1
else
  status=1
fi

echo "== build (ASan + UBSan) =="
if bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DARVEX_SANITIZE=ON -DARVEX_BUILD_TESTS=ON; then
  (cd build-asan && ctest --output-on-failure -j 2) || status=1
else
  status=1
fi

if [ $status -ne 0 ]; then
  echo "test: FAILED (see above)"
fi
exit $status
