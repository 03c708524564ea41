# Writes OUTPUT, a C++ source defining powderkit::kElementTableText (the
# bytes of INPUT followed by a NUL) and powderkit::kElementTableTextLength.
file(READ ${INPUT} PK_HEX HEX)
string(LENGTH "${PK_HEX}" PK_HEX_LENGTH)
math(EXPR PK_BYTES "${PK_HEX_LENGTH} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," PK_ARRAY "${PK_HEX}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" PK_ARRAY "${PK_ARRAY}")
file(WRITE ${OUTPUT}
"// Generated from src/elements/ASF.txt by the build; do not edit.\n"
"#include <cstddef>\n"
"namespace powderkit {\n"
"extern const char kElementTableText[];\n"
"extern const std::size_t kElementTableTextLength;\n"
"const char kElementTableText[] = {\n${PK_ARRAY}\n0x00};\n"
"const std::size_t kElementTableTextLength = ${PK_BYTES};\n"
"}  // namespace powderkit\n")
