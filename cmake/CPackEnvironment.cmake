# Read by cpack before it packs. A cross build's dpkg-shlibdeps must ask the
# sysroot's dpkg database, not this machine's (dpkg-query, which it runs,
# honours DPKG_ADMINDIR), and know the packages' architecture, so that it
# reads their objects with the cross objdump.
if(CPACK_TRM27K_DPKG_ADMINDIR)
  set(ENV{DPKG_ADMINDIR} "${CPACK_TRM27K_DPKG_ADMINDIR}")
  set(ENV{DEB_HOST_ARCH} "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}")
endif()
