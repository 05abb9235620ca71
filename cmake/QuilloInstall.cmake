# Installation, the CMake package, the pkg-config file and the Debian package.
#
# Included at the end of the top-level CMakeLists.txt, once every target exists. Layout under
# the install prefix (GNUInstallDirs):
#
#   <libdir>/libquillo.so.0.1.0           the library (SONAME libquillo.so.0)
#   <libdir>/libquillo.so.0               its SONAME link (what hosts load)
#   <libdir>/libquillo.so                 the link hosts are built with (-lquillo)
#   <libdir>/quillo-webext/               its web-process extension (when it is built)
#   <includedir>/quillo.h                 the host's header
#   <bindir>/quillo-shot, quillo-view     the host tools that are built
#   <mandir>/man1/quillo-*.1.gz           their manual pages
#   <docdir>/LICENSE                      the licence (Debian packages: copyright, changelog)
#   <libdir>/pkgconfig/quillo.pc          pkg-config
#   <libdir>/cmake/quillo/                find_package(quillo) -> quillo::quillo
#   ${QUILLO_INSTALL_PYTHONDIR}/quillo/    the Python binding, when that is set
#
# The library finds its extension beside its own file, and the tools find the library through
# a runpath relative to their own file, so an installed tree keeps working when it is moved.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUILLO_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/quillo"
    CACHE STRING "Where the CMake package files are installed, relative to the prefix")
set(QUILLO_INSTALL_PKGCONFIGDIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig"
    CACHE STRING "Where quillo.pc is installed, relative to the prefix")

# ---- the library, its header and its web-process extension -------------------------------

