#!/usr/bin/env bash
# Installs the Python module from the source tree with pip into a fresh
# virtual environment (which sees Debian's pybind11, setuptools and pytest)
# and runs its tests with pytest. Installs the Debian packages it needs.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec </dev/null

source tests/apt-install.sh
need=()
for pkg in python3-dev python3-pip python3-venv python3-setuptools python3-pybind11 python3-pytest; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  apt_install "${need[@]}"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quellpack-python-XXXXXX")
trap 'rm -rf "$work"' EXIT
# Debian's own python, whatever else is on the PATH.
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-build-isolation --no-index .

# From outside the source tree, so that only the installed module can be
# imported; pytest exits non-zero when it finds no tests (status 5).
repo=$(pwd)
cd "$work"
QUELLPACK_CORPUS="$repo/../shared/corpus" "$work/venv/bin/python" -m pytest -q -p no:cacheprovider \
  "$repo/tests/python" | tee "$work/pytest.log"
grep -qE "^[0-9]+ passed" "$work/pytest.log"
echo "python step passed"
