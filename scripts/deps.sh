# deps.sh: sourced by the scripts; installs the Debian packages named in
# its arguments that are missing (as root, or through sudo).
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
}

BUILD_PACKAGES=(cmake make g++ pkg-config libjsoncpp-dev libcgicc-dev subversion)
TEST_PACKAGES=(googletest libgtest-dev libsvn-dev libapr1-dev lighttpd curl valgrind)
