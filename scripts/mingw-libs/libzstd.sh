# libzstd for the Windows lane: the decompressor of the delta applier and the
# compressor of brfdelta. Built with zstd's own CMake build; static only, no
# programs, no threads, and no decoders of the old frame formats, which the
# deltas never use.
SOURCE_PACKAGE=libzstd

build_library() {
  cmake -S "$1/build/cmake" -B "$1/out" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$2" \
    -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=OFF \
    -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF \
    -DZSTD_LEGACY_SUPPORT=OFF
  cmake --build "$1/out" -j"$JOBS"
  cmake --install "$1/out"
}
