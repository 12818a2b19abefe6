# Linux: the Win32 calls over a world of folders or real SMB servers, with
# our maker-library stand-ins linked in. One library a folder of
# platform/linux, each using only those below it.

# The machine: its ANSI code page, its trace, its world of folders and files.
add_library(veskmachine STATIC
  platform/linux/machine/codepage.cc
  platform/linux/machine/trace.cc
  platform/linux/machine/world.cc
  platform/linux/machine/files.cc
)
target_include_directories(veskmachine PUBLIC ${PROJECT_SOURCE_DIR})

# The hosts: a computer that is a folder of the world, a computer that is a
# real SMB server (its client is the module below), and above them the
# interface's fault wrapper and the one chooser.
add_library(veskworldhost STATIC
  platform/linux/hosts/world/world_host.cc
  platform/linux/hosts/world/hive_scan.cc
  platform/linux/hosts/world/hive_model.cc
  platform/linux/hosts/world/hive_image.cc
  platform/linux/hosts/world/value_lines.cc
)
target_link_libraries(veskworldhost PUBLIC veskmachine)
add_library(vesksmbhost STATIC platform/linux/hosts/smb/smb_host.cc)
target_link_libraries(vesksmbhost PUBLIC veskmachine ${CMAKE_DL_LIBS})
add_library(veskhosts STATIC
  platform/linux/hosts/faults.cc
  platform/linux/hosts/fault_host.cc
  platform/linux/hosts/hosts.cc
)
target_link_libraries(veskhosts PUBLIC veskworldhost vesksmbhost veskmachine)

# The Win32 calls themselves: the registry's handles and argument rules,
# the connections table, the system services.
add_library(vesklinux STATIC
  platform/linux/registry.cc
  platform/linux/network.cc
  platform/linux/system.cc
)
target_link_libraries(vesklinux PUBLIC veskhosts veskmachine)

# The smb network's winreg client, over Samba's client libraries: a module
# of its own, loaded only by a run with VESKCFG_NETWORK=smb.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(SAMBA_CLIENT QUIET IMPORTED_TARGET dcerpc samba-credentials samba-hostconfig ndr_standard)
  # MIT's libkrb5, for the KDC's exact answer to a domain logon.
  pkg_check_modules(KRB5 QUIET IMPORTED_TARGET krb5)
endif()
find_library(SAMBA_ERRORS_LIBRARY NAMES samba-errors libsamba-errors.so.1)
if(SAMBA_CLIENT_FOUND AND SAMBA_ERRORS_LIBRARY AND KRB5_FOUND)
  enable_language(C)
  add_library(veskcfg-smb MODULE
    platform/linux/hosts/smb/module_checks.c
    platform/linux/hosts/smb/session.c
    platform/linux/hosts/smb/walk.c
    platform/linux/hosts/smb/requests.c
    platform/linux/hosts/smb/kerberos_logon.c
    platform/linux/hosts/smb/kdc_refusal.c
    platform/linux/hosts/smb/status_codes.c
  )
  # One name leaves the module, veskcfg_smb_client: none of its own may
  # stand in for one of Samba's.
  set_target_properties(veskcfg-smb PROPERTIES PREFIX "" C_STANDARD 11 C_EXTENSIONS ON C_VISIBILITY_PRESET hidden)
  target_include_directories(veskcfg-smb PRIVATE ${PROJECT_SOURCE_DIR})
  target_include_directories(veskcfg-smb SYSTEM PRIVATE ${SAMBA_CLIENT_INCLUDE_DIRS})
  target_compile_options(veskcfg-smb PRIVATE ${SAMBA_CLIENT_CFLAGS_OTHER})
  find_package(Threads REQUIRED)
  target_link_libraries(veskcfg-smb PRIVATE PkgConfig::SAMBA_CLIENT PkgConfig::KRB5 Threads::Threads ${SAMBA_ERRORS_LIBRARY})
  include(GNUInstallDirs)
  # Found beside the program in a build, and from the program's folder once
  # installed, wherever the prefix.
  target_compile_definitions(vesksmbhost PRIVATE VESKCFG_SMB_MODULE="../${CMAKE_INSTALL_LIBDIR}/veskcfg/veskcfg-smb.so")
else()
  message(STATUS "samba-dev or libkrb5-dev missing (apt-get install samba-dev libkrb5-dev): no smb network in this build")
endif()

