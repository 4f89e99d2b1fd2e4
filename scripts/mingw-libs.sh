#!/usr/bin/env bash
# Cross-builds the libraries that the Windows lane links, for 32-bit MinGW,
# from the distribution's own source packages (`apt-get source`), into one
# prefix that the MinGW toolchain file searches:
#   build/mingw-libs/prefix/{include,lib}
#
# Each library is a recipe, scripts/mingw-libs/NAME.sh, which sets
# SOURCE_PACKAGE and defines build_library SOURCE_DIR PREFIX, run in a
# scratch folder with HOST, CC, CXX, AR, RANLIB, JOBS and TOOLCHAIN (the
# CMake toolchain file) set. A library is built again only when its source
# version or its recipe changed, so a second run costs nothing.
#   scripts/mingw-libs.sh [NAME...]      default: every recipe
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
root=$PWD

export HOST=i686-w64-mingw32
export CC=$HOST-gcc-posix
export CXX=$HOST-g++-posix
export AR=$HOST-ar
export RANLIB=$HOST-ranlib
export TOOLCHAIN=$root/cmake/toolchain-mingw32.cmake
export JOBS=${BRF_JOBS:-$(nproc)}

work=$root/build/mingw-libs
prefix=$work/prefix
mkdir -p "$prefix/include" "$prefix/lib" "$work/stamps"

if [ $# -gt 0 ]; then
  recipes=()
  for name in "$@"; do recipes+=("scripts/mingw-libs/$name.sh"); done
else
  recipes=(scripts/mingw-libs/*.sh)
fi

for recipe in "${recipes[@]}"; do
  [ -f "$recipe" ] || { echo "mingw-libs: no recipe $recipe" >&2; exit 2; }
  name=$(basename "$recipe" .sh)
  (
    unset SOURCE_PACKAGE
    unset -f build_library
    # shellcheck disable=SC1090
    source "$recipe"
    : "${SOURCE_PACKAGE:?$recipe sets no SOURCE_PACKAGE}"
    versions=$(apt-cache showsrc "$SOURCE_PACKAGE" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV)
    if [ -z "$versions" ]; then
      echo "mingw-libs: no source package $SOURCE_PACKAGE (run scripts/setup.sh)" >&2
      exit 1
    fi
    recipe_sum=$(sha256sum "$recipe" | cut -d' ' -f1)
    scratch=$work/src/$name
    # The newest source first; a mirror may not carry every update's sources,
    # so an older version of the archive is taken when the newest cannot be
    # fetched, and a library built from it is kept.
    version=
    for candidate in $versions; do
      if [ "$(cat "$work/stamps/$name" 2>/dev/null)" = "$candidate $recipe_sum" ]; then
        exit 0
      fi
      rm -rf "$scratch"
      mkdir -p "$scratch"
      if (cd "$scratch" && apt-get source -qq "$SOURCE_PACKAGE=$candidate" >/dev/null 2>&1); then
        version=$candidate
        break
      fi
      echo "mingw-libs: cannot fetch the source of $SOURCE_PACKAGE $candidate" >&2
    done
    if [ -z "$version" ]; then
      echo "mingw-libs: no source of $SOURCE_PACKAGE could be fetched" >&2
      exit 1
    fi
    stamp="$version $recipe_sum"
    echo "== mingw-libs: building $name from $SOURCE_PACKAGE $version"
    rm -f "$work/stamps/$name"
    cd "$scratch"
    source_dir=$(find . -mindepth 1 -maxdepth 1 -type d | head -1)
    log=$scratch/build.log
    if ! (build_library "$PWD/$source_dir" "$prefix") >"$log" 2>&1; then
      tail -40 "$log" >&2
      echo "mingw-libs: building $name failed (log: $log)" >&2
      exit 1
    fi
    echo "$stamp" >"$work/stamps/$name"
    rm -rf "$scratch"
  )
done
