# One version: project() holds the utility's version.  It is what the version
# resource of indexjob.exe, `idxtool --version`, `hwsort --version` and the
# release archives' names say.
#
# The product the utility ships with has a numbering of its own; its release
# is recorded beside the utility's, never in place of it.
set(ORLIX_PRODUCT_VERSION "6.0002")

# FILEVERSION and PRODUCTVERSION take four numbers.
set(tweak "${PROJECT_VERSION_TWEAK}")
if(tweak STREQUAL "")
  set(tweak 0)
endif()
set(ORLIX_VERSION_NUMBERS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${tweak}")
unset(tweak)

# Programs that print their version link this.
add_library(orlix_version INTERFACE)
target_compile_definitions(orlix_version INTERFACE ORLIX_VERSION="${PROJECT_VERSION}")

# The versions as scripts/release.sh reads them, to name and label archives.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/orlix_version.txt
  CONTENT "VERSION=${PROJECT_VERSION}\nPRODUCT_VERSION=${ORLIX_PRODUCT_VERSION}\n")
