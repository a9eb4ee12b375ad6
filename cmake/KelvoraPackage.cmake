# Installation and the Debian package (`make package`): the programs under bin with their man
# pages, the menu entry, icon and AppStream metainfo under share, and CPack's DEB settings.
# The package tree (KELVORA_PACKAGING=ON) also builds the man pages and the compressed changelog;
# other trees install the programs and the desktop files only.

include(GNUInstallDirs)

option(KELVORA_PACKAGING "Build the man pages and the changelog the package installs" OFF)

# One id for the desktop entry, the metainfo and the icon.
set(KELVORA_APP_ID org.example.Kelvora)
set(KELVORA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KELVORA_MAINTAINER "Kelvora developers <kelvora@example.org>")
set(KELVORA_HOMEPAGE "https://kelvora.example.org/")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Everything the package holds; `make package` builds this target, not the test programs.
add_custom_target(kelvora-programs)

if(KELVORA_PACKAGING)
    find_program(KELVORA_GZIP gzip REQUIRED)
endif()

# kelvora_install_program(<target> [SUMMARY <text>])
# Installs the program under bin and, in the package tree, its man page compressed under
# share/man/man1: packaging/man/<target>.1.in where one is written (@PROJECT_VERSION@ filled
# in), otherwise made by help2man from the program's --help and --version, SUMMARY being the
# page's one-line description and packaging/man/<target>.h2m, when present, adding sections.
function(kelvora_install_program target)
    cmake_parse_arguments(P "" "SUMMARY" "" ${ARGN})
    install(TARGETS ${target}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        BUNDLE DESTINATION ${CMAKE_INSTALL_BINDIR})
    add_dependencies(kelvora-programs ${target})
    if(NOT KELVORA_PACKAGING)
        return()
    endif()

    set(source ${KELVORA_PACKAGING_DIR}/man/${target})
    set(page ${PROJECT_BINARY_DIR}/man/${target}.1)
    if(EXISTS ${source}.1.in)
        set(written ${PROJECT_BINARY_DIR}/man/written/${target}.1)
        configure_file(${source}.1.in ${written} @ONLY)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E copy ${written} ${page}
            COMMAND ${KELVORA_GZIP} -9nf ${page}
            DEPENDS ${written}
            COMMENT "Man page ${target}.1"
            VERBATIM)
    else()
        if(NOT P_SUMMARY)
            message(FATAL_ERROR "kelvora_install_program(${target}): give SUMMARY or write packaging/man/${target}.1.in")
        endif()
        find_program(KELVORA_HELP2MAN help2man REQUIRED)
        set(include)
        set(depends ${target})
        if(EXISTS ${source}.h2m)
            set(include --include=${source}.h2m)
            list(APPEND depends ${source}.h2m)
        endif()
        # Run through PATH so the usage line names the program, not its path in the build tree.
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env "PATH=$<TARGET_FILE_DIR:${target}>:$ENV{PATH}" QT_QPA_PLATFORM=offscreen
                ${KELVORA_HELP2MAN} --no-info --no-discard-stderr --section=1 "--name=${P_SUMMARY}"
                ${include} --output=${page} ${target}
            COMMAND ${KELVORA_GZIP} -9nf ${page}
            DEPENDS ${depends}
            COMMENT "Man page ${target}.1 from its --help"
            VERBATIM)
    endif()
    add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
    add_dependencies(kelvora-programs ${target}-man)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

install(FILES ${KELVORA_PACKAGING_DIR}/${KELVORA_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${KELVORA_PACKAGING_DIR}/${KELVORA_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${KELVORA_PACKAGING_DIR}/${KELVORA_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
install(FILES ${KELVORA_PACKAGING_DIR}/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelvora)

if(KELVORA_PACKAGING)
    # The changelog's and the release notes' newest entry must be this version: a version bump
    # in project() needs its notes in packaging/changelog and the metainfo's <releases>.
    file(STRINGS ${KELVORA_PACKAGING_DIR}/changelog changelogTop LIMIT_COUNT 1)
    string(REGEX MATCH "^kelvora \\(([^)]+)\\)" _ "${changelogTop}")
    if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
        message(FATAL_ERROR "packaging/changelog starts with version '${CMAKE_MATCH_1}', the project is ${PROJECT_VERSION}")
    endif()
    file(READ ${KELVORA_PACKAGING_DIR}/${KELVORA_APP_ID}.metainfo.xml metainfo)
    string(REGEX MATCH "<release version=\"([^\"]+)\"" _ "${metainfo}")
    if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
        message(FATAL_ERROR "the metainfo's newest release is '${CMAKE_MATCH_1}', the project is ${PROJECT_VERSION}")
    endif()

    set(changelog ${PROJECT_BINARY_DIR}/doc/changelog)
    add_custom_command(OUTPUT ${changelog}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
        COMMAND ${CMAKE_COMMAND} -E copy ${KELVORA_PACKAGING_DIR}/changelog ${changelog}
        COMMAND ${KELVORA_GZIP} -9nf ${changelog}
        DEPENDS ${KELVORA_PACKAGING_DIR}/changelog
        COMMENT "Compressed changelog"
        VERBATIM)
    add_custom_target(kelvora-changelog ALL DEPENDS ${changelog}.gz)
    add_dependencies(kelvora-programs kelvora-changelog)
    install(FILES ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelvora)
endif()

# The Debian package: kelvora_<version>_<arch>.deb, Depends from the programs' shared libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kelvora developers")
set(CPACK_PACKAGE_CONTACT ${KELVORA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for networked QV- PTZ cameras")
file(READ ${KELVORA_PACKAGING_DIR}/description CPACK_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KELVORA_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KELVORA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
