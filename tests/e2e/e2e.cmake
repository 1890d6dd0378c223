# End-to-end tests of the Windows build: Python test modules start
# QXUpdate.exe under Wine and drive its windows through qxdriver.exe.
#
# Every test that runs under Wine shares one prefix and one X display, so all
# of them hold the resource lock "wineprefix": even with ctest -j they run one
# at a time.

find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  set(QX_PYTHON "${Python3_EXECUTABLE}")
else()
  find_program(QX_PYTHON python3 REQUIRED)
endif()

set(QX_E2E_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(QX_WINE_RUN "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh")
# Small Windows programs the end-to-end tests start or load.
include(${CMAKE_CURRENT_LIST_DIR}/helpers/helpers.cmake)

set(QX_E2E_ENV
  ${QX_E2E_HELPER_ENV}
  "QX_REPO=${CMAKE_SOURCE_DIR}"
  "QX_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "QX_WINE_RUN=${QX_WINE_RUN}"
  "QX_EXE=$<TARGET_FILE:QXUpdate>"
  "QX_DRIVER=$<TARGET_FILE:qxdriver>"
  "QX_VERSION=${QX_VERSION_MAJOR}.${QX_VERSION_MINOR}.${QX_VERSION_REVISION}"
  "PYTHONDONTWRITEBYTECODE=1"
  "PYTHONUNBUFFERED=1")

# One ctest test per module; a new tests/e2e/test_*.py is picked up at the
# next configure.
file(GLOB QX_E2E_MODULES CONFIGURE_DEPENDS "${QX_E2E_DIR}/test_*.py")
foreach(module_path ${QX_E2E_MODULES})
  get_filename_component(module "${module_path}" NAME_WE)
  string(REGEX REPLACE "^test_" "" short "${module}")
  add_test(NAME e2e_${short}
           COMMAND "${QX_PYTHON}" -m unittest -v ${module}
           WORKING_DIRECTORY "${QX_E2E_DIR}")
  set_tests_properties(e2e_${short} PROPERTIES
    ENVIRONMENT "${QX_E2E_ENV}"
    RESOURCE_LOCK wineprefix
    TIMEOUT 1200
    FAIL_REGULAR_EXPRESSION "SKIPPED|skipped="
    LABELS e2e)
endforeach()

foreach(wine_test win32_tests http_win_tests)
  if(TEST ${wine_test})
    set_tests_properties(${wine_test} PROPERTIES RESOURCE_LOCK wineprefix)
  endif()
endforeach()

# File time stamps convert between local time and UTC; they must come out
# the same whatever the time zone. Wine takes its zone from TZ. These runs
# repeat the tests that touch time stamps and clocks in two more zones.
if(TEST win32_tests)
  get_test_property(win32_tests ENVIRONMENT QX_WIN32_TEST_ENV)
  if(NOT QX_WIN32_TEST_ENV)
    set(QX_WIN32_TEST_ENV "")
  endif()
  foreach(zone Asia/Shanghai America/New_York)
    string(REGEX REPLACE "[^A-Za-z0-9]+" "_" zone_name "${zone}")
    add_test(NAME win32_tests_tz_${zone_name}
             COMMAND qx_win32_tests --gtest_brief=1 --gtest_filter=FilesWin32.*:Win32Clock*)
    set_tests_properties(win32_tests_tz_${zone_name} PROPERTIES
      ENVIRONMENT "${QX_WIN32_TEST_ENV};TZ=${zone}"
      RESOURCE_LOCK wineprefix
      FAIL_REGULAR_EXPRESSION "SKIPPED|skipped=")
  endforeach()
endif()

# The hand-over tests' second updater version and file holder.
include("${QX_E2E_DIR}/handover.cmake")
