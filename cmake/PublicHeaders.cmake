# Narrow include paths: a target's consumers see its own folder and nothing
# else of the tree.
#
# orlix_public_headers(TARGET NAME DIR) gives TARGET an include root in the
# build tree that holds a single entry, NAME, linked to DIR; whoever links
# TARGET includes DIR's headers as "NAME/file.h".  The root is per target,
# so linking one room never exposes another.
function(orlix_public_headers target name dir)
  set(root ${CMAKE_CURRENT_BINARY_DIR}/public/${target})
  file(MAKE_DIRECTORY ${root})
  file(REMOVE ${root}/${name})
  file(CREATE_LINK ${dir} ${root}/${name} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
