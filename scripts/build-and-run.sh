#!/usr/bin/env bash
# Builds the application and starts it. With no machine configured, the machine
# simulator is started beside it (see README).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCFW_BUILD_TESTS=OFF \
  -DCFW_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$top/build/release"
exec "$top/scripts/start.sh" "$top/build/release" "$@"
