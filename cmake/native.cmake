# Windows: the real Win32 calls, and our stand-ins for the maker's libraries
# as DLLs that export by ordinal only; VeskCfg.exe imports them by ordinal.

# The program and its DLLs side by side, as they are installed.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

function(maker_library name)
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()

maker_library(Zenthal platform/standins/zenthal.cc platform/standins/zenthal.def)
maker_library(Morvane platform/standins/morvane.cc platform/native/no_faults.cc platform/standins/morvane.def)
maker_library(Quenbase platform/standins/quenbase.cc platform/record_location.cc platform/native/no_faults.cc platform/standins/quenbase.def)
target_link_libraries(Quenbase PRIVATE Zenthal Morvane advapi32)

add_library(vesknative STATIC
  platform/extended_keys.cc
  platform/record_location.cc
  platform/native/console.cc
  platform/native/process.cc
)
target_include_directories(vesknative PUBLIC ${PROJECT_SOURCE_DIR})

# The program imports the maker's DLLs by ordinal, delay-loaded
# (platform/native/delay_load.cc): the delay-import libraries come from the
# same .def files as the DLLs.
find_program(DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
set(delaylibs)
foreach(name Quenbase Zenthal Morvane)
  string(TOLOWER ${name} lower)
  set(def ${PROJECT_SOURCE_DIR}/platform/standins/${lower}.def)
  set(lib ${CMAKE_BINARY_DIR}/delay/lib${name}.delay.a)
  add_custom_command(OUTPUT ${lib}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delay
                     COMMAND ${DLLTOOL} --input-def ${def} --dllname ${name}.dll --output-delaylib ${lib}
                     DEPENDS ${def} VERBATIM)
  list(APPEND delaylibs ${lib})
endforeach()
add_custom_target(delaylibs DEPENDS ${delaylibs} Quenbase Zenthal Morvane)
add_dependencies(vesknative delaylibs)
target_link_libraries(veskcore PUBLIC vesknative ${delaylibs} advapi32 mpr)

enable_language(RC)
configure_file(platform/native/version.rc.in ${CMAKE_BINARY_DIR}/version.rc @ONLY)
# The failure hook of the delay-loading is an object of the program itself: a
# library's member would never be linked, since libmingwex defines the hook too.
add_executable(VeskCfg cli/main.cc platform/native/delay_load.cc ${CMAKE_BINARY_DIR}/version.rc)
target_link_libraries(VeskCfg veskcore)

# vesknet.exe, the audit of the real network from the console. CLI11 and
# nlohmann/json are header-only: Debian's, from the build machine's
# /usr/include through a folder that links those two alone, so that no other
# header of the machine's meets MinGW's.
set(HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
if(EXISTS /usr/include/CLI/CLI.hpp AND EXISTS /usr/include/nlohmann/json.hpp)
  file(MAKE_DIRECTORY ${HOST_HEADERS})
  file(CREATE_LINK /usr/include/CLI ${HOST_HEADERS}/CLI SYMBOLIC)
  file(CREATE_LINK /usr/include/nlohmann ${HOST_HEADERS}/nlohmann SYMBOLIC)
  add_executable(vesknet tools/vesknet/main.cc tools/vesknet/output.cc tools/vesknet/audit.cc
                 tools/vesknet/remote_lists.cc tools/vesknet/windows/console_view.cc tools/vesknet/windows/readers.cc
                 tools/vesknet/windows/edges.cc tools/vesknet/windows/world_commands.cc platform/native/delay_load.cc)
  target_include_directories(vesknet PRIVATE ${HOST_HEADERS})
  target_compile_definitions(vesknet PRIVATE VESKCFG_VESKNET VESKCFG_VERSION="${PROJECT_VERSION}")
  target_link_libraries(vesknet veskcore)
else()
  message(WARNING "CLI11 or nlohmann/json missing (apt-get install libcli11-dev nlohmann-json3-dev): no vesknet.exe")
endif()

if(BUILD_TESTING)
  set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, built for Windows")
  if(EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
    add_subdirectory(tests/native)
  else()
    message(STATUS "GoogleTest sources not found in ${GTEST_SOURCE_DIR}: the tests are not built")
  endif()
endif()
