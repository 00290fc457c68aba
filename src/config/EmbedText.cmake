# Writes OUTPUT, a C++ source defining `std::string_view NAME()` that returns the bytes of
# INPUT. Run as: cmake -DINPUT=... -DOUTPUT=... -DNAME=... -P EmbedText.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('\\\\x..',){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
     "// Generated at build time from ${INPUT}; do not edit.\n"
     "#include <string_view>\n\n"
     "namespace {\nconst char kBytes[${size} + 1] = {\n${bytes}0};\n} // namespace\n\n"
     "std::string_view ${NAME}() {\n    return {kBytes, ${size}};\n}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
