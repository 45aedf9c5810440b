# Sourced by the test scripts: apt_install PACKAGE... installs Debian
# packages. An index that fails to download (a mirror in the middle of a
# sync) does not stop it: the install goes on with the indexes at hand, and
# a failed install is tried again after a pause, with the indexes fetched
# anew, three times in all.
apt_install() {
  local try
  for try in 1 2 3; do
    apt-get update -qq || echo "apt-get update: some indexes failed to download; going on with those at hand" >&2
    if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null; then return 0; fi
    if [ "$try" -lt 3 ]; then sleep 20; fi
  done
  return 1
}
