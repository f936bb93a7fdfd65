# Shared by the commands that build: the packages, then the cross-build's configuration.
# Source it; it defines functions only.

# configure_build BUILD [--run]: installs what is missing (--run: also what the run
# command needs) and configures BUILD for the 32-bit Windows cross-build.
configure_build() {
  local build=$1 top
  shift
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  "$top/scripts/install-deps.sh" "$@"
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
}
