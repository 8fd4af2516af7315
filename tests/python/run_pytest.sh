#!/usr/bin/env bash
# run_pytest.sh PYTHON BUILD_DIR SOURCE_DIR PROGRAM: installs the module from SOURCE_DIR into a
# venv in BUILD_DIR (no package index: nothing may be downloaded) and runs the tests here.
set -euo pipefail
python=$1 build=$2 source=$3 program=$4
venv=$build/venv
[ -x "$venv/bin/python" ] || "$python" -m venv --system-site-packages "$venv"
(cd "$source" && ATTACKSCOPE_PY_BUILD="$build/module-build" "$venv/bin/pip" install --quiet \
    --disable-pip-version-check --no-build-isolation --no-index .)
cd "$(dirname "$0")"
ATTACKSCOPE_BIN=$program exec "$venv/bin/python" -m pytest -p no:cacheprovider -q
