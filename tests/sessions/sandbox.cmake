varnix_test(test_sandbox TIMEOUT 180 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SandboxProfileTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SandboxLauncherTest.cpp)
