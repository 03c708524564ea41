# The exported names: each src/<folder>/exports.txt lists the names of that
# folder, one per line. They are gathered into PK_EXPORTS_FILE (used by the
# interface test) and into the linker's version script, so the shared library
# exports exactly these names and nothing else.
file(GLOB PK_EXPORT_LISTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*/exports.txt)
list(FILTER PK_EXPORT_LISTS EXCLUDE REGEX "/src/(phase|peaks|refinement)/")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PK_EXPORT_LISTS})
set(PK_EXPORTED_NAMES "")
foreach(list_file ${PK_EXPORT_LISTS})
  file(STRINGS ${list_file} names REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
  list(APPEND PK_EXPORTED_NAMES ${names})
endforeach()
list(SORT PK_EXPORTED_NAMES)
set(PK_EXPORTS_FILE ${PROJECT_BINARY_DIR}/exports.txt)
list(JOIN PK_EXPORTED_NAMES "\n" PK_EXPORTS_TEXT)
file(WRITE ${PK_EXPORTS_FILE} "${PK_EXPORTS_TEXT}\n")
list(JOIN PK_EXPORTED_NAMES ";\n    " PK_VERSION_SCRIPT_NAMES)
set(PK_VERSION_SCRIPT ${PROJECT_BINARY_DIR}/powderkit.map)
file(WRITE ${PK_VERSION_SCRIPT}
  "{\n  global:\n    ${PK_VERSION_SCRIPT_NAMES};\n  local:\n    *;\n};\n")
