# Writes OUTPUT, a C++ fragment holding every file of the folder INPUT as
# bytes: an array kEmbeddedFiles of {name, bytes, size}, ended by a null
# entry (so that it is never empty). Run as `cmake -DINPUT=... -DOUTPUT=...
# -P embed_files.cmake`.
file(GLOB names RELATIVE "${INPUT}" "${INPUT}/*")
list(SORT names)
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS names)
  if(IS_DIRECTORY "${INPUT}/${name}")
    continue()
  endif()
  file(READ "${INPUT}/${name}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}0};\n")
  string(APPEND entries "    {\"${name}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
set(text "${arrays}const EmbeddedFile kEmbeddedFiles[] = {\n${entries}    {nullptr, nullptr, 0},\n};\n")
# Rewritten only when it changes, so that nothing is rebuilt for nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUTPUT}" "${text}")
endif()
