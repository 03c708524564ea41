# Sources generated at build time. The element table text src/elements/ASF.txt
# is compiled once, as a byte array, into one object that both the core and
# the phase layer link (powderkit::kElementTableText).
set(PK_ELEMENT_TEXT_OBJECTS "")
set(PK_ASF_TEXT ${PROJECT_SOURCE_DIR}/src/elements/ASF.txt)
if(EXISTS ${PK_ASF_TEXT})
  set(PK_ASF_SOURCE ${PROJECT_BINARY_DIR}/generated/element_table_text.cpp)
  add_custom_command(
    OUTPUT ${PK_ASF_SOURCE}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PK_ASF_TEXT} -DOUTPUT=${PK_ASF_SOURCE}
            -P ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
    DEPENDS ${PK_ASF_TEXT} ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
    COMMENT "Embedding the element table text")
  add_library(powderkit_element_text OBJECT ${PK_ASF_SOURCE})
  set_target_properties(powderkit_element_text PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden)
  set(PK_ELEMENT_TEXT_OBJECTS $<TARGET_OBJECTS:powderkit_element_text>)
endif()
