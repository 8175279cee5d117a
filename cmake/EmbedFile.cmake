# Writes OUTPUT, a C++ source whose function FUNCTION returns the bytes of INPUT as a std::string_view.
# Run as: cmake -DINPUT=... -DOUTPUT=... -DFUNCTION=... -DHEADER=... -P EmbedFile.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
set(lines "")
set(at 0)
while(at LESS digits)
  string(SUBSTRING "${hex}" ${at} 32 row)  # 16 bytes a line
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," row "${row}")
  string(APPEND lines "    ${row}\n")
  math(EXPR at "${at} + 32")
endwhile()
file(WRITE "${OUTPUT}"
  "// Made by cmake/EmbedFile.cmake from ${INPUT}; do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace {\n"
  "// One byte more than the file, so that an empty file still makes a valid array.\n"
  "constexpr unsigned char kBytes[] = {\n${lines}    0x00};\n"
  "}  // namespace\n\n"
  "std::string_view ${FUNCTION}() { return {reinterpret_cast<const char*>(kBytes), ${size}}; }\n")
