#!/usr/bin/env bash
# Builds the Debian package of the station in build/package with CPack:
# sorvent, sorvent-panelsim, sorvent-catalogo, sorvent-db and sorvent-tareas in
# /usr/bin, the job runner's systemd unit, the desktop entry and the icon. Prints the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >&2
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DSORVENT_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr "${launcher[@]}" >/dev/null
cmake --build build/package -j"$(nproc)" --target sorvent sorvent-panelsim sorvent-catalogo sorvent-db sorvent-tareas sorvent_icons >&2
(cd build/package && rm -f sorvent_*.deb && cpack -G DEB >&2)
ls "$PWD"/build/package/sorvent_*.deb
