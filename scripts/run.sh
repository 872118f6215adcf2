#!/usr/bin/env bash
# Sets the machine up, builds, and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd /tmp && python3 -m trevalon "$@"
