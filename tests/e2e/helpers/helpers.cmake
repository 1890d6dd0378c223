# Small Windows programs the end-to-end tests start or load: qxe2e_helper (started by execute lines; also
# a window that records the keys it receives) and qxe2e_regdll, whose registration writes a registry value.
add_executable(qxe2e_helper WIN32 "${CMAKE_CURRENT_LIST_DIR}/helper.cpp")
add_library(qxe2e_regdll SHARED "${CMAKE_CURRENT_LIST_DIR}/regdll.cpp")
set_target_properties(qxe2e_regdll PROPERTIES PREFIX "")
target_link_libraries(qxe2e_regdll PRIVATE advapi32)
foreach(helper qxe2e_helper qxe2e_regdll)
  target_compile_definitions(${helper} PRIVATE UNICODE _UNICODE)
  if(MINGW)
    target_link_options(${helper} PRIVATE ${QX_STATIC_LINK})
  elseif(MSVC)
    set_property(TARGET ${helper} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
  endif()
endforeach()
if(MINGW)
  target_link_options(qxe2e_helper PRIVATE -municode)
  # regsvr32 looks the entry points up by their plain names.
  target_link_options(qxe2e_regdll PRIVATE -Wl,--kill-at)
endif()
set(QX_E2E_HELPER_ENV "QX_E2E_HELPER=$<TARGET_FILE:qxe2e_helper>" "QX_E2E_REGDLL=$<TARGET_FILE:qxe2e_regdll>"
    "QX_QXADDR=$<TARGET_FILE:qxaddr>")
