# Install rules: `cmake --install build/<preset> --prefix DIR` puts the
# programs of any preset under DIR/bin, in two components a release packs
# apart: "indexjob", the utility, and "tools", the maintainer's tools.
#
# The stand-in OrlixDB.dll is never installed: the product ships its own
# library, and no copy of the stand-in may take its place.
include(GNUInstallDirs)

# COMPONENT:FILE of each program installed, for the test below.
set(installed)
foreach(entry indexjob:indexjob tools:idxtool tools:hwsort)
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 component)
  list(GET entry 1 program)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
    list(APPEND installed
         ${component}:${CMAKE_INSTALL_BINDIR}/${program}${CMAKE_EXECUTABLE_SUFFIX})
  endif()
endforeach()

# The manuals of the tools (host builds, see tools/man).
foreach(page IN LISTS ORLIX_MANPAGES)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  get_filename_component(name ${page} NAME)
  list(APPEND installed tools:${CMAKE_INSTALL_MANDIR}/man1/${name})
endforeach()

# What an install holds, and the version each program reports.
add_test(NAME release.install COMMAND bash ${PROJECT_SOURCE_DIR}/tests/release/check_install.sh
  ${PROJECT_BINARY_DIR} ${installed})
if(WIN32)
  add_test(NAME release.version_resource
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/release/check_version.sh resource
      ${PROJECT_VERSION} ${ORLIX_VERSION_NUMBERS} ${ORLIX_PRODUCT_VERSION}
      ${CMAKE_RC_COMPILER} $<TARGET_FILE:indexjob>)
else()
  add_test(NAME release.version
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/release/check_version.sh programs
      ${PROJECT_VERSION} $<TARGET_FILE:idxtool> $<TARGET_FILE:hwsort>)
endif()
unset(installed)
unset(component)
unset(program)
unset(page)
unset(name)
