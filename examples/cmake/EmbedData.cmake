# Writes OUTPUT, a C source defining the NUL-terminated byte array NAME with
# the contents of INPUT, so that the example hosts carry their data with them.
# Run as: cmake -DINPUT=... -DOUTPUT=... -DNAME=... -P EmbedData.cmake
file(READ ${INPUT} EMBED_HEX HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," EMBED_ARRAY "${EMBED_HEX}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" EMBED_ARRAY "${EMBED_ARRAY}")
file(WRITE ${OUTPUT}
"/* Generated from ${INPUT} by the build; do not edit. */\n"
"extern const char ${NAME}[];\n"
"const char ${NAME}[] = {\n${EMBED_ARRAY}\n0x00};\n")
