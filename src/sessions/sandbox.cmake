# Confinement of worktree sessions: the profile text and the platform launchers.
target_sources(varnix_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SandboxProfile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SandboxLauncher.cpp)
