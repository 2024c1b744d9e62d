# Compiler warnings and sanitizers shared by every target of the project.
add_library(korvan_options INTERFACE)
target_compile_options(korvan_options INTERFACE
    -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual)
if(KORVAN_WERROR)
    target_compile_options(korvan_options INTERFACE -Werror)
endif()
target_compile_definitions(korvan_options INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_KEYWORDS QT_USE_QSTRINGBUILDER)

# The hardening Debian builds its own packages with, for the optimised builds
# that get packaged: checked libc calls (they need -O), a stack protector and
# a read-only GOT. Sanitizer and fuzz builds bring their own instrumentation.
if(NOT KORVAN_SANITIZE AND NOT KORVAN_FUZZ)
    set(_optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
    target_compile_definitions(korvan_options INTERFACE $<${_optimised}:_FORTIFY_SOURCE=2>)
    target_compile_options(korvan_options INTERFACE $<${_optimised}:-fstack-protector-strong>)
    target_link_options(korvan_options INTERFACE $<${_optimised}:LINKER:-z,relro,-z,now>)
endif()

if(KORVAN_SANITIZE)
    set(_flags "")
    foreach(_s IN LISTS KORVAN_SANITIZE)
        if(NOT _s MATCHES "^(address|undefined|thread)$")
            message(FATAL_ERROR "KORVAN_SANITIZE: unknown sanitizer '${_s}'")
        endif()
        list(APPEND _flags "-fsanitize=${_s}")
    endforeach()
    list(APPEND _flags -fno-omit-frame-pointer)
    if("undefined" IN_LIST KORVAN_SANITIZE)
        list(APPEND _flags -fno-sanitize-recover=undefined)
    endif()
    target_compile_options(korvan_options INTERFACE ${_flags})
    target_link_options(korvan_options INTERFACE ${_flags})
endif()

# A fuzzing build instruments our own code for coverage feedback and memory
# errors; Qt stays the system's uninstrumented build. Only the fuzz targets
# link libFuzzer's main (tests/fuzz).
if(KORVAN_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "KORVAN_FUZZ needs clang (CXX=clang++-14), not ${CMAKE_CXX_COMPILER_ID}")
    endif()
    if(KORVAN_SANITIZE)
        message(FATAL_ERROR "KORVAN_FUZZ brings its own sanitizers; leave KORVAN_SANITIZE empty")
    endif()
    set(_fuzz_flags -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer -g)
    target_compile_options(korvan_options INTERFACE ${_fuzz_flags})
    target_link_options(korvan_options INTERFACE -fsanitize=address,undefined)
endif()