# The maker's libraries; the record store keeps its records in the registry.
add_library(veskmaker STATIC
  platform/record_location.cc
  platform/standins/quenbase.cc
  platform/standins/zenthal.cc
  platform/standins/morvane.cc
)
target_link_libraries(veskmaker PUBLIC vesklinux)

# The console: the controlling terminal and its character set, the program
# that may answer it, the signals that end a run on it, one run at a time.
add_library(veskconsole STATIC
  platform/extended_keys.cc
  platform/linux/console/charset.cc
  platform/linux/console/key_decoder.cc
  platform/linux/console/console.cc
  platform/linux/console/askpass.cc
  platform/linux/console/signals.cc
  platform/linux/console/console_lock.cc
)
target_link_libraries(veskconsole PUBLIC veskmachine)

target_link_libraries(veskcore PUBLIC veskmaker vesklinux veskconsole)

add_executable(VeskCfg cli/main.cc)
target_link_libraries(VeskCfg veskcore)
if(TARGET veskcfg-smb)
  add_dependencies(VeskCfg veskcfg-smb)
endif()
if(NOT VESKCFG_SANITIZE)
  # Only the C library is linked dynamically, so that the smb network's
  # module can be loaded: the usage text costs little more than /bin/true.
  target_link_options(VeskCfg PRIVATE -static-libstdc++ -static-libgcc)
endif()

# Runs VeskCfg on a pseudo-terminal and builds throw-away worlds: for the
# demonstration, the benchmark and the tests.
add_library(vesksupport STATIC tools/support/run_veskcfg.cc tools/support/temp_world.cc)
target_link_libraries(vesksupport PUBLIC veskcore util)

# A relay that adds round-trip time to a lab's server (smb-servers.sh --delay).
find_package(Threads REQUIRED)
add_executable(veskcfg-relay tools/support/relay.cc)
target_link_libraries(veskcfg-relay Threads::Threads)

# What a world holds, and its audit: for vesknet and the tests.
add_library(vesknetview STATIC tools/vesknet/audit.cc tools/vesknet/remote_lists.cc
            tools/vesknet/linux/world_view.cc tools/vesknet/linux/readers.cc)
target_link_libraries(vesknetview PUBLIC veskcore)

# vesknet, the simulated network's companion: CLI11 and nlohmann/json from
# Debian's packages, header-only.
find_path(CLI11_INCLUDE_DIR CLI/CLI.hpp)
find_package(nlohmann_json 3 QUIET)
if(CLI11_INCLUDE_DIR AND nlohmann_json_FOUND)
  add_executable(vesknet tools/vesknet/main.cc tools/vesknet/output.cc tools/vesknet/linux/edges.cc
                 tools/vesknet/linux/world_commands.cc)
  target_include_directories(vesknet PRIVATE ${CLI11_INCLUDE_DIR})
  target_link_libraries(vesknet vesknetview nlohmann_json::nlohmann_json)
  target_compile_definitions(vesknet PRIVATE VESKCFG_VERSION="${PROJECT_VERSION}")
  if(NOT VESKCFG_SANITIZE)
    target_link_options(vesknet PRIVATE -static-libstdc++ -static-libgcc)
  endif()
else()
  message(WARNING "CLI11 or nlohmann/json missing (apt-get install libcli11-dev nlohmann-json3-dev): no vesknet")
endif()

# The demonstration and the benchmark read their command lines with CLI11 too.
if(TARGET vesknet)
  add_executable(veskcfg-demo tools/demo.cc)
  target_include_directories(veskcfg-demo PRIVATE ${CLI11_INCLUDE_DIR})
  target_link_libraries(veskcfg-demo vesksupport)
  add_dependencies(veskcfg-demo VeskCfg vesknet)

  add_executable(veskcfg-scale bench/scale.cc)
  target_include_directories(veskcfg-scale PRIVATE ${CLI11_INCLUDE_DIR})
  target_link_libraries(veskcfg-scale vesksupport)
  if(NOT VESKCFG_SANITIZE)
    target_link_options(veskcfg-scale PRIVATE -static-libstdc++ -static-libgcc)  # small, for the peak sizes it measures
  endif()
endif()

if(BUILD_TESTING)
  find_package(GTest)
  if(GTest_FOUND)
    add_subdirectory(tests)
  else()
    message(STATUS "GoogleTest not found: the tests are not built")
  endif()
endif()
