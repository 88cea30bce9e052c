# Shared set-up of scripts/run and scripts/test: install what is missing, configure, build.
# Sourced, not run.

LANFINDER_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build, the tests, the lab and the demo need.
LANFINDER_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev binutils pkg-config
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins libbenchmark-dev
  iproute2 util-linux procps
  fontconfig fonts-dejavu-core fonts-noto-core
  desktop-file-utils appstream xdg-utils
  xvfb xdotool imagemagick file dpkg-dev
)

die() { echo "error: $*" >&2; exit 1; }

ensure_packages() {
  local missing=()
  for p in "${LANFINDER_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  command -v apt-get >/dev/null || die "missing packages (${missing[*]}) and no apt-get to install them; install them by hand"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || die "missing packages (${missing[*]}); run as root or install sudo"
    sudo=(sudo)
  fi
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq || die "apt-get update failed"
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
    || die "could not install: ${missing[*]}"
}

# configure_and_build PRESET [cmake --build args...]
configure_and_build() {
  local preset=$1; shift
  cd "$LANFINDER_ROOT" || die "no source tree"
  cmake --preset "$preset" >/dev/null || die "configuring ($preset) failed"
  cmake --build --preset "$preset" "$@" || die "building ($preset) failed"
}
