# libsodium for the Windows lane: Ed25519 signatures and SHA-256 for the
# signed version index. The minimal build keeps both (and the rest of the
# high-level API) and leaves out what nothing here uses, which halves the
# build time. Static only: the updater is one self-contained program.
SOURCE_PACKAGE=libsodium

build_library() {
  cd "$1"
  # The source package carries no generated configure script.
  [ -x configure ] || autoreconf -fi
  ./configure --host="$HOST" --prefix="$2" --disable-shared --enable-static \
    --enable-minimal --disable-dependency-tracking --disable-ssp
  make -j"$JOBS"
  make install
}
