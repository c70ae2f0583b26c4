#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the run command need.
# Idempotent: packages already present are left alone. Needs root or sudo.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git ccache
  # core libraries
  libgtest-dev libgmock-dev libbenchmark-dev
  # windows
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev qt6-svg-dev
  qt6-translations-l10n libqt6svg6 qt6-qpa-plugins
  libxlsxwriter-dev libpng-dev
  # display for the run command and screenshots, tools the tests use
  xvfb xauth x11-apps x11-utils imagemagick poppler-utils python3-openpyxl iproute2
  util-linux mount
  fonts-dejavu-core
  # the workbook's column widths are measured with the wide fonts that stand
  # in for its default font: DejaVu Sans and Liberation Sans
  python3-fonttools fonts-liberation2
  # the regional formats the window tests run under, and the C library's
  # translated error texts the failure boxes show
  locales libc-l10n
  # the baseline of the recording benchmark (what an operator would use instead)
  python3-pandas
  # fuzzing and sanitizer runtimes
  clang libclang-rt-14-dev
  # publishing to an MQTT broker; the broker, its clients and the JSON reader
  # of the tests; openssl makes the tests' TLS certificates; systemd-analyze
  # checks the service unit
  libmosquitto-dev mosquitto mosquitto-clients nlohmann-json3-dev openssl systemd
  # the Debian package (scripts/package.sh): dependencies, desktop entry check
  dpkg-dev file fakeroot desktop-file-utils
)

# Regional formats generated for the tests (German and French separators).
locales=(de_DE.UTF-8 fr_FR.UTF-8)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

generate=0
for l in "${locales[@]}"; do
  # locale -a lists "de_DE.utf8" for de_DE.UTF-8.
  name=${l%%.*}.utf8
  locale -a 2>/dev/null | grep -qx "$name" && continue
  $sudo sed -i "s/^# *\($l UTF-8\)/\1/" /etc/locale.gen
  grep -qx "$l UTF-8" /etc/locale.gen || echo "$l UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
  generate=1
done
[ $generate -eq 0 ] || $sudo locale-gen
