# Turns the status page's files into one C++ source, so the program serves
# them from memory and never reads the disk for them. Runs on the build host
# (cmake -P), also in a cross build.
#   -D OUTPUT=file.cpp -D FILES="URL|TYPE|PATH;..."
# Each row becomes a byte array and a row of web::kAssets: its URL path, its
# content type, its bytes and an entity tag made of its SHA-256.
if(NOT OUTPUT OR NOT FILES)
  message(FATAL_ERROR "embed_files.cmake needs OUTPUT and FILES")
endif()

set(arrays "")
set(rows "")
set(index 0)
foreach(entry IN LISTS FILES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 url)
  list(GET parts 1 type)
  list(GET parts 2 path)
  file(READ "${path}" hex HEX)
  file(SHA256 "${path}" digest)
  string(SUBSTRING "${digest}" 0 16 etag)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Sixteen bytes a line keeps the generated file readable in a diff viewer.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "// ${url}: ${size} bytes\nconstexpr unsigned char kFile${index}[] = {\n    ${bytes}};\n")
  string(APPEND rows "    {\"${url}\", \"${type}\", kFile${index}, ${size}, \"\\\"${etag}\\\"\"},\n")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.new" "// Made by tools/web/embed_files.cmake from the status page's files; do not edit.
#include \"web_assets.h\"

namespace web {
namespace {
${arrays}}  // namespace

const Asset kAssets[] = {
${rows}};
const size_t kAssetCount = sizeof kAssets / sizeof kAssets[0];

}  // namespace web
")
# Only a changed output touches the file, so an unchanged page rebuilds nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
