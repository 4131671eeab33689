# Debian packages through CPack (`cpack -G DEB` in a package build, see
# scripts/package-check.sh):
#   trm27k      the plug-in, the host library, the programs, the service unit,
#               its account and the default configuration (a conffile)
#   trm27k-dev  the host headers, the library link and the CMake package
# Library dependencies are computed by dpkg-shlibdeps; the architecture comes
# from the toolchain (armhf for the cross build, packed from its build tree).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trm27k)
set(CPACK_PACKAGE_VENDOR "trm27k developers")
set(CPACK_PACKAGE_CONTACT "trm27k developers <trm27k@example.org>")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The packaged programs find the host library where the package puts it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/host)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

# dpkg-shlibdeps maps each library to the package that ships it through a
# dpkg database. The cross build's libraries are those of its sysroot, which
# keeps a database of its own (scripts/make-sysroot.sh): dpkg-shlibdeps
# searches the sysroot's library folders and asks that database, set for
# cpack by cmake/CPackEnvironment.cmake.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${TRM27K_SYSROOT}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}
    ${TRM27K_SYSROOT}/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  set(CPACK_TRM27K_DPKG_ADMINDIR ${TRM27K_SYSROOT}/var/lib/dpkg)
  if(NOT EXISTS ${CPACK_TRM27K_DPKG_ADMINDIR}/status)
    message(WARNING "The sysroot ${TRM27K_SYSROOT} has no dpkg database: run scripts/make-sysroot.sh "
      "again before cpack, or the packages' Depends cannot be computed")
  endif()
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackEnvironment.cmake)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME trm27k)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "monitor for a TRM27K telecom power system
A device-driver plug-in and its host framework library that supervise one
TRM27K power system (AC distribution, rectifiers, DC distribution) over a
9600-baud serial line, with trm27k-monitor, a host that runs as a systemd
service (watchdog, state in /var/lib/trm27k, settings in
/etc/trm27k/trm27k.json) and finds the power system's port with --scan;
trm27k-sim, a simulator of the power system; and trm27k-decode, which prints
saved record images as JSON.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/packaging/debian/conffiles
  ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
  ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
  ${CMAKE_SOURCE_DIR}/packaging/debian/triggers
  ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME trm27k-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "host framework headers and CMake package for trm27k
The headers of the trm27k host framework library, its link and a CMake
package, so that a monitoring host can build against it with
find_package(trm27k) and load the TRM27K plug-in.")
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "trm27k (= ${PROJECT_VERSION}-1), libjsoncpp-dev, libboost-date-time-dev, libboost-thread-dev")

include(CPack)
