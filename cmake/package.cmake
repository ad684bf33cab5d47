# The tools as a user installs them, and as the Debian package holds them:
# `orlix_tools` builds everything the "tools" install component installs
# (the programs and, where they are made, their manual pages), and nothing
# else, so the tools preset need not build the tests.
if(NOT WIN32)
  add_custom_target(orlix_tools)
  add_dependencies(orlix_tools idxtool hwsort)
  if(TARGET manpages)
    add_dependencies(orlix_tools manpages)
  endif()
endif()
