# Build-time constants of the application, checked here so that a bad value
# stops the configure step instead of shipping.
#
# Also runnable as a script (cmake -DKORVAN_DEFAULT_HUB_URL=... -P this file)
# to check a value alone; the tests use that.

set(KORVAN_DEFAULT_HUB_URL "https://hub.korvan.example" CACHE STRING
    "Hub the pairing window starts with and the menu opens: an https origin without a path")

# An https origin: scheme, a host name or bracketed IPv6 address, an optional
# port, and nothing after it (no path, query, fragment or user information).
set(_korvan_host "([A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?|\\[[0-9A-Fa-f:.]+\\])")
if(NOT KORVAN_DEFAULT_HUB_URL MATCHES "^https://${_korvan_host}(:[0-9]+)?$")
    message(FATAL_ERROR
        "KORVAN_DEFAULT_HUB_URL must be an https origin without a path, "
        "such as https://hub.example.com; got '${KORVAN_DEFAULT_HUB_URL}'")
endif()

if(CMAKE_SCRIPT_MODE_FILE)
    return()
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/KorvanConfig.h.in
    ${PROJECT_BINARY_DIR}/generated/KorvanConfig.h @ONLY)
add_library(korvan_config INTERFACE)
target_include_directories(korvan_config INTERFACE ${PROJECT_BINARY_DIR}/generated)
target_link_libraries(korvan_config INTERFACE Qt6::Core)
