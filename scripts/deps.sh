# deps.sh: sourced by the scripts: progress lines, long steps that say
# they are alive, and the Debian packages and Node.js they need.

# Debian keeps servers and admin tools (lighttpd, setpriv) in the sbin
# directories, which a normal user's PATH lacks.
PATH=$PATH:/usr/local/sbin:/usr/sbin:/sbin

# QUIET=1 (or --quiet) keeps the output terse: no "still at it" lines.
QUIET=${QUIET:-0}

# say TEXT: one progress line.
say() { printf '==> %s\n' "$*" >&2; }

# alive TEXT PID: until PID ends, says every 30 seconds that TEXT goes on.
alive() {
  local text=$1 pid=$2 start=$SECONDS next=30
  [ "$QUIET" = 1 ] && return 0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.5
    if [ $((SECONDS - start)) -ge $next ]; then
      printf '    ... %s (%d s)\n' "$text" $((SECONDS - start)) >&2
      next=$((next + 30))
    fi
  done
}

# step TEXT COMMAND...: says TEXT, runs COMMAND with its output kept
# aside (shown, its end, only when it fails), saying meanwhile that it is
# alive.  Returns COMMAND's status.
step() {
  local text=$1 log rc=0
  shift
  log=$(mktemp)
  say "$text"
  "$@" >"$log" 2>&1 &
  local pid=$!
  alive "$text" "$pid"
  wait "$pid" || rc=$?
  if [ $rc -ne 0 ]; then
    tail -n 40 "$log" >&2
    say "failed ($rc): $text"
  fi
  rm -f "$log"
  return $rc
}

# as_root COMMAND...: runs COMMAND as root, through sudo for a normal user.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# install_missing PACKAGE...: installs the Debian packages that are missing.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  # Asked here, in the open, rather than inside the step.
  [ "$(id -u)" -eq 0 ] || sudo -v
  step "Installing ${missing[*]} (apt-get; minutes on a fresh machine)" \
    as_root sh -c 'apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"' sh "${missing[@]}"
}

BUILD_PACKAGES=(cmake make g++ pkg-config libjsoncpp-dev libsvn-dev libapr1-dev subversion
                libarchive-dev zlib1g-dev libssl-dev)
TEST_PACKAGES=(googletest libgtest-dev lighttpd curl valgrind chromium)

# Node.js for the page's browser tests, from Debian when the machine has
# none (a machine may bring its own, with npm).
install_node() {
  command -v node >/dev/null && command -v npm >/dev/null && return 0
  install_missing nodejs npm
}
