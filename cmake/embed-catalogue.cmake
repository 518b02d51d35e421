# Writes a compiled catalogue (.mo) as a C++ array, for the Windows programs, whose C runtime has
# no gettext. cmake -DMO=FILE -DLANGUAGE=ja -DOUTPUT=FILE.cpp -P embed-catalogue.cmake
file(READ "${MO}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}" "// Made by the build from po/${LANGUAGE}.po; not edited by hand.\n"
  "#include <cstddef>\n"
  "namespace murve {\n"
  "extern const unsigned char k_catalogue_${LANGUAGE}[] = {${bytes}};\n"
  "extern const std::size_t k_catalogue_${LANGUAGE}_size = sizeof k_catalogue_${LANGUAGE};\n"
  "}  // namespace murve\n")
