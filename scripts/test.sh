#!/bin/bash
# Installs what is missing, builds, runs every test; then does the same under
# AddressSanitizer + UndefinedBehaviorSanitizer; then a short libFuzzer run of
# the server's datagram handling and the thread tests under ThreadSanitizer
# (both clang builds of the targets they need). Exits non-zero on any failure.
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

# Configures DIR and builds only the given targets: build_targets DIR "T1 T2" [cmake options...]
build_targets() {
  local dir="$1" targets="$2"
  shift 2
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j "$(nproc)" --target $targets
}
clang_debug=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug
             "-DCMAKE_C_FLAGS_DEBUG=-g -O1" "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1")

echo "== fuzz smoke (libFuzzer + ASan + UBSan, ${ARVEX_FUZZ_SECONDS:-30} s) =="
if build_targets build-fuzz fuzz_monitor "${clang_debug[@]}" -DARVEX_FUZZ=ON; then
  bash tests/fuzz/run-fuzz.sh build-fuzz "${ARVEX_FUZZ_SECONDS:-30}" 0 2>&1 | tail -n 20 || status=1
else
  status=1
fi

# The server core, the simulator's threads and the owner's calls. Tests whose
# receivers take the monitor's queued signals are left out: Qt hands queued
# events over inside its uninstrumented library, which TSan cannot see
# (docs/robustness.md).
tsan_tests="tst_concurrency tst_tsan_canary tst_soak tst_hostile tst_fuzz_replay tst_monitor_seam
  tst_monitor_simulator test_device_simcamera test_device_simcapture test_device_simrawfiles
  test_device_simmodel test_device_cameradevice"
echo "== ThreadSanitizer =="
if build_targets build-tsan "$tsan_tests" "${clang_debug[@]}" -DARVEX_TSAN=ON; then
  (cd build-tsan && TSAN_OPTIONS="suppressions=$(pwd)/../tests/soak/tsan.supp" \
     ctest --output-on-failure -j 2 -R "^($(echo $tsan_tests | tr ' ' '|'))\$") || status=1
else
  status=1
fi

if [ $status -ne 0 ]; then
  echo "test: FAILED (see above)"
fi
exit $status
