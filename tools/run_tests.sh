#!/usr/bin/env bash
# Installs what the build needs (Debian 12), builds the Linux shared object and
# the 32-bit Windows DLL, runs every test (also under ASan+UBSan) and checks
# the DLL's exports, imports, resources and type library, runs the README's
# client recipe and runs every libFuzzer target for a short time.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake make g++ pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
  libpugixml-dev libsqlite3-dev libffi-dev duktape-dev
  clang libclang-rt-14-dev
)
tools/install_packages.sh "${packages[@]}"

jobs=$(nproc)
for preset in linux linux-asan win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
ctest --preset linux -j "$jobs"
ctest --preset linux-asan -j "$jobs"
# The concurrency tests once more under ThreadSanitizer.
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan -j "$jobs" --target test_server
ctest --preset linux-tsan
tools/check_dll.sh build/win32/nuv_ado_helper.dll build/linux/nuv_ado_helper.so
tools/check_readme_recipe.sh
tools/run_fuzzers.sh
echo "all tests passed"
