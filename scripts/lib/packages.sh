# Shared by the scripts: make sure Debian packages are installed.
#
# ensure_packages PKG...   installs what is missing when run as root;
#                          otherwise prints the apt-get line and fails.

missing_packages() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' ||
      printf '%s\n' "$pkg"
  done
}

ensure_packages() {
  local missing
  missing=$(missing_packages "$@" | tr '\n' ' ')
  missing=${missing% }
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are needed: $missing" >&2
    echo "Install them with:" >&2
    echo "  sudo apt-get install -y $missing" >&2
    return 1
  fi
  echo "Installing Debian packages: $missing"
  export DEBIAN_FRONTEND=noninteractive
  # A fresh machine's package lists may be missing or stale.
  apt-get update -q >/dev/null || { echo "apt-get update failed" >&2; return 1; }
  # shellcheck disable=SC2086
  apt-get install -y -q $missing >/dev/null || { echo "apt-get install failed: $missing" >&2; return 1; }
}

# What every build and test needs.
BASE_PACKAGES=(cmake make g++ libgtest-dev libgmock-dev googletest libimage-exiftool-perl exiv2 libturbojpeg0-dev
  python3-serial)
# What the sanitizer, Windows and fuzz legs add.
ALL_PACKAGES=(clang-14 libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine wine64)
# What the benchmarks add.
BENCH_PACKAGES=(libbenchmark-dev gnuplot-nox)
