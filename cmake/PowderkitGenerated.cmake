# Sources generated at build time. The element table text src/elements/ASF.txt
# is compiled into the library as a byte array when it exists.
set(PK_GENERATED_SOURCES "")
set(PK_ASF_TEXT ${PROJECT_SOURCE_DIR}/src/elements/ASF.txt)
if(EXISTS ${PK_ASF_TEXT})
  set(PK_ASF_SOURCE ${PROJECT_BINARY_DIR}/generated/element_table_text.cpp)
  add_custom_command(
    OUTPUT ${PK_ASF_SOURCE}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PK_ASF_TEXT} -DOUTPUT=${PK_ASF_SOURCE}
            -P ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
    DEPENDS ${PK_ASF_TEXT} ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
    COMMENT "Embedding the element table text")
  list(APPEND PK_GENERATED_SOURCES ${PK_ASF_SOURCE})
endif()
