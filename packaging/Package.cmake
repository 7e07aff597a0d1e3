# The Debian package: `cpack -G DEB` in the build tree (after building) makes
# velmor_<version>_<arch>.deb with the three programs, the desktop entry,
# the icon, the software-centre description and the manual pages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velmor developers")
set(CPACK_PACKAGE_CONTACT "The Velmor developers <developers@velmor.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "music player for an online music service")
set(CPACK_PACKAGE_DESCRIPTION
    "A single-window desktop music player whose music comes from an online music
service: search songs, play them, follow the lyric line by line, keep a
playlist, download songs. Comes with its bundled music service (velmor-musicd)
and a command-line client (velmor-cli).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://velmor.org/)
set(CPACK_STRIP_FILES ON)
# The linked libraries come from dpkg-shlibdeps. The rest is loaded at run
# time and so invisible to it: FFmpeg's and PulseAudio's libraries and libmpv
# (the playback engines, opened on first play), the toolkit's
# display plugins, the fonts the skin names for the Chinese interface and the
# toolkit's own Chinese texts for its dialogs. TagLib's shared library lives
# in libtag1v5-vanilla, which the shlibs entry reaches only through the
# libtag1v5 wrapper package: it is named as well.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libavformat59, libavcodec59, libswresample4, libavutil57, libpulse0, libmpg123-0, libsndfile1, libmpv2, qt6-qpa-plugins, fonts-noto-cjk, qt6-translations-l10n, libtag1v5-vanilla")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Only the three programs and their files: no test or tool targets.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
# The package's changelog, compressed as the system keeps it.
set(velmor_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${velmor_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9 -n -c ${CMAKE_CURRENT_LIST_DIR}/changelog > ${velmor_changelog}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
    VERBATIM)
add_custom_target(velmor-changelog ALL DEPENDS ${velmor_changelog})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${velmor_changelog}
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
include(CPack)
