# End-to-end tests: one ctest test per tests/e2e/test_*.py, driving QXUpdate.exe under Wine through qxdriver.exe.
# Everything under Wine shares one prefix and one X display, hence the resource lock.
find_program(QX_PYTHON python3 REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/helpers/helpers.cmake)

file(GLOB QX_E2E_MODULES CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/test_*.py")
foreach(module_path ${QX_E2E_MODULES})
  get_filename_component(module "${module_path}" NAME_WE)
  string(REGEX REPLACE "^test_" "e2e_" name "${module}")
  add_test(NAME ${name} COMMAND ${QX_PYTHON} -m unittest -v ${module}
           WORKING_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}")
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 1200 LABELS e2e
    FAIL_REGULAR_EXPRESSION "SKIPPED|skipped="
    ENVIRONMENT "${QX_E2E_HELPER_ENV};QX_REPO=${CMAKE_SOURCE_DIR};QX_BUILD_DIR=${CMAKE_BINARY_DIR};QX_WINE_RUN=${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;QX_EXE=$<TARGET_FILE:QXUpdate>;QX_DRIVER=$<TARGET_FILE:qxdriver>;QX_VERSION=${QX_VERSION_MAJOR}.${QX_VERSION_MINOR}.${QX_VERSION_REVISION};PYTHONDONTWRITEBYTECODE=1;PYTHONUNBUFFERED=1")
endforeach()

# The publisher's part of the signed sessions is done by the Linux qxsign of the native build.
set(QX_NATIVE_DIR "$ENV{QX_NATIVE_BUILD_DIR}")
if(NOT QX_NATIVE_DIR)
  set(QX_NATIVE_DIR "${CMAKE_SOURCE_DIR}/build/native")
endif()
set_property(TEST e2e_signed APPEND PROPERTY ENVIRONMENT "QX_QXSIGN=${QX_NATIVE_DIR}/tools/qxsign")

# File time stamps must come out the same whatever the time zone; Wine takes its zone from TZ.
foreach(zone Asia/Shanghai America/New_York)
  string(REGEX REPLACE "[^A-Za-z0-9]+" "_" zone_name "${zone}")
  add_test(NAME win32_tests_tz_${zone_name} COMMAND qx_win32_tests --gtest_brief=1 --gtest_filter=FilesWin32.*)
  set_tests_properties(win32_tests_tz_${zone_name} PROPERTIES ENVIRONMENT "TZ=${zone}" RESOURCE_LOCK wineprefix
    FAIL_REGULAR_EXPRESSION "SKIPPED|skipped=")
endforeach()

include("${CMAKE_CURRENT_LIST_DIR}/handover.cmake")
