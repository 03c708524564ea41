# The phase layer: libpowderkit_phase.so above the shared core. C++17 with
# exceptions inside (the CIF parser throws), caught at every exported
# function; a version script exports exactly the pk_ names listed in the
# exports.txt of its folders (PK_PHASE_FOLDERS, bottom to top, as
# scripts/check_layers.py orders them). Its objects also make a static archive
# for the tests, which link it with the static core to fail allocations on purpose.
find_path(PK_GEMMI_INCLUDE_DIR gemmi/cif.hpp)
find_path(PK_PEGTL_INCLUDE_DIR tao/pegtl.hpp)
if(NOT PK_GEMMI_INCLUDE_DIR OR NOT PK_PEGTL_INCLUDE_DIR)
  message(FATAL_ERROR "The phase layer needs gemmi and PEGTL headers: run scripts/setup.sh "
                      "(Debian packages gemmi-dev, tao-pegtl-dev, libstb-dev)")
endif()
find_package(Threads REQUIRED)
# The XRDML reader parses XML with pugixml, linked privately: nothing of it
# shows in the layer's header, so consumers of the installed package never need it.
find_package(pugixml CONFIG QUIET)
if(NOT TARGET pugixml::pugixml)
  message(FATAL_ERROR "The measured-pattern reader needs pugixml: run scripts/setup.sh (Debian package libpugixml-dev)")
endif()
# The time-of-flight peaks take the scaled complementary error function
# e^(y²) erfc(y) from libcerf, linked privately like pugixml.
find_path(PK_CERF_INCLUDE_DIR cerf.h)
find_library(PK_CERF_LIBRARY cerf)
if(NOT PK_CERF_INCLUDE_DIR OR NOT PK_CERF_LIBRARY)
  message(FATAL_ERROR "The time-of-flight peaks need libcerf: run scripts/setup.sh (Debian package libcerf-dev)")
endif()
# The report page's curves are deflated with zlib, linked privately like pugixml.
find_package(ZLIB QUIET)
if(NOT TARGET ZLIB::ZLIB)
  message(FATAL_ERROR "The refinement report needs zlib: run scripts/setup.sh (Debian package zlib1g-dev)")
endif()

set(PK_PHASE_FOLDERS ${PK_PHASE_LAYER_FOLDERS})
set(PK_PHASE_SOURCES "")
set(PK_PHASE_EXPORT_LISTS "")
foreach(folder ${PK_PHASE_FOLDERS})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  list(APPEND PK_PHASE_SOURCES ${sources})
  if(EXISTS ${PROJECT_SOURCE_DIR}/src/${folder}/exports.txt)
    list(APPEND PK_PHASE_EXPORT_LISTS ${PROJECT_SOURCE_DIR}/src/${folder}/exports.txt)
  endif()
endforeach()

# The report page (src/report/page) and the plotting library it inlines
# (uPlot, installed from the npm registry into web/node_modules by
# scripts/setup.sh), as texts compiled into the layer. Without the library
# the page says how to install it and shows its tables only.
set(PK_PLOT_LIBRARY ${PROJECT_SOURCE_DIR}/web/node_modules/uplot/dist/uPlot.iife.min.js)
set(PK_PLOT_STYLES ${PROJECT_SOURCE_DIR}/web/node_modules/uplot/dist/uPlot.min.css)
set(PK_PLOT_FILES "")
if(EXISTS ${PK_PLOT_LIBRARY})
  set(PK_PLOT_FILES ${PK_PLOT_LIBRARY} ${PK_PLOT_STYLES})
else()
  message(WARNING "uPlot is not installed (run scripts/setup.sh): refinement reports will have no plots")
endif()
set(PK_REPORT_PAGE ${PROJECT_SOURCE_DIR}/src/report/page)
set(PK_REPORT_ASSETS ${PROJECT_BINARY_DIR}/generated/report_assets.cpp)
add_custom_command(OUTPUT ${PK_REPORT_ASSETS}
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${PK_REPORT_ASSETS}
          "-DPAIRS=kPageHtml=${PK_REPORT_PAGE}/report.html\;kPageCss=${PK_REPORT_PAGE}/report.css\;kPageJs=${PK_REPORT_PAGE}/report.js\;kPlotJs=${PK_PLOT_LIBRARY}\;kPlotCss=${PK_PLOT_STYLES}"
          -P ${PROJECT_SOURCE_DIR}/cmake/EmbedReportPage.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/EmbedReportPage.cmake ${PK_REPORT_PAGE}/report.html ${PK_REPORT_PAGE}/report.css
          ${PK_REPORT_PAGE}/report.js ${PK_PLOT_FILES}
  COMMENT "Embedding the report page")
