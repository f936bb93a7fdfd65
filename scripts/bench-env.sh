# Shared by the benchmarks: the build and the shared code of the other commands.
# Source it after setting `build`; it defines one function.
source "$(dirname "${BASH_SOURCE[0]}")/build-env.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# prepare_benchmark TARGET: builds the benchmark program TARGET and makes the 64-bit test
# prefix when it is missing; sets WINEPREFIX to it.
prepare_benchmark() {
  configure_build "$build"
  cmake --build "$build" --target "$1" -j"$(nproc)" >/dev/null
  export WINEPREFIX=$build/wine-win64
  make_test_prefix "$WINEPREFIX" win64
}
