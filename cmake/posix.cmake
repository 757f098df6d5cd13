find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
find_package(X11 REQUIRED)

add_library(digestbox_platform OBJECT
  src/platform/posix/code_page_posix.cpp
  src/platform/posix/directory_posix.cpp
  src/platform/posix/file_posix.cpp
  src/platform/posix/last_error_posix.cpp
  src/platform/posix/locale_codec.cpp
  src/platform/posix/system_error_posix.cpp)
add_library(digestbox_crypto OBJECT src/platform/posix/crypto_posix.cpp)
add_library(digestbox_desktop OBJECT
  src/platform/posix/key_state_posix.cpp
  src/platform/posix/terminal_desktop.cpp
  src/platform/posix/visible_text.cpp)
foreach(target digestbox_platform digestbox_crypto digestbox_desktop)
  target_include_directories(${target} PUBLIC src)
endforeach()
target_link_libraries(digestbox_crypto PUBLIC OpenSSL::Crypto)
target_link_libraries(digestbox_desktop PUBLIC X11::X11)

set(DIGESTBOX_ENTRY src/app/main_posix.cpp)
set(DIGESTBOX_SYSTEM_LIBS OpenSSL::Crypto X11::X11)
