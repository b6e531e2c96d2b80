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
TEST_PACKAGES=(googletest libgtest-dev libsvn-dev libapr1-dev lighttpd curl valgrind
               chromium)

# Node.js for the page's browser tests, from Debian when the machine has
# none (a machine may bring its own, with npm).
install_node() {
  command -v node >/dev/null && command -v npm >/dev/null && return 0
  install_missing nodejs npm
}
