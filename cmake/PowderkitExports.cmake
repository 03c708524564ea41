# The exported names: each src/<folder>/exports.txt lists the names of that
# folder, one per line. They are gathered into PK_EXPORTS_FILE (used by the
# interface test) and into the linker's version script, so the shared library
# exports exactly these names and nothing else.
file(GLOB PK_EXPORT_LISTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*/exports.txt)
list(FILTER PK_EXPORT_LISTS EXCLUDE REGEX "/src/(${PK_PHASE_FOLDER_PATTERN})/")

# The names of the list files given after `out`, one per line in each, sorted
# into `out`; a change to a list file configures again.
function(pk_gather_exports out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARGN})
  set(gathered "")
  foreach(list_file ${ARGN})
    file(STRINGS ${list_file} names REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
    list(APPEND gathered ${names})
  endforeach()
  list(SORT gathered)
  set(${out} ${gathered} PARENT_SCOPE)
endfunction()

pk_gather_exports(PK_EXPORTED_NAMES ${PK_EXPORT_LISTS})
set(PK_EXPORTS_FILE ${PROJECT_BINARY_DIR}/exports.txt)
list(JOIN PK_EXPORTED_NAMES "\n" PK_EXPORTS_TEXT)
file(WRITE ${PK_EXPORTS_FILE} "${PK_EXPORTS_TEXT}\n")
list(JOIN PK_EXPORTED_NAMES ";\n    " PK_VERSION_SCRIPT_NAMES)
set(PK_VERSION_SCRIPT ${PROJECT_BINARY_DIR}/powderkit.map)
file(WRITE ${PK_VERSION_SCRIPT}
  "{\n  global:\n    ${PK_VERSION_SCRIPT_NAMES};\n  local:\n    *;\n};\n")
