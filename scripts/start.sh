#!/usr/bin/env bash
# Starts the built application from build dir $1.
set -euo pipefail
bin="$1"; shift
exec "$bin/app/OrvaneCellfeedWizard" "$@"
