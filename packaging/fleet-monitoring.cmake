# The fleet-monitoring recipe: a systemd user service and timer that keep
# the status in the node exporter's textfile folder, and alert rules for
# Prometheus. A package does not enable the units for every user behind their
# back; each user who wants them runs `systemctl --user enable --now`.
#
# Where the units go depends on the prefix, known for sure only at install
# time (cmake --install --prefix):
#   /usr, /usr/local      <prefix>/lib/systemd/user, on the user manager's
#                         search path, where Debian puts user units
#   any folder in $HOME   ~/.local/share/systemd/user, the user manager's own
#   anything else         <prefix>/lib/systemd/user, which the user manager
#                         does not read: `systemctl --user link` each unit
# KORVAN_USER_UNIT_DIR, when set, is used whatever the prefix.
include(GNUInstallDirs)
set(KORVAN_USER_UNIT_DIR "" CACHE PATH
    "Absolute folder for the systemd user units; empty to choose it from the install prefix")
install(CODE "
    set(KORVANCTL \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/korvanctl\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/systemd/korvan-metrics.service.in\"
        \"${CMAKE_CURRENT_BINARY_DIR}/korvan-metrics.service\" @ONLY)
    cmake_path(SET _prefix NORMALIZE \"\${CMAKE_INSTALL_PREFIX}/\")
    set(_units \"${KORVAN_USER_UNIT_DIR}\")
    set(_home_prefix FALSE)
    if(NOT \"\$ENV{HOME}\" STREQUAL \"\" AND NOT \"\$ENV{HOME}\" STREQUAL \"/\")
        cmake_path(SET _home NORMALIZE \"\$ENV{HOME}/\")
        cmake_path(IS_PREFIX _home \"\${_prefix}\" _home_prefix)
    endif()
    if(_units STREQUAL \"\" AND _home_prefix AND NOT _prefix MATCHES \"^/usr/(local/)?$\")
        set(_units \"\${_home}.local/share/systemd/user\")
    elseif(_units STREQUAL \"\")
        set(_units \"\${_prefix}lib/systemd/user\")
    endif()
    file(INSTALL \"${CMAKE_CURRENT_BINARY_DIR}/korvan-metrics.service\"
        \"${CMAKE_CURRENT_LIST_DIR}/systemd/korvan-metrics.timer\"
        DESTINATION \"\${_units}\" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/prometheus/korvan-alerts.yml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/korvan-controller/prometheus)
