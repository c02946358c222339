#!/usr/bin/env bash
# Installs the build tree into a fresh prefix, moves the prefix elsewhere and
# uses it there with a bare environment: both tools on the example models, both
# Python modules, and the libraries they find. Fails when the installed files
# differ from the deliverables or anything reaches back into the build tree.
#
# check_install.sh BUILD_DIR PYTHON MAKE_EXAMPLE_MODELS PYVADU_FILE PYCHIPCTL_FILE
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: $0 BUILD_DIR PYTHON MAKE_EXAMPLE_MODELS PYVADU_FILE PYCHIPCTL_FILE" >&2
  exit 2
fi
build_dir=$(realpath "$1") python=$2 make_example_models=$(realpath "$3") pyvadu_file=$4 pychipctl_file=$5

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vadu_install_check.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"${CMAKE:-cmake}" --install "$build_dir" --prefix "$scratch/a" >/dev/null
mv "$scratch/a" "$scratch/b"
prefix=$(realpath "$scratch/b")
cd "$scratch"

# Exactly the deliverables: no test programs, static libraries or headers.
expected=$(printf '%s\n' bin/qdmstrip bin/readqdm \
  lib/libvadu_dev_ctrl.so lib/libvadu_runtime_lite.so \
  python/vadu_lite/__init__.py python/vadu_lite/dev_ctrl.py \
  "python/vadu_lite/$pychipctl_file" "python/vadu_lite/$pyvadu_file" | sort)
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
if [ "$installed" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$installed") >&2 || true
  fail "installed files differ from the deliverables (< expected, > installed)"
fi

# An installed ELF searches only relative to itself, and every library of ours
# that it needs resolves inside the prefix.
elf_files=("$prefix"/bin/* "$prefix"/lib/*.so "$prefix/python/vadu_lite/$pyvadu_file" "$prefix/python/vadu_lite/$pychipctl_file")
for elf in "${elf_files[@]}"; do
  search=$(readelf -d "$elf" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p' | tr ':' '\n')
  while read -r dir; do
    [ -z "$dir" ] || [[ $dir == '$ORIGIN'* ]] || fail "$elf searches $dir"
  done <<<"$search"
  libs=$(env -i PATH=/usr/bin:/bin ldd "$elf")
  if grep -q 'not found' <<<"$libs"; then fail "$elf: unresolved libraries: $libs"; fi
  while read -r _ _ path _; do
    [[ $(realpath "$path") == "$prefix"/lib/* ]] || fail "$elf loads $path from outside the prefix"
  done < <(grep 'libvadu_' <<<"$libs" || true)
done

run() { env -i PATH=/usr/bin:/bin "$@"; }
# Runs an installed tool quietly; shows what it printed when it fails.
run_tool() { # output file, tool, arguments...
  local out=$1 tool=$2
  shift 2
  run "$prefix/bin/$tool" "$@" >"$out" 2>"$out.err" || { cat "$out" "$out.err" >&2; fail "$tool $*"; }
}

# The tools: strip C against A and B, restore it, and read both back.
models=$scratch/models
"$make_example_models" "$models" >/dev/null
for kind in qdm qdms; do
  run_tool "$models/strip.log" qdmstrip --strip -o "$models/C.stripped.$kind" \
    -i "$models/A.$kind" "$models/B.$kind" "$models/C.$kind"
  run_tool "$models/restore.log" qdmstrip --restore -o "$models/C.restored.$kind" \
    -i "$models/A.$kind" "$models/B.$kind" "$models/C.stripped.$kind"
  run_tool "$models/C.$kind.json" readqdm --all "$models/C.$kind"
  run_tool "$models/C.restored.$kind.json" readqdm --all "$models/C.restored.$kind"
  cmp -s "$models/C.$kind.json" "$models/C.restored.$kind.json" || fail "restored C.$kind reads differently"
  grep -q '"name": "C"' "$models/C.$kind.json" || fail "readqdm printed no model C for C.$kind"
done

# The modules, imported from the installed package only.
run PYTHONPATH="$prefix/python" PYTHONDONTWRITEBYTECODE=1 "$python" - "$prefix" <<'PY'
import sys

import numpy as np

import vadu_lite.dev_ctrl
from vadu_lite import pychipctl, pyvadu

prefix = sys.argv[1]
for module in (pyvadu, pychipctl):
    assert module.__file__.startswith(prefix + "/python/vadu_lite/"), module.__file__

buffer = pyvadu.Buffer.create_device_buffer(8)
assert buffer.init_status == pyvadu.OK, buffer.init_status
assert buffer.copy_from_host(np.arange(8, dtype=np.uint8), 0) == pyvadu.OK
out = np.zeros(8, dtype=np.uint8)
assert buffer.copy_to_host(out, 0) == pyvadu.OK and list(out) == list(range(8)), out

assert vadu_lite.dev_ctrl is pychipctl and pychipctl.Status is pyvadu.Status
status, _ = pychipctl.HalDeviceFactory.create("sim").get_dvfs_mode(0)
assert status == pyvadu.OK, status
assert pychipctl.HalDeviceFactory.create("null").ipu_reset(0) == pyvadu.UNSUPPORTED
PY
echo "installed tree works from $prefix"
