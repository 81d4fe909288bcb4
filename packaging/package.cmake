# The Debian package (`cpack -G DEB` in a release build directory): everything the install
# rules put under /usr. Its dependencies are the packages of the shared libraries the programs
# link (wxWidgets, SQLite, zlib, brotli, zstd, OpenSSL, libstdc++), found by dpkg-shlibdeps,
# so the build machine's versions are the least ones asked for.
set(LUMBRA_PACKAGE_MAINTAINER "Lumbra developers" CACHE STRING
  "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumbra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turns a web browser's disk cache into an offline collection")
set(CPACK_PACKAGE_DESCRIPTION
  "Lumbra reads the disk cache of a web browser (Chromium and the browsers built on it,\n\
Firefox, and the caches of Netscape Navigator and Internet Explorer 2 to 9), copies every\n\
cached document into local mirror directories, rewrites the links of the stored pages to\n\
point at the local copies, and writes index pages through which the collection is browsed\n\
offline in any browser. The package holds the window program lumbra, the command-line\n\
program lumbra-cli and the directory tally fennow.")
set(CPACK_PACKAGE_CONTACT "${LUMBRA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMBRA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows' Japanese labels need a font that has them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)
include(CPack)
