#!/usr/bin/env bash
# Lints the viewer page's scripts with ESLint (eslint.config.mjs); any finding fails.
set -eu
cd "$(dirname "$0")/../.."
. scripts/lib.sh
ensure_npm
npm ci --no-audit --no-fund --loglevel=error
npx --no-install eslint --max-warnings=0 src/plugin_logs/viewer
echo "eslint: no findings"
