# Small Windows programs the end-to-end tests use: a program that leaves a
# marker file (for execute), a component whose registration writes a registry value
# (for register), and a window that records the keys it receives (for keypress).
set(QX_E2E_HELPERS_DIR "${CMAKE_CURRENT_LIST_DIR}")

add_executable(qxe2e_marker WIN32 "${QX_E2E_HELPERS_DIR}/marker.cpp")
add_executable(qxe2e_keywin WIN32 "${QX_E2E_HELPERS_DIR}/keywin.cpp")
add_library(qxe2e_regdll SHARED "${QX_E2E_HELPERS_DIR}/regdll.cpp")
set_target_properties(qxe2e_regdll PROPERTIES PREFIX "")
target_link_libraries(qxe2e_regdll PRIVATE advapi32)
target_link_libraries(qxe2e_keywin PRIVATE user32 shell32)

foreach(helper qxe2e_marker qxe2e_keywin qxe2e_regdll)
  target_compile_definitions(${helper} PRIVATE UNICODE _UNICODE)
  if(MINGW)
    target_compile_options(${helper} PRIVATE -Wall -Wextra)
    target_link_options(${helper} PRIVATE ${QX_STATIC_LINK})
  elseif(MSVC)
    set_property(TARGET ${helper} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
  endif()
endforeach()
if(MINGW)
  target_link_options(qxe2e_marker PRIVATE -municode)
  target_link_options(qxe2e_keywin PRIVATE -municode)
  # regsvr32 looks the entry points up by their plain names.
  target_link_options(qxe2e_regdll PRIVATE -Wl,--kill-at)
endif()

set(QX_E2E_HELPER_ENV
  "QX_E2E_MARKER=$<TARGET_FILE:qxe2e_marker>"
  "QX_E2E_KEYWIN=$<TARGET_FILE:qxe2e_keywin>"
  "QX_E2E_REGDLL=$<TARGET_FILE:qxe2e_regdll>"
  "QX_QXADDR=$<TARGET_FILE:qxaddr>")
