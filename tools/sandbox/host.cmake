# The Windows build's tests need the sandbox as well, but it is a Linux program: build it with
# the host's compiler as a project of its own inside this build tree.
include(ExternalProject)
ExternalProject_Add(tsl_sandbox_host
  SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/sandbox-host
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=cc -DCMAKE_CXX_COMPILER=c++
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/sandbox-host/tsl-sandbox)
