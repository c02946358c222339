#!/usr/bin/env bash
# Installs one or more build trees into one fresh prefix, in the order given,
# moves the prefix elsewhere and uses it there with a bare environment: both
# tools on the example models (when a tree has them), and both Python modules
# under each tree's interpreter, which must import the builds made for it.
# Fails when the installed files differ from the deliverables or anything
# reaches back into a build tree.
#
# check_install.sh BUILD_DIR...
#
# A tree tells what its install brings in tests/install/installs.txt.
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR..." >&2
  exit 2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vadu_install_check.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Per tree: its interpreter and module files; the tools from any tree that has them.
pythons=() pyvadu_files=() pychipctl_files=() make_example_models=""
expected=(lib/libvadu_dev_ctrl.so lib/libvadu_runtime_lite.so
  python/vadu_lite/__init__.py python/vadu_lite/dev_ctrl.py)
for build_dir in "$@"; do
  installs="$build_dir/tests/install/installs.txt"
  [ -f "$installs" ] || fail "$build_dir has no $installs: configure and build that tree first"
  declare -A brings=()
  while IFS='=' read -r key value; do brings[$key]=$value; done <"$installs"
  "${CMAKE:-cmake}" --install "$build_dir" --prefix "$scratch/a" >/dev/null
  pythons+=("${brings[python]}")
  pyvadu_files+=("${brings[pyvadu]}")
  pychipctl_files+=("${brings[pychipctl]}")
  expected+=("python/vadu_lite/${brings[pyvadu]}" "python/vadu_lite/${brings[pychipctl]}")
  if [ -n "${brings[make_example_models]}" ]; then
    make_example_models=${brings[make_example_models]}
    expected+=(bin/qdmstrip bin/readqdm)
  fi
  unset brings
done
mv "$scratch/a" "$scratch/b"
prefix=$(realpath "$scratch/b")
cd "$scratch"

# Exactly the deliverables: no test programs, static libraries or headers.
expected=$(printf '%s\n' "${expected[@]}" | sort -u)
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
if [ "$installed" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$installed") >&2 || true
  fail "installed files differ from the deliverables (< expected, > installed)"
fi

# An installed ELF searches only relative to itself, and every library of ours
# that it needs resolves inside the prefix.
shopt -s nullglob
for elf in "$prefix"/bin/* "$prefix"/lib/*.so "$prefix"/python/vadu_lite/*.so; do
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
check_tools() {
  local models=$scratch/models
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
}
[ -z "$make_example_models" ] || check_tools

# The modules under each tree's interpreter, imported from the installed
# package only: the builds whose file names carry that interpreter's tag. The
# other trees' builds, beside them, refuse that interpreter.
for i in "${!pythons[@]}"; do
  run PYTHONPATH="$prefix/python" PYTHONDONTWRITEBYTECODE=1 "${pythons[$i]}" - \
    "$prefix" "${pyvadu_files[$i]}" "${pychipctl_files[$i]}" "${pyvadu_files[@]}" "${pychipctl_files[@]}" \
    <<'PY' || fail "the modules under ${pythons[$i]}"
import importlib.util
import sys

import numpy as np

import vadu_lite.dev_ctrl
from vadu_lite import pychipctl, pyvadu

prefix, pyvadu_file, pychipctl_file, *every_file = sys.argv[1:]
for module, file in ((pyvadu, pyvadu_file), (pychipctl, pychipctl_file)):
    assert module.__file__ == f"{prefix}/python/vadu_lite/{file}", module.__file__

buffer = pyvadu.Buffer.create_device_buffer(8)
assert buffer.init_status == pyvadu.OK, buffer.init_status
assert buffer.copy_from_host(np.arange(8, dtype=np.uint8), 0) == pyvadu.OK
out = np.zeros(8, dtype=np.uint8)
assert buffer.copy_to_host(out, 0) == pyvadu.OK and list(out) == list(range(8)), out

# A tensor's array is a view of the tensor's own bytes.
tensor = pyvadu.Tensor.create_host_tensor(pyvadu.TensorInfo.create_nd([4], pyvadu.UINT8, [], 0))
array = pyvadu.Tensor.tensor_to_array(tensor)
array[:] = [5, 6, 7, 8]
out = np.zeros(4, dtype=np.uint8)
assert tensor.buffer().copy_to_host(out, 0) == pyvadu.OK and list(out) == [5, 6, 7, 8], out

assert vadu_lite.dev_ctrl is pychipctl and pychipctl.Status is pyvadu.Status
status, _ = pychipctl.HalDeviceFactory.create("sim").get_dvfs_mode(0)
assert status == pyvadu.OK, status
assert pychipctl.HalDeviceFactory.create("null").ipu_reset(0) == pyvadu.UNSUPPORTED

for file in set(every_file) - {pyvadu_file, pychipctl_file}:
    spec = importlib.util.spec_from_file_location(
        "vadu_lite." + file.split(".")[0], f"{prefix}/python/vadu_lite/{file}")
    try:
        importlib.util.module_from_spec(spec)
    except ImportError as error:
        message = str(error)
        assert message.startswith("Python version mismatch: module was compiled for Python "), message
        assert message.endswith(f", but the interpreter version is incompatible: {sys.version}."), message
    else:
        raise AssertionError(f"{file} was loaded by Python {sys.version}")
PY
done
echo "installed tree works from $prefix"
