# The Windows build: the advapi32 registry, the framework, the user interface and the tool.
enable_language(RC)

# modemconfig_windows_program(<target>)
# What every Windows program of the release needs at link time: one self-contained file (no
# libstdc++, libgcc or winpthread DLLs beside it), only the code it uses and no symbols in an
# optimised build, and headers that name Windows Vista (6.0) as the oldest system it runs on.
# The programs import functions that exist only from Vista on; headers that claim less let an
# older system start them and fail with "entry point not found" instead of refusing them.
# The linker writes no time stamp into the headers, so the same sources give the same bytes.
# Every program made with this function belongs to the release: `make dist` builds them all.
function(modemconfig_windows_program target)
  set_property(GLOBAL APPEND PROPERTY MODEMCONFIG_RELEASE_PROGRAMS ${target})
  if(MSVC)
    set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
    target_link_options(${target} PRIVATE
      $<IF:$<BOOL:$<TARGET_PROPERTY:WIN32_EXECUTABLE>>,/SUBSYSTEM:WINDOWS$<COMMA>6.00,/SUBSYSTEM:CONSOLE$<COMMA>6.00>
      /OPT:REF /Brepro)
  else()
    target_link_options(${target} PRIVATE
      -static -static-libgcc -static-libstdc++
      -Wl,--gc-sections
      -Wl,--no-insert-timestamp
      -Wl,--major-subsystem-version,6,--minor-subsystem-version,0
      -Wl,--major-os-version,6,--minor-os-version,0
      $<$<CONFIG:Release,MinSizeRel>:-s>)
  endif()
endfunction()

# modemconfig_version_resources(<target> RC <file.rc> NAME <program> DESCRIPTION <text>
#                               EXECUTION_LEVEL <asInvoker|requireAdministrator>
#                               [GUI])
# The version record and the manifest of the program <NAME>.exe, both from the project's
# version (project(... VERSION ...)): writes version_record.rc and <NAME>.exe.manifest into
# <build>/generated/<NAME>/, for <file.rc> to take in with #include "version_record.rc".
# <target> is the target that compiles <file.rc>. DESCRIPTION is the record's file description
# and the manifest's; EXECUTION_LEVEL the rights the program asks for when it starts;
# GUI, for a program with windows, binds it to version 6 of the common controls and declares
# system DPI awareness.
function(modemconfig_version_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "GUI" "RC;NAME;DESCRIPTION;EXECUTION_LEVEL"
                        "")
  foreach(required RC NAME DESCRIPTION EXECUTION_LEVEL)
    if(NOT arg_${required})
      message(FATAL_ERROR "modemconfig_version_resources(${target}): ${required} is missing")
    endif()
  endforeach()
  if(arg_EXECUTION_LEVEL STREQUAL "requireAdministrator")
    set(execution_level_reason "The program rewrites values below HKEY_LOCAL_MACHINE\\SYSTEM, \
which only administrators may do: without elevation it could open no modem key and would \
report none found.")
  elseif(arg_EXECUTION_LEVEL STREQUAL "asInvoker")
    set(execution_level_reason "Scripts start it with the rights they have: it checks its \
rights itself and says when it needs an elevated prompt, instead of asking for elevation (a \
prompt nobody sees in an unattended run).")
  else()
    message(FATAL_ERROR "modemconfig_version_resources(${target}): unknown EXECUTION_LEVEL "
                        "'${arg_EXECUTION_LEVEL}'")
  endif()
  set(common_controls_dependency "")
  set(dpi_awareness "")
  if(arg_GUI)
    set(common_controls_dependency [=[  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                        processorArchitecture="*" publicKeyToken="6595b64144ccf1df"
                        language="*"/>
    </dependentAssembly>
  </dependency>
]=])
    set(dpi_awareness [=[  <!-- System DPI awareness: windows are laid out once, in dialog units, for the system DPI. -->
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>
    </windowsSettings>
  </application>
]=])
  endif()
  set(folder ${CMAKE_BINARY_DIR}/generated/${arg_NAME})
  set(manifest ${folder}/${arg_NAME}.exe.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/templates/program.manifest.in ${manifest} @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/templates/version_record.rc.in
                 ${folder}/version_record.rc @ONLY)
  target_include_directories(${target} PRIVATE ${folder})
  # The .rc script is compiled again when what it takes in changes.
  get_source_file_property(depends ${arg_RC} OBJECT_DEPENDS)
  if(NOT depends)
    set(depends "")
  endif()
  list(APPEND depends ${folder}/version_record.rc ${manifest})
  set_source_files_properties(${arg_RC} PROPERTIES OBJECT_DEPENDS "${depends}")
endfunction()

