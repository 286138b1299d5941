#!/usr/bin/env bash
# The main job: runs the headline example, examples/price_list.js, through the
# script host comscript.  Installs the Debian 12 packages the build needs and
# builds what is missing (as tools/run_tests.sh does), registers the library
# with regsvr when the registry does not know it yet, and runs the example.
#
# The registry is $COMHOST_REGISTRY, else $XDG_DATA_HOME/comhost/registry.db,
# else ~/.local/share/comhost/registry.db.  To unregister:
#   build/linux/regsvr -u build/linux/nuv_ado_helper.so
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake make g++ pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
  libpugixml-dev libsqlite3-dev libffi-dev duktape-dev
)
tools/install_packages.sh "${packages[@]}"

build=build/linux
targets=(comscript nuv_ado_helper regsvr reg)
echo "== Building ${targets[*]} in $build (only what is out of date)"
[ -f "$build/CMakeCache.txt" ] || cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target "${targets[@]}" >/dev/null

registry=${COMHOST_REGISTRY:-${XDG_DATA_HOME:-$HOME/.local/share}/comhost/registry.db}
if "$build/reg" query 'HKCR\Orvane.ADOHelper.1\CLSID' >/dev/null 2>&1; then
  echo "== Orvane.ADOHelper.1 is registered in $registry"
else
  echo "== Registering $build/nuv_ado_helper.so in $registry"
  "$build/regsvr" "$build/nuv_ado_helper.so"
fi

echo "== Running examples/price_list.js"
cd examples
exec ../$build/comscript price_list.js
