#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config ccache libgtest-dev libcli11-dev
          libopenimageio-dev libopencv-dev)
# The Windows modules are cross-built, and the 64-bit one runs under wine.
packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64)
# The fuzz targets: clang with libFuzzer and the sanitizer runtimes, from the
# compiler-rt package of the clang version installed or about to be.
clang_major=$(clang -dumpversion 2>/dev/null | cut -d. -f1 || true)
if [[ -z $clang_major ]]; then
  clang_major=$(apt-cache policy clang 2>/dev/null |
                sed -n 's/^ *Candidate: *\([0-9]*:\)\{0,1\}\([0-9][0-9]*\).*/\2/p')
fi
packages+=(clang "libclang-rt-${clang_major:-14}-dev")
# The frei0r plug-ins: the API header, and the hosts the tests render through
# (ffmpeg, melt, and GStreamer with the frei0r element from plugins-bad).
packages+=(frei0r-plugins-dev ffmpeg melt gstreamer1.0-tools gstreamer1.0-plugins-base
           gstreamer1.0-plugins-good gstreamer1.0-plugins-bad)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q || true
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
