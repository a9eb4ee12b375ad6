# Shared build settings for Kelvora's own targets.

set(KELVORA_WARNINGS -Wall -Wextra -Wpedantic -Werror)

if(KELVORA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
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
function(kelvora_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    qt_add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES MACOSX_BUNDLE OFF WIN32_EXECUTABLE OFF)
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    kelvora_target(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()
