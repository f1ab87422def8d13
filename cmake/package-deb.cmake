# What the Linux install and the Debian package hold besides the program: the unit (gateways from
# /etc/default/lanxroute) and its dial-up drop-in, the rotation snippet, the manual page, the working
# directory and the maintainer scripts.
# cpack -G DEB in a tree configured with -DCMAKE_INSTALL_PREFIX=/usr gives lanxroute_<version>_amd64.deb.
set(pkg ${CMAKE_BINARY_DIR}/package)
configure_file(contrib/lanxroute.service.in ${pkg}/lanxroute.service @ONLY)
# Debian wants the manual page and the changelog compressed, reproducibly.
foreach(pair "doc/lanxroute.8:lanxroute.8.gz" "contrib/changelog:changelog.Debian.gz")
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 from)
  list(GET pair 1 to)
  add_custom_command(OUTPUT ${pkg}/${to} COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/${from} > ${pkg}/${to}
    DEPENDS ${from})
  list(APPEND pkg_files ${pkg}/${to})
endforeach()
add_custom_target(package_files ALL DEPENDS ${pkg_files})

install(FILES ${pkg}/lanxroute.service DESTINATION /lib/systemd/system)
install(FILES contrib/lanxroute.default DESTINATION /etc/default RENAME lanxroute)
install(FILES contrib/lanxroute.logrotate DESTINATION /etc/logrotate.d RENAME lanxroute)
install(FILES ${pkg}/lanxroute.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES contrib/copyright ${pkg}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The drop-in that dial-up needs, for the administrator to copy into /etc/systemd/system/lanxroute.service.d/.
install(FILES contrib/dialup.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(DIRECTORY DESTINATION /var/lib/lanxroute)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "LanxRoute developers <lanxroute@lanx.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "LanxRoute keeps the IPv4 forwarding table of a host with two
uplinks in line with a prefix list that a network operator publishes over
HTTP: every prefix on the list is routed through the Lanx gateway, everything
else keeps using the world gateway. The service starts once the gateways are
set in /etc/default/lanxroute.")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "logrotate, iproute2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS ppp)
# Not meant for Debian's archive, so its first upload closes no bug.
file(WRITE ${pkg}/overrides "lanxroute: initial-upload-closes-no-bugs\n")
install(FILES ${pkg}/overrides DESTINATION share/lintian/overrides RENAME lanxroute)
# The files under /etc are the administrator's once installed.
file(WRITE ${pkg}/conffiles "/etc/default/lanxroute\n/etc/logrotate.d/lanxroute\n")
# The maintainer scripts as Debian's systemd helpers write them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pkg}/conffiles ${CMAKE_SOURCE_DIR}/contrib/debian/postinst
  ${CMAKE_SOURCE_DIR}/contrib/debian/prerm ${CMAKE_SOURCE_DIR}/contrib/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
