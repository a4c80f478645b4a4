# Shared by scripts/run, scripts/test and scripts/fuzz: package set-up and the build folders.
# Each step says what it does; every step is safe to repeat.

set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/.build"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

# Debian 12 packages the build, the program and the tests need. libmeshoptimizer-dev,
# libglm-dev, libarchive-tools and libarchive-dev are only the peers of tests and benchmarks;
# the program never links them.
PACKAGES=(
  g++ cmake ninja-build pkg-config
  libsdl2-dev libgl-dev libgl1-mesa-dri libgtk-3-dev
  libjpeg-dev libpng-dev libvorbis-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmeshoptimizer-dev libglm-dev
  xvfb xauth libarchive-tools libarchive-dev xdg-utils zlib1g-dev
  # Outside decoders and encoders the picture tests compare with; libsquish for the DXT
  # benchmark only.
  imagemagick libnvtt-bin libjpeg-turbo-progs libsquish-dev
  # The markup benchmark's peer.
  libexpat1-dev
  # The font baker and the picture maker: FreeType renders text from DejaVu Sans.
  libfreetype-dev fonts-dejavu-core
  # oggenc and ogginfo: Ogg Vorbis seeds of the audio fuzzer and checks of the music.
  vorbis-tools
  # The saver's process tests give it real X input.
  xdotool
)

say() { printf '==> %s\n' "$*"; }

# Installs whichever of the given packages are missing.
ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    say "packages: all present"
    return
  fi
  say "packages: installing ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_build NAME [cmake options...]: configures $BUILD/NAME with Ninja.
configure_build() {
  local name="$1"
  shift
  say "configure: $BUILD/$name $*"
  cmake -S "$ROOT" -B "$BUILD/$name" -G Ninja "$@" >/dev/null
}

# build NAME [targets...]
build() {
  local name="$1"
  shift
  say "build: $BUILD/$name ${*:-all}"
  if [ $# -gt 0 ]; then
    cmake --build "$BUILD/$name" --parallel "$JOBS" --target "$@"
  else
    cmake --build "$BUILD/$name" --parallel "$JOBS"
  fi
}
