# Saving a project's agent sessions and starting them again.
target_sources(varnix_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SessionsFile.cpp)
target_sources(varnix_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AgentSessionResume.cpp)
target_sources(varnix_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SessionPersistence.cpp)
