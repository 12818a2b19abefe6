# Linux: the simulated Windows, with our maker-library stand-ins linked in.

add_library(veskmaker STATIC
  platform/standins/quenbase.cc
  platform/standins/zenthal.cc
  platform/standins/morvane.cc
)
target_include_directories(veskmaker PUBLIC ${CMAKE_SOURCE_DIR})

# Registry, network and system services over a world directory.
add_library(vesksim STATIC
  platform/simulated/codepage.cc
  platform/simulated/world.cc
  platform/simulated/hive.cc
  platform/simulated/registry.cc
  platform/simulated/network.cc
  platform/simulated/system.cc
)
target_include_directories(vesksim PUBLIC ${CMAKE_SOURCE_DIR})

# The console: the controlling terminal.
add_library(vesksimconsole STATIC
  platform/extended_keys.cc
  platform/simulated/key_decoder.cc
  platform/simulated/console.cc
)
target_include_directories(vesksimconsole PUBLIC ${CMAKE_SOURCE_DIR})

# The layers call one another both ways (the store stand-in calls the
# registry, the registry answers the core), hence the group.
set(VESKCFG_LINK -Wl,--start-group veskcore veskmaker vesksim vesksimconsole -Wl,--end-group)

add_executable(VeskCfg cli/main.cc)
target_link_libraries(VeskCfg ${VESKCFG_LINK})

# Runs VeskCfg on a pseudo-terminal and types at its prompts: for the
# end-to-end tests and the demonstration.
add_library(veskpty STATIC tests/e2e/run_veskcfg.cc)
target_include_directories(veskpty PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(veskpty PRIVATE VESKCFG_BINARY="$<TARGET_FILE:VeskCfg>")
target_link_libraries(veskpty PUBLIC util)

add_executable(veskcfg-demo tools/demo.cc)
target_link_libraries(veskcfg-demo veskpty)
add_dependencies(veskcfg-demo VeskCfg)

if(VESKCFG_TESTS)
  add_executable(veskcfg-bench bench/large_list.cc tests/support/temp_world.cc)
  target_link_libraries(veskcfg-bench veskpty ${VESKCFG_LINK})
  add_dependencies(veskcfg-bench VeskCfg)
  enable_testing()
  add_subdirectory(tests)
endif()
