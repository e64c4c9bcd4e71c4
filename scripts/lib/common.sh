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

# What building the programs needs; the tests add theirs (GoogleTest,
# the manual checkers, FUSE, mido, GNU parallel and time), fuzzing and
# the sanitizer suite clang.
PROGRAM_PACKAGES=(cmake g++ make pkg-config libjpeg-dev libsndfile1-dev libasound2-dev)
TEST_PACKAGES=(libgtest-dev groff-base mandoc fuse3 libfuse3-dev python3-mido parallel time)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# The sanitizer tree: clang at -O1 with the address and undefined-
# behaviour sanitizers and libFuzzer's coverage, built once for both the
# test suite under the sanitizers and the fuzz targets. A unity build
# (several sources compiled as one) halves the compile time on two cores.
SANITIZE_BUILD="${SANITIZE_BUILD:-$ROOT/build-sanitize}"
configure_sanitize_build() {
  CC=clang CXX=clang++ configure_and_build "$SANITIZE_BUILD" -DCMAKE_BUILD_TYPE=Debug \
    "-DCMAKE_C_FLAGS_DEBUG=-g -O1" "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" -DCMAKE_UNITY_BUILD=ON \
    -DBUILD_TESTING=ON -DTAMLO_WERROR=ON -DTAMLO_SANITIZE=address,undefined -DTAMLO_FUZZ=ON
}

# The fuzz targets, one a line: every fuzz/*_fuzz.cpp, so that a new one
# is never left out.
fuzz_targets() {
  local f
  for f in "$ROOT"/fuzz/*_fuzz.cpp; do basename "$f" .cpp; done
}

# Runs fuzz target $1 for $2 seconds from its seed corpus. New inputs go
# to a scratch folder (kept under the sanitizer tree), never into the seeds;
# crashes are written to the current folder.
run_fuzzer() {
  local target="$1" seconds="$2"
  local scratch="$SANITIZE_BUILD/corpus/$target"
  mkdir -p "$scratch"
  "$SANITIZE_BUILD/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$scratch" "$ROOT/fuzz/corpus/$target"
}

# Configures (once) and builds the tree in $1 with the remaining arguments
# passed to CMake's configure step; $TARGETS, when set, names what to
# build.
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" "$@" >/dev/null || return 1
  local targets=()
  if [[ -n "${TARGETS:-}" ]]; then targets=(--target $TARGETS); fi
  cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}
