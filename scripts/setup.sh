#!/usr/bin/env bash
# Installs everything Corvista needs to build, test and run on Debian 12.
# Idempotent: prints nothing and changes nothing when all packages are there.
# Runs as root, or through sudo for another user.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    qtbase5-dev qtbase5-dev-tools qt5-image-formats-plugins # Qt 5 widgets, JPEG/TIFF encoders
    libaravis-dev aravis-tools                              # GenICam cameras and a fake one for tests
    libjpeg62-turbo-dev libtiff-dev zlib1g-dev libdeflate-dev # streamed encoders of the stitched saves
    libusb-1.0-0-dev                                        # aravis-0.8.pc needs it, libaravis-dev lacks the dependency
    libvips-tools imagemagick librsvg2-bin                  # benchmarks and redrawing the icons
    xvfb xauth fonts-dejavu-core                            # running the window without a display
    fonts-wqy-microhei                                      # Chinese glyphs of the labels and menus
    gdb                                                     # stacks of a test's child process that hangs
    clang-format-14
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "setup.sh: missing packages: ${missing[*]}" >&2
        echo "setup.sh: run this script as root (sudo is not installed)" >&2
        exit 1
    fi
    as_root=(sudo)
fi

echo "setup.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
