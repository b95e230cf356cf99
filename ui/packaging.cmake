# A Debian package of everything `cmake --install` places (program, command-line tool, loop
# library, desktop entry, icon): `cpack -G DEB` in the build directory.
set(CPACK_PACKAGE_NAME "tarpo")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "TARPO developers")
set(CPACK_PACKAGE_CONTACT "TARPO developers <tarpo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Digital voice for radio amateurs over an SSB voice channel")
set(CPACK_PACKAGE_DESCRIPTION
    "TARPO sends speech as a fifteen-carrier DQPSK signal through a transceiver's sound card, keys the transmitter by a serial port's RTS and DTR lines, and decodes the received signal, showing it as a scope, a spectrum or a waterfall.")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "hamradio")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6, libportaudio2, libsndfile1, libsamplerate0, libfftw3-double3, libasound2")
include(CPack)
