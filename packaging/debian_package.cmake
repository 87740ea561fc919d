# The Debian package: `cpack -G DEB` in the build folder makes reelforge_VERSION_ARCH.deb from
# the same install rules as `cmake --install`, under /usr.
#
# Its dependencies are computed from the binaries (dpkg-shlibdeps); the modules' own folder is
# named to it, so the programs' link to the Ogg encoder library there counts as the package's own.
# No maintainer scripts (the ldconfig calls CPack adds are taken out again): the MIME, desktop, icon and manual databases are brought up to date by
# the triggers of the packages that own them (shared-mime-info, desktop-file-utils, hicolor's icon
# cache, man-db), which watch the folders this package installs into.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME reelforge)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${REEL_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${REEL_HOMEPAGE_URL}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter and player for QRX movies")
# One line of text per line of the field; CPack indents each.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Reelforge turns ordinary video files (AVI, motion-JPEG .mj files and"
  "whatever the media framework decodes) into compact QRX movies for small"
  "handheld screens, with their sound in a companion MP3 or Ogg Vorbis file,"
  "from a dialog or from the terminal (reelforge-cli)."
  "."
  "Reelview plays the movies with their sound, and qrxtool inspects, checks,"
  "exports and thumbnails them.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/without_ldconfig_calls.cmake)
include(CPack)
