#!/usr/bin/env bash
# Regenerates the icon reader's seed corpus (fuzz/icon-corpus/) from the test
# fixtures' builders. Needs a C++ compiler and libpng.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
c++ -std=c++20 -O1 -I.. MakeIconCorpus.cpp -o "$tmp/make" $(pkg-config --cflags --libs libpng)
rm -rf icon-corpus && mkdir -p icon-corpus
"$tmp/make" icon-corpus
ls icon-corpus | wc -l
du -sh icon-corpus
