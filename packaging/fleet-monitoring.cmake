# The fleet-monitoring recipe: a systemd user service and timer that keep
# the status in the node exporter's textfile folder, and alert rules for
# Prometheus. The units go below share/: the user manager looks in
# $XDG_DATA_DIRS/systemd/user and ~/.local/share/systemd/user, so /usr,
# /usr/local and ~/.local all work, and a package does not enable them for
# every user behind their back.
include(GNUInstallDirs)
set(KORVAN_SYSTEMD_USER_UNIT_DIR "${CMAKE_INSTALL_DATADIR}/systemd/user" CACHE STRING
    "Directory of systemd user units, relative to the install prefix")
# The prefix is known for sure only at install time (cmake --install --prefix).
install(CODE "
    set(KORVANCTL \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/korvanctl\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/systemd/korvan-metrics.service.in\"
        \"${CMAKE_CURRENT_BINARY_DIR}/korvan-metrics.service\" @ONLY)")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/korvan-metrics.service
    ${CMAKE_CURRENT_LIST_DIR}/systemd/korvan-metrics.timer
    DESTINATION ${KORVAN_SYSTEMD_USER_UNIT_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/prometheus/korvan-alerts.yml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/korvan-controller/prometheus)
