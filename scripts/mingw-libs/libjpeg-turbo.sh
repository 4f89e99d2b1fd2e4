# The IJG libjpeg API, which decodes the partner portal's logo. Only the
# static library is built: no SIMD (it would need an assembler), no
# TurboJPEG API and none of the command-line programs.
SOURCE_PACKAGE=libjpeg-turbo

build_library() {
  local source=$1 prefix=$2
  cmake -S "$source" -B build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix"
  cmake --build build -j "$JOBS" --target jpeg-static
  cp "$source"/jpeglib.h "$source"/jmorecfg.h "$source"/jerror.h build/jconfig.h "$prefix/include/"
  cp build/libjpeg.a "$prefix/lib/"
}
