# Shared by the test and run commands: package installs and the builds.

# Installs the named Debian packages that are missing (needs root on a fresh machine).
ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages and not root: ${missing[*]}" >&2
    return 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Creates the Wine prefix once and keeps one wineserver alive, so each run costs ~0.2 s.
ensure_wine() {
  export WINEDEBUG=-all
  [ -d "${WINEPREFIX:-$HOME/.wine}/drive_c" ] || wineboot -i >/dev/null 2>&1
  wineserver -p >/dev/null 2>&1 || true
}

# Linux (developer), Linux with AddressSanitizer and UBSan, and Windows cross builds.
build_all() {
  cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPL_TESTS=ON >/dev/null &&
  cmake --build build/linux -j2 &&
  cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DPL_SANITIZE=address,undefined -DPL_TESTS=ON >/dev/null &&
  cmake --build build/asan -j2 &&
  cmake -S . -B build/win -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null &&
  cmake --build build/win -j2
}

# node may come from elsewhere with its own npm; Debian's npm would clash with it.
ensure_npm() {
  command -v npm >/dev/null || ensure_packages nodejs npm
}