add_library(win32_registry STATIC platform/win32_registry.cpp)
target_include_directories(win32_registry PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(win32_registry PUBLIC advapi32)
target_compile_definitions(win32_registry PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)

# The platform version that decides a restart after a switch, as Windows reports it.
add_library(win32_version STATIC platform/win32_version.cpp)
target_include_directories(win32_version PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(win32_version PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)

# The message table of the events both programs record (platform/event_messages.mc), compiled
# with the message compiler (windmc from mingw-w64 binutils, or mc with MSVC) into a header of
# event IDs and a resource script that each program's .rc takes in.
find_program(MODEMCONFIG_MC NAMES x86_64-w64-mingw32-windmc windmc mc REQUIRED)
set(event_messages_dir ${CMAKE_BINARY_DIR}/generated/event_messages)
file(MAKE_DIRECTORY ${event_messages_dir})
add_custom_command(
  OUTPUT ${event_messages_dir}/event_messages.h ${event_messages_dir}/event_messages.rc
         ${event_messages_dir}/MSG00409.bin
  COMMAND ${MODEMCONFIG_MC} -h ${event_messages_dir} -r ${event_messages_dir}
          ${CMAKE_SOURCE_DIR}/platform/event_messages.mc
  DEPENDS ${CMAKE_SOURCE_DIR}/platform/event_messages.mc
  COMMENT "Compiling the event messages")
add_custom_target(event_messages DEPENDS ${event_messages_dir}/event_messages.h
                                         ${event_messages_dir}/event_messages.rc)

# The record of a switch in the Application log, shared by the tool and modemprefix.
add_library(win32_event_log STATIC platform/win32_event_log.cpp)
add_dependencies(win32_event_log event_messages)
target_include_directories(win32_event_log PUBLIC ${CMAKE_SOURCE_DIR}
                           PRIVATE ${event_messages_dir})
target_link_libraries(win32_event_log PUBLIC modem_logic advapi32)
target_compile_definitions(win32_event_log PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX
                           MODEMCONFIG_VERSION="${PROJECT_VERSION}")

# The application framework over raw Win32 (CWinApp, CDialog, CStatusBarCtrl, CStringList).
add_library(framework STATIC
  framework/dialog.cpp
  framework/status_bar_ctrl.cpp
  framework/win_app.cpp
)
target_include_directories(framework PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(framework PUBLIC user32 gdi32 comctl32)
target_compile_definitions(framework PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX STRICT)
# The process entry (WinMain) of a framework application: link it into the executable only, so
# test programs with their own main can use the library.
add_library(framework_main OBJECT framework/app_main.cpp)
target_link_libraries(framework_main PUBLIC framework)

# The main dialog and the About box, and their resources. The resources are linked into the
# tool and into the in-process dialog tests alike.
add_library(modem_ui STATIC
  ui/modem_config_dlg.cpp
  ui/about_box.cpp
)
target_include_directories(modem_ui PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(modem_ui PUBLIC framework modem_logic win32_version)
add_library(modem_resources OBJECT ui/modem_config.rc)
add_dependencies(modem_resources event_messages)
target_include_directories(modem_resources PRIVATE ${CMAKE_SOURCE_DIR}/ui ${event_messages_dir})
set_source_files_properties(ui/modem_config.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/ui/modem_large.ico;${CMAKE_SOURCE_DIR}/ui/modem_small.ico;${CMAKE_SOURCE_DIR}/ui/resource.h;${event_messages_dir}/event_messages.rc")
modemconfig_version_resources(modem_resources
  RC ui/modem_config.rc
  NAME ModemConfig
  DESCRIPTION "Brackwell Modem Configuration Tool"
  EXECUTION_LEVEL requireAdministrator
  GUI)

# The tool: one self-contained GUI executable.
add_executable(ModemConfig WIN32 app/modem_tool_app.cpp)
target_link_libraries(ModemConfig PRIVATE framework_main modem_ui win32_registry win32_event_log
  modem_resources)
modemconfig_windows_program(ModemConfig)

# The command-line companion: a console program on the same scan and switch.
add_library(modemprefix_resources OBJECT cli/modemprefix.rc)
add_dependencies(modemprefix_resources event_messages)
target_include_directories(modemprefix_resources PRIVATE ${event_messages_dir})
set_source_files_properties(cli/modemprefix.rc PROPERTIES OBJECT_DEPENDS
  "${event_messages_dir}/event_messages.rc")
modemconfig_version_resources(modemprefix_resources
  RC cli/modemprefix.rc
  NAME modemprefix
  DESCRIPTION "Brackwell modem dial prefix command line"
  EXECUTION_LEVEL asInvoker)
add_executable(modemprefix cli/win32_main.cpp)
target_link_libraries(modemprefix PRIVATE modemprefix_core win32_registry win32_version
  win32_event_log replace_file modemprefix_resources)
modemconfig_windows_program(modemprefix)

# The project's version, for the release scripts (packaging/make-release).
file(WRITE ${CMAKE_BINARY_DIR}/generated/project_version.txt "${PROJECT_VERSION}\n")
