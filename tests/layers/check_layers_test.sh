#!/usr/bin/env bash
# The layer check catches each kind of wrong edge in a copy of the tree, naming the file
# and the edge, and passes the tree as it is.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
check="$here/scripts/check_layers.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$check" "$here/src" >/dev/null || { echo "the tree itself fails the layer check"; exit 1; }

cp -r "$here/src" "$work/src"
echo '#include "wave_in.h"' >>"$work/src/gui/main.cpp"                       # windows past app
echo '#include "runner.h"' >>"$work/src/engine/input.cpp"                     # upward
echo '#include "wm_reader.h"' >>"$work/src/formats/wav/wave_in.cpp"           # sideways in platform
echo '#include <QString>' >>"$work/src/tags/tags.cpp"                          # Qt below the windows
echo 'target_link_libraries(melvanto_wmf PUBLIC melvanto_engine)' >>"$work/src/platform/wmf/CMakeLists.txt"
cp "$work/src/engine/output.h" "$work/src/app/output.h"                       # ambiguous name

if out=$(cd "$work" && python3 "$check" src); then
  echo "the check passed a tree with wrong edges:"; echo "$out"; exit 1
fi
status=0
for expected in \
  "src/gui/main.cpp:.*includes wave_in.h of src/formats/wav: src/gui may not depend on src/formats/wav" \
  "src/engine/input.cpp:.*includes runner.h of src/app: src/engine may not depend on src/app" \
  "src/formats/wav/wave_in.cpp:.*includes wm_reader.h of src/platform/wmf" \
  "src/tags/tags.cpp:.*includes <QString>: Qt is for src/gui only" \
  "src/platform/wmf/CMakeLists.txt: links melvanto_engine of src/engine: src/platform/wmf may not depend on src/engine" \
  "output.h is also in src/"; do
  grep -q -- "$expected" <<<"$out" || { echo "not reported: $expected"; status=1; }
done
[ "$status" -eq 0 ] && echo "every planted edge was reported"
exit "$status"
