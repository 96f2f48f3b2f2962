#!/usr/bin/env bash
# Installs dependencies, builds, and runs the program's main job.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build
build/orvalis --version
