add_library(digestbox_platform OBJECT
  src/platform/win32/code_page_win32.cpp
  src/platform/win32/directory_win32.cpp
  src/platform/win32/disk_win32.cpp
  src/platform/win32/file_win32.cpp
  src/platform/win32/final_path.cpp
  src/platform/win32/last_error_win32.cpp
  src/platform/win32/system_error_win32.cpp
  src/platform/win32/temporary_file_win32.cpp
  src/platform/win32/in_place_file_win32.cpp
  src/platform/win32/nt_file.cpp
  src/platform/win32/file_metadata_win32.cpp
  src/platform/win32/worker_context_win32.cpp)
add_library(digestbox_crypto OBJECT src/platform/win32/crypto_win32.cpp)
# Manifest, icon, version information and the progress window's template,
# compiled by windres.
enable_language(RC)
add_library(digestbox_desktop OBJECT
  res/windows/progress_dialog.rc
  src/desktop/win32/desktop_win32.cpp
  src/desktop/win32/covering_font.cpp
  src/desktop/win32/progress_dialog.cpp
  src/desktop/win32/report_box.cpp
  src/desktop/win32/report_fit.cpp
  src/desktop/win32/report_keys.cpp
  src/desktop/win32/taskbar_button.cpp)
# The Windows headers as the backend uses them, on the backend and on
# whatever includes them (the entry, the Windows suites and driver).
set(DIGESTBOX_WINDOWS_DEFINITIONS UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601)
foreach(target digestbox_platform digestbox_crypto digestbox_desktop)
  target_include_directories(${target} PUBLIC src)
  target_compile_definitions(${target} PUBLIC ${DIGESTBOX_WINDOWS_DEFINITIONS})
endforeach()

set(DIGESTBOX_ENTRY src/app/main_win32.cpp)
set(DIGESTBOX_SYSTEM_LIBS advapi32 user32 gdi32 ole32 uuid kernel32)
set(DIGESTBOX_GUI WIN32)

# Only Windows' own DLLs beside each program: the C++ runtime is linked in.
# Terminal-server aware (no compatibility shims on a Remote Desktop server),
# subsystem 6.01 (Windows 7, where the manifest starts); on 32 bits large-
# address-aware (4 GiB on a 64-bit Windows), on 64 bits ASLR with the whole
# address space.
function(digestbox_windows_program target)
  target_compile_definitions(${target} PRIVATE ${DIGESTBOX_WINDOWS_DEFINITIONS})
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
    -Wl,--tsaware -Wl,--major-subsystem-version,6
    -Wl,--minor-subsystem-version,1)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_link_options(${target} PRIVATE -Wl,--dynamicbase -Wl,--high-entropy-va)
  else()
    target_link_options(${target} PRIVATE -Wl,--large-address-aware)
  endif()
endfunction()

set(DIGESTBOX_MANIFEST ${CMAKE_BINARY_DIR}/digestbox.manifest)
configure_file(res/windows/digestbox.manifest.in ${DIGESTBOX_MANIFEST} @ONLY)
configure_file(res/windows/digestbox.rc.in ${CMAKE_BINARY_DIR}/digestbox.rc @ONLY)
set(DIGESTBOX_RESOURCES ${CMAKE_BINARY_DIR}/digestbox.rc)
set_property(SOURCE ${DIGESTBOX_RESOURCES} APPEND PROPERTY OBJECT_DEPENDS
  ${DIGESTBOX_MANIFEST} ${CMAKE_SOURCE_DIR}/res/windows/digestbox.ico)

# What runs once a run or a few times a second (the listing, the progress
# window, the boxes), the writing of digest files, and a record's open and
# name conversion, which wait on the system far longer than they compute,
# are built for size in a release: the 32-bit program stays under 512 KiB.
# The hashing, the reading of lists and the digests' comparison are not
# among them.
set_source_files_properties(
  src/app/app_main.cpp
  src/app/main_win32.cpp
  src/common/stop.cpp
  src/common/visible_text.cpp
  src/create/create_digests.cpp
  src/create/settle.cpp
  src/create/file_digest.cpp
  src/create/list_files.cpp
  src/desktop/show_system_error.cpp
  src/desktop/win32/covering_font.cpp
  src/desktop/win32/desktop_win32.cpp
  src/desktop/win32/progress_dialog.cpp
  src/desktop/win32/report_box.cpp
  src/desktop/win32/report_fit.cpp
  src/desktop/win32/report_keys.cpp
  src/desktop/win32/taskbar_button.cpp
  src/digest/digest_record.cpp
  src/hash/crypt_provider.cpp
  src/pipeline/crew.cpp
  src/pipeline/threads.cpp
  src/output/digest_file_batch.cpp
  src/output/replacement_file.cpp
  src/platform/for_each_entry.cpp
  src/platform/temporary_name.cpp
  src/platform/win32/directory_win32.cpp
  src/platform/win32/code_page_win32.cpp
  src/platform/win32/disk_win32.cpp
  src/platform/win32/file_metadata_win32.cpp
  src/platform/win32/file_win32.cpp
  src/platform/win32/final_path.cpp
  src/platform/win32/in_place_file_win32.cpp
  src/platform/win32/nt_file.cpp
  src/platform/win32/system_error_win32.cpp
  src/platform/win32/temporary_file_win32.cpp
  src/progress/progress_texts.cpp
  src/run/box_relay.cpp
  src/run/hash_threads.cpp
  src/run/pass_run.cpp
  src/run/run_feed.cpp
  src/verify/list_reading.cpp
  src/verify/list_walk.cpp
  src/verify/scan_digest_files.cpp
  src/verify/verify_digests.cpp
  src/verify/verify_report.cpp
  PROPERTIES COMPILE_OPTIONS $<$<CONFIG:Release>:-Os>)
