# shellcheck shell=bash
# Shared by scripts/test.sh, scripts/fuzz.sh and scripts/demo.sh (sourced, not run): installs
# the Debian packages the build needs when some are missing, and configures
# and builds a build tree.

SKIFF_SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SKIFF_JOBS="$(nproc 2>/dev/null || echo 2)"
# Build trees, relative to the source tree unless absolute.
SKIFF_BUILD_DIR="${SKIFF_BUILD_DIR:-build}"
SKIFF_ASAN_BUILD_DIR="${SKIFF_ASAN_BUILD_DIR:-build-asan}"
SKIFF_TSAN_BUILD_DIR="${SKIFF_TSAN_BUILD_DIR:-build-tsan}"
SKIFF_FUZZ_BUILD_DIR="${SKIFF_FUZZ_BUILD_DIR:-build-fuzz}"

SKIFF_PACKAGES=(
  build-essential cmake pkg-config clang-14 libclang-rt-14-dev clang-format
  libboost-dev libexpat1-dev libplist-dev googletest libgtest-dev
  libbenchmark-dev libspdlog-dev libssl-dev zlib1g-dev
)

skiff_say() { printf '\n==> %s\n' "$*"; }

# apt-get runs only when a package is absent, so a prepared machine needs
# neither the network nor root.
skiff_install_missing_packages() {
  local missing=() package
  for package in "${SKIFF_PACKAGES[@]}"; do
    if [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]]; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  local as_root=()
  if [[ "$(id -u)" != 0 ]]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing packages (${missing[*]}) and no sudo to install them; run as root." >&2
      return 1
    fi
    as_root=(sudo)
  fi
  skiff_say "Installing ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
}

skiff_build_path() {
  if [[ "$1" == /* ]]; then echo "$1"; else echo "$SKIFF_SOURCE_DIR/$1"; fi
}

# skiff_build DIR [CMAKE-ARGUMENT]... [-- TARGET...]: configures DIR and
# builds the targets, or everything.
skiff_build() {
  local dir="$1"
  shift
  local configure=() targets=()
  while (($#)); do
    if [[ "$1" == "--" ]]; then
      shift
      targets=("$@")
      break
    fi
    configure+=("$1")
    shift
  done
  dir="$(skiff_build_path "$dir")"
  skiff_say "Configuring $dir"
  cmake -S "$SKIFF_SOURCE_DIR" -B "$dir" -DSKIFF_WARNINGS_AS_ERRORS=ON "${configure[@]}"
  skiff_say "Building $dir"
  if ((${#targets[@]})); then
    cmake --build "$dir" -j"$SKIFF_JOBS" --target "${targets[@]}"
  else
    cmake --build "$dir" -j"$SKIFF_JOBS"
  fi
}
