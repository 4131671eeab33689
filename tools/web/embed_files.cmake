# Turns the status page's files into one C++ source, so the program serves
# them from memory and never reads the disk for them. Runs on the build host
# (cmake -P), also in a cross build.
#   -D OUTPUT=file.cpp -D FILES="URL|TYPE|PATH|GZIPPED;..."
# Each row becomes two byte arrays (the file and its gzipped copy) and a row
# of web::kAssets: its URL path, its content type, both copies and an entity
# tag made of its SHA-256.
if(NOT OUTPUT OR NOT FILES)
  message(FATAL_ERROR "embed_files.cmake needs OUTPUT and FILES")
endif()

# A file as the body of a C byte array, and its size.
function(bytes_of path bytes_var size_var)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Sixteen bytes a line keeps the generated file readable in a diff viewer.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
  set(${bytes_var} "${bytes}" PARENT_SCOPE)
  set(${size_var} ${size} PARENT_SCOPE)
endfunction()

set(arrays "")
set(rows "")
set(index 0)
foreach(entry IN LISTS FILES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 url)
  list(GET parts 1 type)
  list(GET parts 2 path)
  list(GET parts 3 zipped)
  bytes_of("${path}" bytes size)
  bytes_of("${zipped}" zbytes zsize)
  file(SHA256 "${path}" digest)
  string(SUBSTRING "${digest}" 0 16 etag)
  string(APPEND arrays "// ${url}: ${size} bytes, ${zsize} gzipped\n"
                       "constexpr unsigned char kFile${index}[] = {\n    ${bytes}};\n"
                       "constexpr unsigned char kZipped${index}[] = {\n    ${zbytes}};\n")
  string(APPEND rows "    {\"${url}\", \"${type}\", kFile${index}, ${size}, \"\\\"${etag}\\\"\", "
                     "kZipped${index}, ${zsize}, \"\\\"${etag}-gz\\\"\"},\n")
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
