varnix_test(test_session_launch SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SessionLaunchTest.cpp)
varnix_test(test_binary_resolver TIMEOUT 180 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/BinaryResolverTest.cpp)
varnix_test(test_agent_providers GUI SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AgentProviderTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AgentBinaryOverrideDialogTest.cpp)
varnix_test(test_sessions GUI TIMEOUT 300 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SessionManagerTest.cpp)
varnix_test(test_session_end_to_end GUI TIMEOUT 300 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SessionEndToEndTest.cpp)
