include(GNUInstallDirs)
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
find_package(X11 REQUIRED)

add_library(digestbox_platform OBJECT
  src/platform/posix/code_page_posix.cpp
  src/platform/posix/directory_posix.cpp
  src/platform/posix/disk_posix.cpp
  src/platform/posix/file_posix.cpp
  src/platform/posix/last_error_posix.cpp
  src/platform/posix/locale_codec.cpp
  src/platform/posix/system_error_posix.cpp
  src/platform/posix/temporary_file_posix.cpp
  src/platform/posix/stray_file_posix.cpp
  src/platform/posix/in_place_file_posix.cpp
  src/platform/posix/file_metadata_posix.cpp
  src/platform/posix/worker_context_posix.cpp)
add_library(digestbox_crypto OBJECT src/platform/posix/crypto_posix.cpp)
add_library(digestbox_desktop OBJECT
  src/desktop/posix/choose_desktop.cpp
  src/desktop/posix/gtk_desktop.cpp
  src/desktop/posix/interrupt_watch.cpp
  src/desktop/posix/key_state_posix.cpp
  src/desktop/posix/keyboard_desktop.cpp
  src/desktop/posix/module.cpp
  src/desktop/posix/progress_line.cpp
  src/desktop/posix/terminal_desktop.cpp)
foreach(target digestbox_platform digestbox_crypto digestbox_desktop)
  target_include_directories(${target} PUBLIC src)
endforeach()
target_link_libraries(digestbox_crypto PUBLIC OpenSSL::Crypto)
# libX11 is loaded at run time (only where a display is named); its
# headers are enough here.
target_include_directories(digestbox_desktop PRIVATE ${X11_INCLUDE_DIR})
target_link_libraries(digestbox_desktop PUBLIC ${CMAKE_DL_LIBS})
# The one folder the dialog module is loaded from, compiled in: never beside
# the program or in the current directory, where anyone who made the folder
# could plant one. The presets run the program from the build tree.
option(DIGESTBOX_MODULE_IN_BUILD_TREE
  "Load the dialog module from the build tree instead of the installed libdir" OFF)
if(DIGESTBOX_MODULE_IN_BUILD_TREE)
  set(DIGESTBOX_MODULE_DIR ${CMAKE_BINARY_DIR})
else()
  set(DIGESTBOX_MODULE_DIR ${CMAKE_INSTALL_FULL_LIBDIR}/digestbox)
endif()
target_compile_definitions(digestbox_desktop PRIVATE
  DIGESTBOX_MODULE_DIR="${DIGESTBOX_MODULE_DIR}")

set(DIGESTBOX_ENTRY src/app/main_posix.cpp)
set(DIGESTBOX_SYSTEM_LIBS OpenSSL::Crypto ${CMAKE_DL_LIBS})

# Entries in the file managers' menus that start digestbox in a folder, and
# the icon they show.
# They start the program by its installed absolute path: looked up by name
# after changing into the folder, a relative entry in PATH would run a
# "digestbox" planted there.
set(DIGESTBOX_SHARE ${CMAKE_INSTALL_DATADIR})
set(DIGESTBOX_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/digestbox)
foreach(entry nautilus-digestbox.py nemo-background.nemo_action
    nemo-folder.nemo_action file-manager-action.desktop
    dolphin-servicemenu.desktop)
  configure_file(res/linux/${entry} ${CMAKE_BINARY_DIR}/file-manager/${entry} @ONLY)
endforeach()
set(entries ${CMAKE_BINARY_DIR}/file-manager)
install(FILES ${entries}/nautilus-digestbox.py
  DESTINATION ${DIGESTBOX_SHARE}/nautilus-python/extensions RENAME digestbox.py)
install(FILES ${entries}/nemo-background.nemo_action
  DESTINATION ${DIGESTBOX_SHARE}/nemo/actions RENAME digestbox.nemo_action)
install(FILES ${entries}/nemo-folder.nemo_action
  DESTINATION ${DIGESTBOX_SHARE}/nemo/actions RENAME digestbox-folder.nemo_action)
install(FILES ${entries}/file-manager-action.desktop
  DESTINATION ${DIGESTBOX_SHARE}/file-manager/actions RENAME digestbox.desktop)
install(FILES ${entries}/dolphin-servicemenu.desktop
  DESTINATION ${DIGESTBOX_SHARE}/kio/servicemenus RENAME digestbox.desktop)
install(FILES res/digestbox.svg
  DESTINATION ${DIGESTBOX_SHARE}/icons/hicolor/scalable/apps)

# The GTK dialogs, a module of their own so that the program links no GTK.
# Built where GTK 3's headers are; the program works without it.
find_package(PkgConfig)
if(PkgConfig_FOUND AND NOT DIGESTBOX_FUZZ)
  pkg_check_modules(GTK3 IMPORTED_TARGET gtk+-3.0)
endif()
if(GTK3_FOUND)
  add_library(gtk-dialogs MODULE src/desktop/gtk/gtk_dialogs.cpp
    src/desktop/gtk/gtk_progress.cpp src/progress/progress_texts.cpp
    src/common/unicode.cpp)
  set_target_properties(gtk-dialogs PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_include_directories(gtk-dialogs PRIVATE src)
  target_link_libraries(gtk-dialogs PRIVATE PkgConfig::GTK3)
  install(TARGETS gtk-dialogs
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/digestbox)
else()
  message(STATUS "GTK 3 not found: no dialog module")
endif()

# The Wayland key probe, a module of its own for the same reason: plain
# libwayland-client and xkbcommon, with the xdg-shell protocol generated
# here. Built where their headers are; without it a Wayland session reads
# no key.
if(PkgConfig_FOUND AND NOT DIGESTBOX_FUZZ)
  pkg_check_modules(WAYLAND IMPORTED_TARGET wayland-client xkbcommon)
  pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
  find_program(WAYLAND_SCANNER wayland-scanner)
endif()
if(WAYLAND_FOUND AND WAYLAND_PROTOCOLS_DIR AND WAYLAND_SCANNER)
  set(xdg_shell ${WAYLAND_PROTOCOLS_DIR}/stable/xdg-shell/xdg-shell.xml)
  set(xdg_out ${CMAKE_BINARY_DIR}/wayland)
  add_custom_command(
    OUTPUT ${xdg_out}/xdg-shell-client-protocol.h ${xdg_out}/xdg-shell-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${xdg_out}
    COMMAND ${WAYLAND_SCANNER} client-header ${xdg_shell}
            ${xdg_out}/xdg-shell-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xdg_shell}
            ${xdg_out}/xdg-shell-protocol.c
    DEPENDS ${xdg_shell})
  add_library(wayland-keys MODULE src/desktop/wayland/wayland_keys.cpp
    ${xdg_out}/xdg-shell-protocol.c ${xdg_out}/xdg-shell-client-protocol.h)
  set_target_properties(wayland-keys PROPERTIES
    PREFIX ""
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_include_directories(wayland-keys PRIVATE src ${xdg_out})
  target_link_libraries(wayland-keys PRIVATE PkgConfig::WAYLAND)
  install(TARGETS wayland-keys
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/digestbox)
else()
  message(STATUS "libwayland-client, xkbcommon or wayland-protocols not found: no Wayland key probe")
endif()
