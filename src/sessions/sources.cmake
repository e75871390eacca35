# The session model's pieces outside the terminal widget.
target_sources(varnix_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AgentBinaryResolver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClaudeLiveSessionProbe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlatformPaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SessionLaunch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SessionNamer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SessionState.cpp)
target_sources(varnix_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AgentBinaryOverrideDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AgentProvider.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NewTabMenuEntry.cpp)
# Sessions and their manager; the orchestrator notice seam.
target_sources(varnix_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/OrchestratorNotify.cpp)
target_sources(varnix_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SessionManager.cpp)
