# Include roots made of links, one set per layer, so that the sources of a layer can name the
# headers of the layers below them and no others. The layers' folders sit side by side in src/,
# so src/ itself is on no include path: each layer gets a root in the build tree that holds links
# to just the folders it may use.
#
#   quillo_include_root(<variable> <name> <folder>...)
#
# links src/<folder> as <build>/include-roots/<name>/<folder> for each folder and sets
# <variable> to the root, to be given to target_include_directories.
function(quillo_include_root variable name)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${name})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(folder IN LISTS ARGN)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  set(${variable} ${root} PARENT_SCOPE)
endfunction()
