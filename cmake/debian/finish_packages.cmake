# Run by CPack after it has written the .deb files (CPACK_POST_BUILD_SCRIPTS).
#
# CPack gives every package with a library in /usr/lib postinst and postrm scripts that call
# ldconfig. The runtime package carries an ldconfig trigger instead (its control file
# "triggers"), as Debian asks, so the scripts are taken out and the package is built again
# with dpkg-deb from the same files and control data.
find_program(_quillo_dpkg_deb dpkg-deb REQUIRED)
foreach(_quillo_deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(_quillo_deb_name "${_quillo_deb}" NAME)
  if(NOT _quillo_deb_name MATCHES "^${CPACK_QUILLO_RUNTIME_PACKAGE}_.*\\.deb$")
    continue()
  endif()
  set(_quillo_tree "${_quillo_deb}.tree")
  file(REMOVE_RECURSE "${_quillo_tree}")
  execute_process(COMMAND ${_quillo_dpkg_deb} --raw-extract "${_quillo_deb}" "${_quillo_tree}"
    COMMAND_ERROR_IS_FATAL ANY)
  if(NOT EXISTS "${_quillo_tree}/DEBIAN/triggers")
    message(FATAL_ERROR "${_quillo_deb_name} has no ldconfig trigger")
  endif()
  file(REMOVE "${_quillo_tree}/DEBIAN/postinst" "${_quillo_tree}/DEBIAN/postrm")
  execute_process(COMMAND ${_quillo_dpkg_deb} --root-owner-group -Zxz --build "${_quillo_tree}"
    "${_quillo_deb}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${_quillo_tree}")
  message(STATUS "${_quillo_deb_name}: ldconfig by trigger, no maintainer scripts")
endforeach()
