# Installation and the Debian packages (`make package`): the programs under bin with their man
# pages, the menu entry, icon and AppStream metainfo under share, and CPack's DEB settings.
# The package tree (KELVORA_PACKAGING=ON) also builds and installs the man pages and the compressed
# changelog; other trees install the programs and the desktop files only, and build the man pages
# only when asked (target kelvora-man-pages, part of `make run`), to be read from the build tree.
#
# Two packages from one tree. `kelvora` holds the window and what the desktop needs; it depends on
# `kelvora-cli` of the same version, which holds every other program. Those link Qt Core and
# Network only, so a headless machine that runs kelvora-fleet or kelvora-check from a script
# installs them without the graphical stack. Every install() names its component (window or
# cli); the package tree refuses one that does not.

include(GNUInstallDirs)

option(KELVORA_PACKAGING "Build the man pages and the changelog the package installs" OFF)

# One id for the desktop entry, the metainfo and the icon: the reverse DNS of kelvora.github.io,
# the domain GitHub gives the project's organisation, so the id stays the project's own.
set(KELVORA_APP_ID io.github.kelvora.Kelvora)
set(KELVORA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
# A role address on the id's domain rather than a person's, so it survives a change of maintainer
# and names the same owner as the id and the home page. GitHub serves no mail for that domain:
# the address must be made to reach a mailbox before the packages go to anyone else.
set(KELVORA_MAINTAINER "Kelvora developers <maintainers@kelvora.github.io>")
set(KELVORA_HOMEPAGE "https://github.com/kelvora/kelvora")

# Package names, and the programs that need a display: those go to the window's package, every
# other program to the command-line one.
set(KELVORA_WINDOW_PACKAGE kelvora)
set(KELVORA_CLI_PACKAGE kelvora-cli)
set(KELVORA_WINDOW_PROGRAMS kelvora)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Everything the package holds; `make package` builds this target, not the test programs.
add_custom_target(kelvora-programs)
# Every program's man page in <build>/man/, readable with `man -l` before anything is installed.
add_custom_target(kelvora-man-pages)

find_program(KELVORA_GZIP gzip REQUIRED)

# kelvora_install_program(<target> [SUMMARY <text>])
# Installs the program under bin and, in the package tree, its man page compressed under
# share/man/man1, both in the window's package for KELVORA_WINDOW_PROGRAMS and in kelvora-cli
# otherwise: packaging/man/<target>.1.in where one is written (@PROJECT_VERSION@ filled
# in), otherwise made by help2man from the program's --help and --version, SUMMARY being the
# page's one-line description and packaging/man/<target>.h2m, when present, adding sections.
# Every tree can build the page (<target>-man, in kelvora-man-pages); only the package tree
# builds it with everything and installs it. Outside it a page help2man would make is left out
# when help2man is not installed, so that `make run` needs no packaging tool.
function(kelvora_install_program target)
    cmake_parse_arguments(P "" "SUMMARY" "" ${ARGN})
    if(target IN_LIST KELVORA_WINDOW_PROGRAMS)
        set(component window)
    else()
        set(component cli)
    endif()
    install(TARGETS ${target}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component}
        BUNDLE DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
    add_dependencies(kelvora-programs ${target})

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
        if(KELVORA_PACKAGING)
            find_program(KELVORA_HELP2MAN help2man REQUIRED)
        else()
            find_program(KELVORA_HELP2MAN help2man)
            if(NOT KELVORA_HELP2MAN)
                message(STATUS "help2man not found: no man page for ${target} in this tree")
                return()
            endif()
        endif()
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
    if(KELVORA_PACKAGING)
        add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
        add_dependencies(kelvora-programs ${target}-man)
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    else()
        add_custom_target(${target}-man DEPENDS ${page}.gz)
    endif()
    add_dependencies(kelvora-man-pages ${target}-man)
endfunction()

install(FILES ${KELVORA_PACKAGING_DIR}/${KELVORA_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT window)
install(FILES ${KELVORA_PACKAGING_DIR}/${KELVORA_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo COMPONENT window)
install(FILES ${KELVORA_PACKAGING_DIR}/${KELVORA_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps COMPONENT window)
# Debian wants the copyright and changelog in each package's own doc folder.
set(KELVORA_COMPONENTS window cli)
set(KELVORA_PACKAGES ${KELVORA_WINDOW_PACKAGE} ${KELVORA_CLI_PACKAGE})
foreach(component package IN ZIP_LISTS KELVORA_COMPONENTS KELVORA_PACKAGES)
    install(FILES ${KELVORA_PACKAGING_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

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
    foreach(component package IN ZIP_LISTS KELVORA_COMPONENTS KELVORA_PACKAGES)
        install(FILES ${changelog}.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
    endforeach()
endif()

# The Debian packages: <name>_<version>_<arch>.deb, one per component, each with Depends from its
# programs' shared libraries. Each description file's first line is the package's summary; no
# common summary is set, since CPack would put it above both.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME kelvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kelvora developers")
set(CPACK_PACKAGE_CONTACT ${KELVORA_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KELVORA_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE kelvora)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KELVORA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENTS_ALL ${KELVORA_COMPONENTS})

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME ${KELVORA_WINDOW_PACKAGE})
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "${KELVORA_CLI_PACKAGE} (= ${PROJECT_VERSION})")
file(READ ${KELVORA_PACKAGING_DIR}/${KELVORA_WINDOW_PACKAGE}.description CPACK_DEBIAN_WINDOW_DESCRIPTION)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${KELVORA_CLI_PACKAGE})
file(READ ${KELVORA_PACKAGING_DIR}/${KELVORA_CLI_PACKAGE}.description CPACK_DEBIAN_CLI_DESCRIPTION)
include(CPack)

# A file installed without a component would be in neither package; the package tree refuses one
# once every folder has been read.
function(kelvora_check_components)
    get_cmake_property(components COMPONENTS)
    list(REMOVE_ITEM components ${KELVORA_COMPONENTS})
    if(components)
        list(JOIN components ", " components)
        list(JOIN KELVORA_COMPONENTS " or " known)
        message(FATAL_ERROR "install component ${components} belongs to no package: every install() "
            "names COMPONENT ${known} (cmake/KelvoraPackage.cmake)")
    endif()
endfunction()
if(KELVORA_PACKAGING)
    cmake_language(DEFER CALL kelvora_check_components)
endif()
