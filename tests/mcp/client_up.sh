#!/usr/bin/env bash
# Installs the MCP client the tests drive chatdraft mcp with (the official
# TypeScript SDK, pinned by package-lock.json) into DIR, with session.mjs.
# npm ci runs only when the lock file changed since the last install.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
mkdir -p "$dir"
cp "$here/session.mjs" "$here/package.json" "$dir/"
if [ -d "$dir/node_modules" ] && cmp -s "$here/package-lock.json" "$dir/package-lock.json"; then
  exit 0
fi
cp "$here/package-lock.json" "$dir/"
cd "$dir"
npm ci --no-audit --no-fund --loglevel=error
