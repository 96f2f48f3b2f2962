#!/usr/bin/env bash
# Installs dependencies, builds, and makes a catalogue of the sample music.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build
build/orvalis --version
mkdir -p build/demo
database=$(build/orvalis build --force --out build/demo/orvalis-demo.chm examples/music)
echo "Catalogue of examples/music: $database"
echo "Start the wizard with: build/orvalis   (needs a display)"
