# What a Debian package of Cardmill installs besides the programs (src/CMakeLists.txt), and the
# package itself: `make package` runs CPack's DEB generator, the dependencies found from the
# binaries (dpkg-shlibdeps).

set(DATA ${PROJECT_SOURCE_DIR}/data)
# The icon, used by the window, the menu entry and the project file type.
install(FILES ${DATA}/icons/cardmill.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${DATA}/icons/cardmill-${size}.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME cardmill.png)
endforeach()
install(FILES ${DATA}/com.orvane.cardmill.metainfo.xml DESTINATION share/metainfo)
install(FILES ${DATA}/cardmill.bash-completion DESTINATION share/bash-completion/completions
    RENAME cardmill)
install(FILES ${DATA}/cardmill.bash-completion DESTINATION share/bash-completion/completions
    RENAME cardmill-gui)
install(FILES ${DATA}/copyright DESTINATION share/doc/cardmill)

# Manual pages made from the programs' own help, and the Debian changelog, compressed as Debian
# wants them (no name or time in the gzip header, so that two builds give the same bytes).
set(MAN ${CMAKE_CURRENT_BINARY_DIR}/man)
add_custom_command(OUTPUT ${MAN}/cardmill.1.gz ${MAN}/cardmill-gui.1.gz
    COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/scripts/make-manpages
        $<TARGET_FILE:cardmill> $<TARGET_FILE:cardmill-gui> ${MAN}
    COMMAND gzip -9nf ${MAN}/cardmill.1 ${MAN}/cardmill-gui.1
    DEPENDS cardmill cardmill-gui ${PROJECT_SOURCE_DIR}/scripts/make-manpages
    COMMENT "Manual pages from the programs' help")
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
    COMMAND gzip -9nc ${DATA}/changelog.Debian > ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
    DEPENDS ${DATA}/changelog.Debian)
add_custom_target(manpages ALL DEPENDS ${MAN}/cardmill.1.gz ${MAN}/cardmill-gui.1.gz
    ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${MAN}/cardmill.1.gz ${MAN}/cardmill-gui.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz DESTINATION share/doc/cardmill)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cardmill)
set(CPACK_PACKAGE_VENDOR "Orvane Inc.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Debian's first package of this version: changelog.Debian.gz names it 3.0.0-1.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "Orvane Inc. <cardmill@orvane.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "prepare the memory cards of sample-playing synthesizers")
# One string (CMake would make a list of several), in lines short enough for apt; CPack puts
# the summary first.
set(CPACK_PACKAGE_DESCRIPTION "Cardmill prepares the memory cards of the Zelta Synthesizer family and\n\
of the Percula drum module: sound files, multi-sample instruments (SFZ,\n\
SoundFont, DLS, DecentSampler), standard MIDI files and a SysEx program bank\n\
are gathered into a project, compiled into a card image and written into the\n\
instrument over MIDI. It has a desktop application (cardmill-gui) and a\n\
command line (cardmill).")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvane.com/cardmill")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Every file of the package carries the time of the last commit, not of the build.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageTimes.cmake)
include(CPack)
