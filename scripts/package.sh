#!/usr/bin/env bash
# Sets up, builds the program in Release and makes its Debian package, vormel_<version>_<arch>.deb,
# in the current folder:
#     sudo apt install ./vormel_*.deb        sudo apt remove vormel
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
scripts/setup.sh
# Only what the package holds is built: neither the tests nor the tools are needed for it.
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DVORMEL_BENCHMARKS=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build build-package -j"$(nproc)" --target vormel vormel_manual
(cd build-package && cpack -G DEB -D CPACK_PACKAGE_DIRECTORY="$here" >/dev/null)
ls "$here"/vormel_*.deb