# The target's own INSTALL_INTERFACE include path gives quillo::quillo its header folder.
# The versioned file and its SONAME link are the runtime; the bare libquillo.so link is only
# for building hosts.
install(TARGETS quillo EXPORT quilloTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development)
install(FILES ${PROJECT_SOURCE_DIR}/include/quillo.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
install(FILES ${PROJECT_SOURCE_DIR}/include/quillo/views.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quillo COMPONENT Development)

if(TARGET quillo_webext)
  # The library looks for <its own folder>/${QUILLO_WEBEXT_SUBDIR}.
  install(TARGETS quillo_webext
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/${QUILLO_WEBEXT_SUBDIR} COMPONENT Runtime)
endif()

# ---- host tools --------------------------------------------------------------------------

# The tools reach the library through a runpath relative to themselves, unless it lands in a
# directory the loader searches anyway (a /usr install), where a runpath would only be noise.
file(RELATIVE_PATH _quillo_bin_to_lib
  "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
set(_quillo_tool_rpath "$ORIGIN/${_quillo_bin_to_lib}")
if("${CMAKE_INSTALL_FULL_LIBDIR}" IN_LIST CMAKE_C_IMPLICIT_LINK_DIRECTORIES OR
   "${CMAKE_INSTALL_FULL_LIBDIR}" IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  set(_quillo_tool_rpath "")
endif()

foreach(_quillo_tool IN ITEMS quillo-shot quillo-view)
  if(TARGET ${_quillo_tool})
    set_target_properties(${_quillo_tool} PROPERTIES INSTALL_RPATH "${_quillo_tool_rpath}")
    install(TARGETS ${_quillo_tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
  endif()
endforeach()

# Their manual pages (docs/man, made from their --help by tools/manpage.py; the test man.*
# checks that the two agree), compressed the way Debian installs them.
foreach(_quillo_tool IN ITEMS quillo-shot quillo-view)
  if(TARGET ${_quillo_tool})
    set(_quillo_man ${PROJECT_BINARY_DIR}/man/${_quillo_tool}.1.gz)
    add_custom_command(OUTPUT ${_quillo_man}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/man/${_quillo_tool}.1 > ${_quillo_man}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${_quillo_tool}.1 VERBATIM)
    add_custom_target(${_quillo_tool}-man ALL DEPENDS ${_quillo_man})
    install(FILES ${_quillo_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tools)
  endif()
endforeach()

# ---- the Python binding (pure Python over ctypes), when asked for ------------------------

set(QUILLO_INSTALL_PYTHONDIR "" CACHE STRING
  "Where to install the Python package 'quillo', relative to the prefix (for a Debian package: lib/python3/dist-packages); empty: not installed")
if(QUILLO_INSTALL_PYTHONDIR)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/quillo
    DESTINATION ${QUILLO_INSTALL_PYTHONDIR} COMPONENT Python
    FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
  # A copy of the project's version file (the source tree's quillo/VERSION is a link to it).
  install(FILES ${PROJECT_SOURCE_DIR}/VERSION
    DESTINATION ${QUILLO_INSTALL_PYTHONDIR}/quillo COMPONENT Python)
endif()

# ---- CMake package: find_package(quillo) gives quillo::quillo ----------------------------

install(EXPORT quilloTargets NAMESPACE quillo::
  DESTINATION ${QUILLO_INSTALL_CMAKEDIR} COMPONENT Development)
set(QUILLO_CONFIG_WEBEXT_SUBDIR "${QUILLO_WEBEXT_SUBDIR}")
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/quilloConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quillo-package/quilloConfig.cmake
  INSTALL_DESTINATION ${QUILLO_INSTALL_CMAKEDIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
# The interface is eight C functions that keep their signatures within a major version.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/quillo-package/quilloConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/quillo-package/quilloConfig.cmake
  ${PROJECT_BINARY_DIR}/quillo-package/quilloConfigVersion.cmake
  DESTINATION ${QUILLO_INSTALL_CMAKEDIR} COMPONENT Development)

# ---- pkg-config --------------------------------------------------------------------------

# The prefix written into quillo.pc is the one the install actually uses, which
# `cmake --install --prefix` and CPack may choose after configuration; so the file is
# finished at install time. Every other path in it is relative to ${prefix}, so a moved tree
# works with `pkg-config --define-variable=prefix=NEW quillo`.
foreach(_quillo_dir IN ITEMS LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_quillo_dir}}")
    set(QUILLO_PC_${_quillo_dir} "${CMAKE_INSTALL_${_quillo_dir}}")
  else()
    set(QUILLO_PC_${_quillo_dir} "\${prefix}/${CMAKE_INSTALL_${_quillo_dir}}")
  endif()
endforeach()
set(QUILLO_PC_PREFIX "@QUILLO_PC_PREFIX@")  # left for the install step
configure_file(${CMAKE_CURRENT_LIST_DIR}/quillo.pc.in
  ${PROJECT_BINARY_DIR}/quillo-package/quillo.pc.in @ONLY)
install(CODE "set(_quillo_pc_template \"${PROJECT_BINARY_DIR}/quillo-package/quillo.pc.in\")
set(_quillo_pc_file \"${PROJECT_BINARY_DIR}/quillo-package/quillo.pc\")"
  COMPONENT Development)
install(CODE [[
  file(READ "${_quillo_pc_template}" _quillo_pc)
  string(REPLACE "@QUILLO_PC_PREFIX@" "${CMAKE_INSTALL_PREFIX}" _quillo_pc "${_quillo_pc}")
  file(WRITE "${_quillo_pc_file}" "${_quillo_pc}")
]] COMPONENT Development)
install(FILES ${PROJECT_BINARY_DIR}/quillo-package/quillo.pc
  DESTINATION ${QUILLO_INSTALL_PKGCONFIGDIR} COMPONENT Development)

# ---- Debian packages (cpack -G DEB; ./run package builds and checks them) ------------------
#
# Split the way Debian splits a library, one package per install component:
#   libquillo0      Runtime      the library (libquillo.so.0) and its web-process extension:
#                                what a host program's package depends on (no SDL2, no Python)
#   libquillo-dev   Development  header, libquillo.so link, pkg-config file, CMake package
#   quillo-tools    Tools        quillo-shot and quillo-view with their manual pages (the
#                                viewer brings SDL2)
#   python3-quillo  Python       the ctypes binding (architecture all)
# Each of the others depends on libquillo0 of the same version. The runtime package is named
# after the SONAME, as Debian names library packages, so that a new major version can be
# installed beside the old one.

# The maintainer written into the packages (-DQUILLO_DEBIAN_MAINTAINER="Name <address>" for
# another).
if(NOT QUILLO_DEBIAN_MAINTAINER)
  set(QUILLO_DEBIAN_MAINTAINER
    "quillo maintainers <maintainers@users.noreply.c-seed-cf7e7029.example>")
endif()
option(QUILLO_DEBIAN_DOCS
  "Install each Debian package's copyright and changelog under share/doc/<package> (./run package)"
  OFF)

set(QUILLO_RUNTIME_PACKAGE libquillo${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${QUILLO_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquillo-dev)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quillo-tools)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-quillo)

# The licence: LICENSE for a plain install; for the Debian packages, the machine-readable
# copyright file and the changelog (cmake/debian) in every package's documentation folder.
if(QUILLO_DEBIAN_DOCS)
  set(_quillo_changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  add_custom_command(OUTPUT ${_quillo_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
    COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/debian/changelog > ${_quillo_changelog}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog VERBATIM)
  add_custom_target(quillo_debian_changelog ALL DEPENDS ${_quillo_changelog})
  foreach(_quillo_component IN ITEMS Runtime Development Tools Python)
    string(TOUPPER ${_quillo_component} _quillo_upper)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${_quillo_changelog}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${_quillo_upper}_PACKAGE_NAME}
      COMPONENT ${_quillo_component})
  endforeach()
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
    COMPONENT Runtime)
endif()

set(CPACK_PACKAGE_NAME quillo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUILLO_DEBIAN_MAINTAINER}")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
# Install with DESTDIR so that the prefix the files see (and quillo.pc records) is the
# packaged one, not CPack's staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tools)
if(QUILLO_INSTALL_PYTHONDIR)
  list(APPEND CPACK_COMPONENTS_ALL Python)
endif()
# A component's DEPENDS become "libquillo0 (= VERSION)" in its package's Depends.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
foreach(_quillo_component IN ITEMS DEVELOPMENT TOOLS PYTHON)
  set(CPACK_COMPONENT_${_quillo_component}_DEPENDS Runtime)
endforeach()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Descriptions: a synopsis, then lines of at most 79 characters. (No package-wide summary: CPack
# would put it before each component's synopsis.)
set(_quillo_about [=[
quillo gives a host program (a game, a kiosk, a signage application) one
live web page, rendered by WPE WebKit into pixel memory the host owns. The
host polls once per frame for notices and forwards mouse, keyboard and
focus input through eight plain-C functions.
]=])
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "off-screen web page painted into a host's memory
${_quillo_about}
This package holds the library and its web-process extension.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "off-screen web page for hosts - development files
${_quillo_about}
This package holds the header, the pkg-config file and the CMake package.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION web)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "web page to PNG renderer and viewer built on libquillo
${_quillo_about}
This package holds quillo-shot, which writes a page's picture to a PNG file,
and quillo-view, which shows a live page in a window.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "off-screen web page for hosts - Python 3 binding
${_quillo_about}
This package holds the ctypes binding, the Python module quillo.")

# What is loaded at run time without being linked is named explicitly: the EGL loader and the
# Mesa drivers the web process renders with. dpkg-shlibdeps adds the linked libraries (WPE
# WebKit, its backend, libwpe, GLib, GStreamer (the web-process extension's media source),
# libstdc++; the tools' libpng and SDL2) with the versions their symbols need; without it those
# are listed here by hand.
set(QUILLO_RUNTIME_DEPENDS "libegl1, libegl-mesa0, libgl1-mesa-dri")
find_program(QUILLO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QUILLO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${QUILLO_RUNTIME_DEPENDS}")
  # The tools need libquillo.so.0, which is staged in the runtime package's folder beside the
  # tools' own (dpkg-shlibdeps runs in each package's folder); the dependency on libquillo0
  # comes from the component's DEPENDS.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "../Runtime${CMAKE_INSTALL_FULL_LIBDIR}")
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libwpewebkit-1.1-0 (>= 2.38), \
libwpebackend-fdo-1.0-1, libwpe-1.0-1, libglib2.0-0, libgstreamer1.0-0, libwayland-server0, \
libstdc++6, ${QUILLO_RUNTIME_DEPENDS}")
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
    "libpng16-16, libsdl2-2.0-0, libsdl2-ttf-2.0-0, libfontconfig1")
endif()
# What pages use: without the media plugins the library turns media off; without the fonts,
# CJK, Thai, Devanagari and emoji are drawn as empty boxes.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-base, \
gstreamer1.0-plugins-good, gstreamer1.0-gl, gstreamer1.0-libav, fonts-noto-core, \
fonts-noto-cjk, fonts-noto-color-emoji")
# The package that held the same files before the library was named after its SONAME.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_BREAKS "libquillo")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_REPLACES "libquillo")
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-pil")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS "pkg-config, cmake")

# The library's interface for dpkg-shlibdeps of packages built against it: shlibs (a host needs
# at least the version that brought this ABI) and symbols (the functions of quillo.h and
# quillo/views.h, each since the version that brought it); and an ldconfig trigger instead of
# maintainer scripts.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/shlibs.in
  ${PROJECT_BINARY_DIR}/debian/control/shlibs @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/symbols.in
  ${PROJECT_BINARY_DIR}/debian/control/symbols @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/triggers
  ${PROJECT_BINARY_DIR}/debian/control/triggers COPYONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/control/shlibs
  ${PROJECT_BINARY_DIR}/debian/control/symbols ${PROJECT_BINARY_DIR}/debian/control/triggers)
# CPack writes postinst and postrm scripts that call ldconfig into every package with a library
# in /usr/lib; the trigger does that job, so the finishing step takes them out again.
set(CPACK_QUILLO_RUNTIME_PACKAGE ${QUILLO_RUNTIME_PACKAGE})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/finish_packages.cmake)

include(CPack)
