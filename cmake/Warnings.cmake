# Warnings are errors everywhere in the project.
add_library(trm27k_warnings INTERFACE)
target_compile_options(trm27k_warnings INTERFACE
  -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Waddress-of-packed-member)
