# Shared build settings for Kelvora's own targets.

set(KELVORA_WARNINGS -Wall -Wextra -Wpedantic -Werror)

if(KELVORA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
    # The test tree links some fifty programs: LLVM's linker takes a third of the time of the
    # default one (make test installs it; without it the default links the same programs).
    include(CheckLinkerFlag)
    check_linker_flag(CXX -fuse-ld=lld KELVORA_HAVE_LLD)
    if(KELVORA_HAVE_LLD)
        add_link_options(-fuse-ld=lld)
    endif()
endif()

# kelvora_target(<target>): warnings as errors and Qt's stricter string conversions.
function(kelvora_target target)
    target_compile_options(${target} PRIVATE ${KELVORA_WARNINGS})
    target_compile_definitions(${target} PRIVATE
        QT_NO_FOREACH
        QT_NO_URL_CAST_FROM_STRING)
endfunction()

# kelvora_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One QtTest executable per unit, run by CTest on the offscreen platform.
# Every test compiles against one precompiled header of the Qt modules the tests use, made
# once: QtTest and its widgets and network parts are most of a test's compile time. Each test
# is compiled as the header was (Widgets and Network linked, the same definitions), or the
# compiler would not take it; QtTest's folder of each test's own (for QFINDTESTDATA, which no
# test uses) is taken away for the same reason.
set(KELVORA_TEST_FLAGS -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
function(kelvora_test_pch)
    if(TARGET kelvora_testpch)
        return()
    endif()
    file(WRITE ${CMAKE_BINARY_DIR}/generated/testpch.cpp "// The precompiled header's own translation unit.\n")
    add_library(kelvora_testpch OBJECT ${CMAKE_BINARY_DIR}/generated/testpch.cpp)
    target_link_libraries(kelvora_testpch PRIVATE Qt6::Test Qt6::Widgets Qt6::Network)
    kelvora_target(kelvora_testpch)
    target_compile_options(kelvora_testpch PRIVATE ${KELVORA_TEST_FLAGS})
    target_precompile_headers(kelvora_testpch PRIVATE <QtTest>)
endfunction()

function(kelvora_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    kelvora_test_pch()
    qt_add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES MACOSX_BUNDLE OFF WIN32_EXECUTABLE OFF)
    target_link_libraries(${name} PRIVATE Qt6::Test Qt6::Widgets Qt6::Network ${T_LIBS})
    kelvora_target(${name})
    target_compile_options(${name} PRIVATE ${KELVORA_TEST_FLAGS})
    target_precompile_headers(${name} REUSE_FROM kelvora_testpch)
    # The test's own moc output is included by its source; the file AUTOMOC compiles beside it
    # is all but empty and would only pay for loading the header.
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/mocs_compilation.cpp
                                PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()
