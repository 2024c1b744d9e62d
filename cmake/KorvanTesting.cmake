# korvan_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
#
# One Qt Test executable under CTest, with the offscreen platform and the
# sanitizer settings; labelled "unit" unless told otherwise.
function(korvan_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE korvan_options Qt6::Test ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_LABELS)
        set(ARG_LABELS unit)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(_labels ${ARG_LABELS})
    if(NOT _labels)
        set(_labels unit)
    endif()
    set_tests_properties(${name} PROPERTIES
        LABELS "${_labels}"
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KORVAN_TEST_SOURCE_DIR=${PROJECT_SOURCE_DIR};ASAN_OPTIONS=detect_leaks=1 abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1 halt_on_error=1")
endfunction()
