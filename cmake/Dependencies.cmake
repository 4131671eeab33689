# Every dependency is a Debian package; scripts/install-deps.sh installs them.
find_package(jsoncpp CONFIG REQUIRED)
find_package(Boost 1.74 REQUIRED COMPONENTS date_time thread)
find_package(Threads REQUIRED)
# Header-only command-line parser of the programs.
find_package(CLI11 CONFIG REQUIRED)
if(TARGET jsoncpp_lib)
  set(TRM27K_JSONCPP jsoncpp_lib)
else()
  set(TRM27K_JSONCPP jsoncpp_static)
endif()