list(APPEND PK_PHASE_SOURCES ${PK_REPORT_ASSETS})

add_library(powderkit_phase_objects OBJECT ${PK_PHASE_SOURCES})
# The window and phase-sum loops are written for the vectoriser, which -O3 engages fully.
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/pattern/window_kernels.cpp
  ${PROJECT_SOURCE_DIR}/src/reflexions/structure_factors.cpp PROPERTIES COMPILE_OPTIONS -O3)
set_target_properties(powderkit_phase_objects PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_include_directories(powderkit_phase_objects PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
target_include_directories(powderkit_phase_objects SYSTEM PRIVATE
  ${PK_GEMMI_INCLUDE_DIR} ${PK_PEGTL_INCLUDE_DIR})
# NDEBUG in every build: the headers of the parsers check with assert(),
# and the layer never aborts its host.
target_compile_definitions(powderkit_phase_objects PRIVATE PK_BUILDING_PHASE_LIBRARY
  PK_VERSION_TEXT="${PROJECT_VERSION}" NDEBUG)
pk_library_warnings(powderkit_phase_objects)
find_path(PK_EIGEN_INCLUDE_DIR Eigen/Dense PATH_SUFFIXES eigen3)
if(NOT PK_EIGEN_INCLUDE_DIR)
  message(FATAL_ERROR "The refinement needs Eigen: run scripts/setup.sh (Debian package libeigen3-dev)")
endif()
target_include_directories(powderkit_phase_objects SYSTEM PRIVATE ${PK_EIGEN_INCLUDE_DIR})
# Instrument files are JSON, read and written with nlohmann-json (header-only).
find_path(PK_JSON_INCLUDE_DIR nlohmann/json.hpp)
if(NOT PK_JSON_INCLUDE_DIR)
  message(FATAL_ERROR "The instrument files need nlohmann-json: run scripts/setup.sh "
                      "(Debian package nlohmann-json3-dev)")
endif()
target_include_directories(powderkit_phase_objects SYSTEM PRIVATE ${PK_JSON_INCLUDE_DIR})
target_link_libraries(powderkit_phase_objects PRIVATE pugixml::pugixml ZLIB::ZLIB)
target_include_directories(powderkit_phase_objects SYSTEM PRIVATE ${PK_CERF_INCLUDE_DIR})

pk_gather_exports(PK_PHASE_EXPORTED_NAMES ${PK_PHASE_EXPORT_LISTS})
list(JOIN PK_PHASE_EXPORTED_NAMES ";\n    " PK_PHASE_SCRIPT_NAMES)
# Every exported name of the layer in one file, for the interface test.
set(PK_PHASE_EXPORTS_FILE ${PROJECT_BINARY_DIR}/powderkit_phase_exports.txt)
list(JOIN PK_PHASE_EXPORTED_NAMES "\n" PK_PHASE_EXPORT_LINES)
file(WRITE ${PK_PHASE_EXPORTS_FILE} "${PK_PHASE_EXPORT_LINES}\n")
set(PK_PHASE_VERSION_SCRIPT ${PROJECT_BINARY_DIR}/powderkit_phase.map)
file(WRITE ${PK_PHASE_VERSION_SCRIPT}
  "{\n  global:\n    ${PK_PHASE_SCRIPT_NAMES};\n  local:\n    *;\n};\n")

# For the tests: the layer's objects beside the static core.
add_library(powderkit_phase_static STATIC $<TARGET_OBJECTS:powderkit_phase_objects>)
target_include_directories(powderkit_phase_static PUBLIC
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(powderkit_phase_static PUBLIC powderkit_core Threads::Threads pugixml::pugixml ${PK_CERF_LIBRARY}
  ZLIB::ZLIB)

# The shared layer carries the one compiled element table text too (the
# shared core keeps its copy hidden); the static layer takes the core's.
add_library(powderkit_phase SHARED $<TARGET_OBJECTS:powderkit_phase_objects> ${PK_ELEMENT_TEXT_OBJECTS})
add_library(powderkit::powderkit_phase ALIAS powderkit_phase)
set_target_properties(powderkit_phase PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  PUBLIC_HEADER ${PROJECT_SOURCE_DIR}/include/powderkit_phase.h
  LINK_DEPENDS ${PK_PHASE_VERSION_SCRIPT}
  INSTALL_RPATH "$ORIGIN")
target_include_directories(powderkit_phase PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_link_options(powderkit_phase PRIVATE
  -Wl,--version-script=${PK_PHASE_VERSION_SCRIPT} -Wl,--no-undefined)
target_link_libraries(powderkit_phase PUBLIC powderkit PRIVATE Threads::Threads pugixml::pugixml ${PK_CERF_LIBRARY}
  ZLIB::ZLIB m)
