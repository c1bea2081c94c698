include_guard(GLOBAL)

# `make package` builds a Debian package of what `cmake --install` puts in place. Installing does
# not build every target first (tests, benchmarks), only what is installed.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lyravox)
set(CPACK_PACKAGE_VENDOR "The Lyravox authors")
set(CPACK_PACKAGE_CONTACT "The Lyravox authors <lyravox@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "guitar tuner that plays reference strings to tune by ear")
set(CPACK_PACKAGE_DESCRIPTION
    "Lyravox plays the reference sounds of a plucked six-string guitar: each open\n\
string in standard tuning and an E-major and a G-major chord, once, in a loop\n\
with a chosen rest, or all six strings in a row, to tune a guitar by ear.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.example.com/lyravox")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A Qt program needs a platform plugin and SVG support at run time that no library link shows.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
include(CPack)
