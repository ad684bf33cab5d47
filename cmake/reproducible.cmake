# Reproducible builds: one commit gives the same bytes whatever directory
# it is checked out and built in, whenever and by whom.  Included right
# after project(), before any target exists.
#
# Paths.  Compilers record the source and build directories in debug
# information, in __FILE__ and in assertion texts.  They are recorded as
# "." and "build" instead.  GCC and Clang let the last matching map win, so
# the build directory, often inside the source directory, comes second.
add_compile_options(
  "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
  "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")

# Time.  SOURCE_DATE_EPOCH from the environment if set, else the time of the
# commit checked out; a tree that is no git checkout of its own (an unpacked
# archive, say) and has no variable gets none.  The value is fixed when CMake
# configures, and a new commit makes the next build configure again.
set(ORLIX_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
find_package(Git QUIET)
if(ORLIX_SOURCE_DATE_EPOCH STREQUAL "" AND GIT_FOUND)
  execute_process(
    COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel --git-path HEAD --symbolic-full-name HEAD
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE git_lines OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE git_result ERROR_QUIET)
  string(REPLACE "\n" ";" git_lines "${git_lines}")
  list(LENGTH git_lines git_count)
  if(git_result EQUAL 0 AND git_count EQUAL 3)
    list(GET git_lines 0 git_top)
    file(REAL_PATH ${git_top} git_top)
    file(REAL_PATH ${PROJECT_SOURCE_DIR} source_dir)
  endif()
  if(git_result EQUAL 0 AND git_count EQUAL 3 AND git_top STREQUAL source_dir)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE ORLIX_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # HEAD, and the branch it names, change with each commit.
    list(GET git_lines 1 head_file)
    list(GET git_lines 2 ref)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path ${ref}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE ref_file OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    foreach(file IN ITEMS ${head_file} ${ref_file})
      get_filename_component(file ${file} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
      if(EXISTS ${file})
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
      endif()
    endforeach()
  endif()
endif()
if(NOT ORLIX_SOURCE_DATE_EPOCH MATCHES "^[0-9]*$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not '${ORLIX_SOURCE_DATE_EPOCH}'")
endif()

# The PE header and a DLL's export directory hold a link time.  Debian's
# mingw-w64 linker takes it from SOURCE_DATE_EPOCH in its environment, so
# every link runs with the value fixed above, whatever the shell holds;
# without one, the linker writes none.
if(WIN32)
  if(ORLIX_SOURCE_DATE_EPOCH STREQUAL "")
    add_link_options(-Wl,--no-insert-timestamp)
  else()
    foreach(lang C CXX)
      set(CMAKE_${lang}_LINKER_LAUNCHER
          ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ORLIX_SOURCE_DATE_EPOCH})
    endforeach()
  endif()
endif()

# Static libraries: no member times, owners or modes, whatever the binutils
# default is.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()
