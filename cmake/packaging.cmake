# cpack makes the .deb; packaging/release.sh calls it and checks what it made.
set(CPACK_PACKAGE_NAME pathloss)
set(CPACK_PACKAGE_VENDOR "The pathloss developers")
set(CPACK_PACKAGE_CONTACT "pathloss developers <pathloss@pathloss.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "free-space path loss calculator for radio amateurs")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
pathloss asks for a frequency in MHz and a distance in km and prints the
free-space attenuation of the radio link in dB, then the attenuation over
the same distance at eight amateur bands from 144 MHz to 47088 MHz
(2 m to 6 mm). It is an interactive console program with a Spanish
dialogue.

The loss is 20 log10(f) + 20 log10(d) + 32.5 dB, printed with six
decimals that are the same on every machine.")
# Debian wants man pages and the changelog compressed with gzip -9n, which
# a plain cmake --install does not do.
configure_file(${PROJECT_SOURCE_DIR}/cmake/compress-docs.cmake.in
               ${PROJECT_BINARY_DIR}/compress-docs.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/compress-docs.cmake)

include(CPack)
