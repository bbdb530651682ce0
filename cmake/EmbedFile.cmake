# cmake -DIN=<file> -DOUT=<file.cpp> -DNAME=<symbol> -P EmbedFile.cmake
# Writes a C++ source holding the bytes of IN as pom::NAME[] and NAMESize.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUT}.tmp
  "// Generated from ${IN}; do not edit.\n"
  "#include <cstddef>\n\n"
  "namespace pom {\n"
  "extern const unsigned char ${NAME}[] = {\n    ${bytes}\n};\n"
  "extern const std::size_t ${NAME}Size = ${size};\n"
  "}  // namespace pom\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
