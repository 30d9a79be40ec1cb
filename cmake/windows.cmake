# The Windows build: the advapi32 registry, the framework, the user interface and the tool.
enable_language(RC)
add_library(win32_registry STATIC platform/win32_registry.cpp)
target_include_directories(win32_registry PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(win32_registry PUBLIC advapi32)
target_compile_definitions(win32_registry PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)

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
configure_file(${CMAKE_SOURCE_DIR}/ui/version.h.in ${CMAKE_BINARY_DIR}/generated/version.h @ONLY)
add_library(modem_ui STATIC
  ui/modem_config_dlg.cpp
  ui/about_box.cpp
)
target_include_directories(modem_ui PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(modem_ui PUBLIC framework modem_logic)
add_library(modem_resources OBJECT ui/modem_config.rc)
target_include_directories(modem_resources PRIVATE ${CMAKE_SOURCE_DIR}/ui
                                                   ${CMAKE_BINARY_DIR}/generated)
set_source_files_properties(ui/modem_config.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/ui/modem_large.ico;${CMAKE_SOURCE_DIR}/ui/modem_small.ico;${CMAKE_SOURCE_DIR}/ui/ModemConfig.exe.manifest;${CMAKE_SOURCE_DIR}/ui/resource.h")

# The tool: one self-contained GUI executable.
add_executable(ModemConfig WIN32 app/modem_tool_app.cpp)
target_link_libraries(ModemConfig PRIVATE framework_main modem_ui win32_registry modem_resources)
# Only what is used, without symbols: the tool ships as one small file.
if(NOT MSVC)
  target_link_options(ModemConfig PRIVATE -Wl,--gc-sections $<$<CONFIG:Release,MinSizeRel>:-s>)
endif()

# The command-line companion: a console program on the same scan and switch.
add_library(modemprefix_resources OBJECT cli/modemprefix.rc)
target_include_directories(modemprefix_resources PRIVATE ${CMAKE_SOURCE_DIR}/cli
                                                         ${CMAKE_BINARY_DIR}/generated)
set_source_files_properties(cli/modemprefix.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/cli/modemprefix.exe.manifest")
add_executable(modemprefix cli/win32_main.cpp)
target_link_libraries(modemprefix PRIVATE modemprefix_core win32_registry modemprefix_resources)
if(NOT MSVC)
  target_link_options(modemprefix PRIVATE -Wl,--gc-sections $<$<CONFIG:Release,MinSizeRel>:-s>)
endif()
