# What "cmake --install" puts where, and the Debian package CPack builds
# from it ("cpack -G DEB" in the build folder). The programs' and the
# module's own install rules sit beside their targets; the shared files
# are installed here.
#
# The package registers nothing: every user runs "wavecatch register" once
# (or passes --module). Hosts that find no registration fall back to the
# installed module, so the demo works straight after installing.

install(FILES ${PROJECT_SOURCE_DIR}/include/cvnWCHalv.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/cvnwchalv.pc.in
               ${PROJECT_BINARY_DIR}/cvnwchalv.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cvnwchalv.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/docs/architecture.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# An example udev rule for the scope's USB device node, with made-up USB ids
# the user replaces (see the README's USB section).
install(FILES ${PROJECT_SOURCE_DIR}/cmake/udev/60-cvnwchalv-usbtmc.rules
        DESTINATION lib/udev/rules.d)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        USE_SOURCE_PERMISSIONS)

set(CPACK_PACKAGE_NAME cvnwchalv)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvane Wavecatch developers <wavecatch@corvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Wavecatch add-in for Corvane Halvio Series oscilloscopes")
set(CPACK_PACKAGE_DESCRIPTION
"The cvnWCHalv add-in module fetches screen images, raw waveform data with
its preambles, quick measurements and complete setups from a Corvane Halvio
Series oscilloscope over LAN (raw socket or VXI-11), USB or a serial port.
Included: the module with its header and pkg-config file, the wavecatch
command-line host, the halvio-sim simulator, the wavecatch Python module
and examples.
.
Installing registers nothing. Each user who wants hosts to find the add-in
by its class name runs once: wavecatch register
'wavecatch demo' works without it, and 'wavecatch doctor' checks a set-up.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from dpkg-shlibdeps (Qt's offscreen platform plugin comes with
# libqt6gui6, which it finds); what it cannot see, the interpreter and NumPy
# for the Python module, is named here, with the libraries of the capture
# formats (HDF5, libsigrok, libzip) for good measure. CPack adds ldconfig calls for
# the shared library; no other maintainer script exists.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libhdf5-103-1, libsigrok4, libzip4")
if(TARGET wavecatch_py)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${CVN_PYTHON_DEPENDS}")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-matplotlib, python3-h5py, pulseview")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(${CMAKE_CURRENT_LIST_DIR}/PackageFiles.cmake)
include(CPack)
