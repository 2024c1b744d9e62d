# The Debian package, built by CPack from what the install rules put down
# (`make package`). Included last, after every install rule is known.
#
# Depends comes from dpkg-shlibdeps over the stripped programs, so it follows
# whatever Qt the build machine links; only the soft relations are written
# here by hand.

# The changelog and the AppStream release list both name the current
# release; a version bump that forgets one of them stops here.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog _korvan_changelog_top LIMIT_COUNT 1)
if(NOT _korvan_changelog_top MATCHES "^korvan-controller \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog must open with an entry for ${PROJECT_VERSION}; "
        "it opens with '${_korvan_changelog_top}'")
endif()
file(READ ${PROJECT_SOURCE_DIR}/packaging/example.korvan.Controller.metainfo.xml _korvan_metainfo)
if(NOT _korvan_metainfo MATCHES "<releases>[ \t\r\n]*<release version=\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "the metainfo file's newest release must be ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvan-controller)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Korvan Controller developers")
set(CPACK_PACKAGE_CONTACT "Korvan Controller developers <dev@korvan.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray program that supervises the Korvan background services")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directory modes that do not follow the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # korvan-controller_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# Read here rather than through CPACK_PACKAGE_DESCRIPTION_FILE, which CPack
# escapes for XML (an apostrophe would reach the control file as &apos;).
file(READ ${PROJECT_SOURCE_DIR}/packaging/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
