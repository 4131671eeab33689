# Warnings are errors everywhere in the project.
add_library(trm27k_warnings INTERFACE)
target_compile_options(trm27k_warnings INTERFACE
  -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Waddress-of-packed-member)
# On 32-bit ARM, GCC notes at every std::vector of a 16-byte element that its
# passing changed in GCC 7.1 (Asio's timer queue has one). Everything here is
# built by one compiler, so the note concerns no caller of ours.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  target_compile_options(trm27k_warnings INTERFACE -Wno-psabi)
endif()
