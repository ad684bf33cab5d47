# Wine tests of the Windows programs: a fixture that makes the prefix and
# starts its wineserver, then one CTest test per case_NAME() function of a
# shell file, each run as `bash RUNNER NAME`.  The cases share a registry,
# so they never run at once.  A case that needs to run a 32-bit program on
# a machine that cannot is skipped (exit 77, see tests/wine/wine_env.sh).

# The registry view the programs of this build read.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ORLIX_WINE_VIEW 32)
else()
  set(ORLIX_WINE_VIEW 64)
endif()

# orlix_add_wine_cases(GROUP RUNNER CASES_FILE ENV...)
function(orlix_add_wine_cases group runner cases_file)
  set(env ${ARGN})
  add_test(NAME ${group}.prefix COMMAND bash ${runner} setup)
  add_test(NAME ${group}.stop COMMAND bash ${runner} cleanup)
  set_tests_properties(${group}.prefix PROPERTIES FIXTURES_SETUP ${group} ENVIRONMENT "${env}")
  set_tests_properties(${group}.stop PROPERTIES FIXTURES_CLEANUP ${group} ENVIRONMENT "${env}")

  file(STRINGS ${cases_file} case_lines REGEX "^case_[a-z0-9_]+\\(\\)")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${cases_file})
  foreach(line IN LISTS case_lines)
    string(REGEX REPLACE "^case_([a-z0-9_]+).*" "\\1" name "${line}")
    add_test(NAME ${group}.${name} COMMAND bash ${runner} ${name})
    set_tests_properties(${group}.${name} PROPERTIES FIXTURES_REQUIRED ${group}
      RESOURCE_LOCK ${group}_registry ENVIRONMENT "${env}" TIMEOUT 120
      SKIP_RETURN_CODE 77)
  endforeach()
endfunction()
