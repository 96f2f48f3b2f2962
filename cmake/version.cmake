# The version of project() reaches the code through one generated header,
# so --version, the About window, the error report and the package agree.
configure_file(${CMAKE_CURRENT_LIST_DIR}/orvalis_version.h.in
               ${CMAKE_BINARY_DIR}/generated/orvalis_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)
