# Shared by the scripts: make sure Debian packages are installed.
#
# ensure_packages PKG...   installs what is missing when run as root;
#                          otherwise prints the commands and fails. A name
#                          such as wine32:i386 asks for a foreign
#                          architecture, which is added first when missing.

missing_packages() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' ||
      printf '%s\n' "$pkg"
  done
}

# Prints the foreign architectures that the named packages need and dpkg
# does not know yet, one a line.
missing_architectures() {
  local pkg arch known
  known=" $(dpkg --print-architecture) $(dpkg --print-foreign-architectures | tr '\n' ' ') "
  for pkg in "$@"; do
    case "$pkg" in
      *:*) arch=${pkg##*:} ;;
      *) continue ;;
    esac
    case "$known" in
      *" $arch "*) ;;
      *) printf '%s\n' "$arch" && known="$known$arch " ;;
    esac
  done
}

ensure_packages() {
  local missing arches arch
  missing=$(missing_packages "$@" | tr '\n' ' ')
  missing=${missing% }
  [ -z "$missing" ] && return 0
  # shellcheck disable=SC2086
  arches=$(missing_architectures $missing | tr '\n' ' ')
  arches=${arches% }
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are needed: $missing" >&2
    echo "Install them with:" >&2
    for arch in $arches; do
      echo "  sudo dpkg --add-architecture $arch" >&2
    done
    echo "  sudo apt-get update" >&2
    echo "  sudo apt-get install -y $missing" >&2
    return 1
  fi
  for arch in $arches; do
    echo "Adding the Debian architecture $arch"
    dpkg --add-architecture "$arch" || { echo "dpkg --add-architecture $arch failed" >&2; return 1; }
  done
  echo "Installing Debian packages: $missing"
  export DEBIAN_FRONTEND=noninteractive
  # A fresh machine's package lists may be missing or stale, and a newly
  # added architecture has none yet.
  apt-get update -q >/dev/null || { echo "apt-get update failed" >&2; return 1; }
  # shellcheck disable=SC2086
  apt-get install -y -q $missing >/dev/null || { echo "apt-get install failed: $missing" >&2; return 1; }
}

# What every build and test needs.
BASE_PACKAGES=(cmake make g++ libgtest-dev libgmock-dev googletest libimage-exiftool-perl exiv2 libturbojpeg0-dev
  python3-serial)
# What the Windows legs add: both cross-compilers, and Wine with its 32-bit
# side for the 32-bit build.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386)
# What the sanitizer, Windows and fuzz legs add.
ALL_PACKAGES=(clang-14 libclang-rt-14-dev "${WINDOWS_PACKAGES[@]}")
# What the benchmarks add.
BENCH_PACKAGES=(libbenchmark-dev gnuplot-nox)
