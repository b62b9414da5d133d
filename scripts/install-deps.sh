#!/usr/bin/env bash
# Installs every Debian package KEVRA needs to build, test, run, benchmark and fuzz.
# Idempotent and quiet when everything is present. As root it runs apt-get;
# otherwise it prints the command to run.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev llvm clang-format-14
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libqt6test6 libgl-dev
  # The viewer tries its X display itself before Qt does (Qt aborts when it cannot connect).
  libxcb1-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libx264-dev ffmpeg
  libyuv-dev
  # kevra-gateway: GStreamer's RTSP server, appsrc, the H.264 / MPEG-4 parsers (bad) and RTP
  # payloaders (good); libav and the tools give its tests a second, independent RTSP client.
  libgstrtspserver-1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav gstreamer1.0-tools
  # kevra-gateway's HTTP side (status page, API, snapshots, metrics) and its JPEG encoder; a
  # real browser and its driver for the status page's test.
  libsoup-3.0-dev libturbojpeg0-dev chromium chromium-driver python3-selenium
  python3-prometheus-client
  g++-aarch64-linux-gnu qemu-user
  fonts-dejavu-core xvfb xauth
  # scripts/latency.sh presses arrow keys in the viewer on its virtual screen.
  xdotool
  # Chinese texts and camera names: WenQuanYi Micro Hei covers the CJK ideographs in about 5 MB
  # (Noto CJK would add some 90 MB for scripts the viewer never shows).
  fonts-wqy-microhei
  # kevra-gateway's ONVIF side: SOAP through pugixml, HTTP on libsoup 3; its tests drive it with
  # ONVIF clients from npm, which the tests install into the build tree.
  libpugixml-dev libsoup-3.0-dev nodejs curl
)
# npm comes with some builds of nodejs (and conflicts with Debian's npm package there).
command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

cmd="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "KEVRA needs these packages: ${missing[*]}"
  echo "Run as root:  apt-get update && $cmd"
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
