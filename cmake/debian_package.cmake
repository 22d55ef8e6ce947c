# cpack -G DEB: melvanto_<version>_<arch>.deb for Debian 12, installed under /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME melvanto)
set(CPACK_PACKAGE_VENDOR "Quorvane Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio converter between WAV, MP3 and WMA")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvane Software <support@quorvane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quorvane.example/melvanto")
set(CPACK_PACKAGE_DESCRIPTION "Melvanto converts audio files in six directions between WAV, MP3 and WMA, keeping their
tags, with a desktop program (melvanto) and a command-line converter (melvanto-cli) that
also shows what a file holds and streams a file to players over HTTP.
.
MP3 files are written with LAME, and their tags also with TagLib; WMA is read and written,
and MP3 read, through FFmpeg.")
# Linked libraries come from dpkg-shlibdeps. LAME and TagLib's C interface are loaded by name
# at run time, which dpkg-shlibdeps cannot see: their packages are named here, the ones that
# hold the sonames the program loads (libmp3lame.so.0, libtag_c.so.0) on Debian 12.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmp3lame0, libtagc0")
# Show Files and the web links (main window, about box) open through xdg-open, which a minimal
# system lacks; without it they do nothing, the rest works.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
