# Debian package of the installed program (`cpack -G DEB` in the build
# directory). Library dependencies come from dpkg-shlibdeps; the fonts the
# window asks for by name, libpulse (loaded at run time, the output on a
# PulseAudio desktop) and SDL2 (loaded at run time, the fallback sound
# output) are added by hand, since nothing links them.
set(PENDLO_PACKAGE_CONTACT "Pendlo developers <pendlo@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pendlo)
set(CPACK_PACKAGE_VENDOR "The Pendlo developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PENDLO_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "metronome with irregular meters and tuplets")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, fonts-liberation2, libpulse0, libsdl2-2.0-0")
# Loaded at run time, so shlibdeps cannot see them: libpipewire, for
# PipeWire's own output on a PipeWire desktop, and Qt's Japanese texts for
# the dialogs (without them they show English).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libpipewire-0.3-0, qt6-translations-l10n")
# The long description below the summary line; CPack indents its lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pendlo is a small desktop metronome: tempo 20 to 600 BPM, meters of 1 to 9
beats, irregular meters such as 3+2+2 and per-beat tuplets, written as
strings of digits. An accent click and a plain click sound on the sound
card's own sample clock, so the beats are spaced exactly, and two bars
flash with them.")

set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress-man.cmake)

include(CPack)
