varnix_test(test_sessions_file SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SessionsFileTest.cpp)
varnix_test(test_session_resume GUI SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AgentSessionResumeTest.cpp)
varnix_test(test_session_persistence GUI TIMEOUT 300 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SessionPersistenceTest.cpp)
varnix_test(test_session_persistence_end_to_end GUI TIMEOUT 300 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SessionPersistenceEndToEndTest.cpp)
