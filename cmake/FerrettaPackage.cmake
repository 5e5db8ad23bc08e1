# The Debian package: `cpack` in a build folder makes ferretta_<version>_<arch>.deb from what
# cmake --install puts in place, under /usr. Its dependencies come from dpkg-shlibdeps plus a
# Japanese font; LibreOffice and the PDF viewers are recommended or suggested, so the package
# installs without them (a search with a type that needs one says it cannot start it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferretta)
set(CPACK_PACKAGE_VENDOR "Ferretta")
set(CPACK_PACKAGE_CONTACT "Ferretta developers <ferretta@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keyword search in text, PDF and Office files for Japanese users")
set(CPACK_PACKAGE_DESCRIPTION
    "Ferretta lists every hit of the search words in a folder's text, PDF, Word, Excel and
PowerPoint files with the file name, the matching text, the path and the position, and opens
the document at a hit. It reads Shift-JIS, UTF-8 and UTF-16 text and matches without regard to
case and full/half width. ferretta-cli searches the same way from the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The build keeps its debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)
# Every caption is Japanese: without a Japanese font the window shows empty boxes. libzip is
# loaded at run time rather than linked (src/documents), out of dpkg-shlibdeps' sight: its
# package named as Debian names a library's (libzip.so.4 -> libzip4, libfoo2.so.3 -> libfoo2-3).
string(REGEX MATCH "^([^.]+)\\.so\\.([0-9]+)$" libzipSoname "${FERRETTA_LIBZIP_SONAME}")
if(NOT libzipSoname)
    message(FATAL_ERROR "no package name for ${FERRETTA_LIBZIP_SONAME}")
endif()
set(libzipName ${CMAKE_MATCH_1})
set(libzipVersion ${CMAKE_MATCH_2})
if(libzipName MATCHES "[0-9]$")
    set(libzipPackage "${libzipName}-${libzipVersion}")
else()
    set(libzipPackage "${libzipName}${libzipVersion}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipaexfont-gothic | fonts-japanese-gothic, ${libzipPackage}")
# Word, Excel and PowerPoint files go through LibreOffice; xdg-utils opens files and finds the
# desktop's text editor; Qt's Japanese translation names the buttons of its dialogs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libreoffice-writer, libreoffice-calc, libreoffice-impress, xdg-utils, qt6-translations-l10n")
# PDF hits open at their page in one of these viewers; pdftotext serves as a PDF filter.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "evince | okular | zathura | mupdf, poppler-utils")
include(CPack)
