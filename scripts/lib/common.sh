# Shared by the project's scripts: package checks and the build folder.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"

say() { printf '%s\n' "$*" >&2; }

# Installs with apt-get only the Debian packages that are missing.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  say "installing missing packages: ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
  "${sudo[@]}" apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# What building and testing the project needs.
BUILD_PACKAGES=(cmake g++ make pkg-config libgtest-dev libjpeg-dev)

# Configures (once) and builds the tree in $1 with the remaining arguments
# passed to CMake's configure step.
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
