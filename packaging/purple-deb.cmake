# The Debian package of the libpurple plug-in, made with CPack's DEB
# generator from this build (scripts/package-deb):
#   purple-zuvo-file-sharing_2.0_amd64.deb
# It holds zuvo-file-sharing.so in libpurple's own plug-in folder (from
# purple.pc, e.g. /usr/lib/x86_64-linux-gnu/purple-2), where Pidgin and Finch
# find it for every user, with its copyright file and changelog. Depends
# comes from the plug-in's shared libraries (dpkg-shlibdeps).

# Only the plug-in is packaged: cpack installs it without building the rest
# of the tree first (scripts/package-deb builds the plug-in itself).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON CACHE BOOL "install without building everything first")

pkg_get_variable(ZUVO_PURPLE_PLUGIN_DIR purple plugindir)
set(ZUVO_DEB_NAME purple-zuvo-file-sharing)
install(TARGETS zuvo-file-sharing LIBRARY DESTINATION "${ZUVO_PURPLE_PLUGIN_DIR}")
# The maintainer is the project's author (CMakeLists.txt), in the control
# file and in the changelog's entries.
set(ZUVO_DEB_MAINTAINER "${ZUVO_AUTHOR} <${ZUVO_AUTHOR_EMAIL}>")
# Debian's documentation folder holds the copyright file and the changelog,
# compressed without a time stamp (gzip -n).
configure_file("${PROJECT_SOURCE_DIR}/packaging/changelog" "${CMAKE_CURRENT_BINARY_DIR}/changelog"
               @ONLY)
execute_process(COMMAND gzip -9nc "${CMAKE_CURRENT_BINARY_DIR}/changelog"
                OUTPUT_FILE "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
install(FILES "${PROJECT_SOURCE_DIR}/packaging/copyright" "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz"
        DESTINATION "/usr/share/doc/${ZUVO_DEB_NAME}")

set(CPACK_GENERATOR DEB)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME ${ZUVO_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The destinations above are absolute (libpurple's folder, not the prefix).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pidgin | finch")
set(CPACK_DEBIAN_PACKAGE_ENHANCES "pidgin, finch")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZUVO_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CMAKE_PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "share a folder with your contacts in Pidgin and Finch")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zuvo File Sharing is a plug-in for libpurple 2, the library of Pidgin and
Finch. Two people who both have it can list, search and fetch the files of
each other's shared folder in an ordinary XMPP or IRC conversation, with the
commands /xrlist, /xrfile, /xrfolder, /xrfolders and /xrsearch. Only buddies
are answered unless the user allows everyone; files are sent only from
inside the shared folder.
.
The plug-in is installed for every user of the machine: enable \"Zuvo File
Sharing\" in the client's plug-in dialog.")
include(CPack)
