# Windows build: the Win32 platform layer, QXUpdate.exe, and the tests that
# need real Win32 (run under Wine when cross-compiling).
enable_language(RC)

# What ships is the optimised, stripped program; a Windows build folder is a
# Release build unless told otherwise, so the tests run what deployers get.
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()

if(MINGW)
  # No DLL beyond Windows' own: the C and C++ runtimes are linked in.
  set(QX_STATIC_LINK -static -static-libgcc -static-libstdc++)
  target_compile_options(qxcore PRIVATE -Wall -Wextra)
endif()
target_compile_definitions(qxcore PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

add_library(qxwin STATIC ${QX_WIN_SOURCES})
target_include_directories(qxwin PUBLIC ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(qxwin PUBLIC qxcore wininet ole32 oleaut32 uuid comctl32 advapi32 shell32 user32 gdi32 version bcrypt)

# The download benchmark: a command, not a test (bench/run_bench.sh).
include(${CMAKE_SOURCE_DIR}/bench/bench.cmake OPTIONAL)

configure_file(res/QXUpdate.rc.in ${QX_GENERATED_DIR}/QXUpdate.rc @ONLY)
configure_file(res/QXUpdate.manifest ${QX_GENERATED_DIR}/QXUpdate.manifest COPYONLY)
add_executable(QXUpdate WIN32 src/app/main_win.cpp ${QX_GENERATED_DIR}/QXUpdate.rc)
target_include_directories(QXUpdate PRIVATE ${CMAKE_SOURCE_DIR}/res)
set_source_files_properties(${QX_GENERATED_DIR}/QXUpdate.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/QXUpdate.ico;${QX_GENERATED_DIR}/QXUpdate.manifest")
target_link_libraries(QXUpdate PRIVATE qxwin)
if(MINGW)
  target_link_options(QXUpdate PRIVATE ${QX_STATIC_LINK} -municode -mwindows $<$<CONFIG:Release>:-s>)
elseif(MSVC)
  target_link_options(QXUpdate PRIVATE /MANIFEST:NO)
  set_property(TARGET QXUpdate PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
endif()
# The configuration trailer: the program file must end in 32 bytes that
# nothing else uses, NUL until a deployer writes the server address there,
# with the room for a publisher's key just before them.
add_custom_command(TARGET QXUpdate POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:QXUpdate>
          -DKEYROOM=${CMAKE_SOURCE_DIR}/res/keyroom72.bin
          -DTRAILER=${CMAKE_SOURCE_DIR}/res/trailer32.bin
          -P ${CMAKE_SOURCE_DIR}/cmake/append_trailer.cmake
  VERBATIM)

# GoogleTest built from source for the Windows target.
set(QX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(EXISTS ${QX_GTEST_SOURCE_DIR}/CMakeLists.txt)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  file(GLOB_RECURSE QX_WIN32_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
  add_executable(qx_win32_tests ${QX_WIN32_TESTS})
  target_include_directories(qx_win32_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/win32 ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(qx_win32_tests PRIVATE qxwin crypt32 gtest gmock gtest_main)
  if(MINGW)
    target_link_options(qx_win32_tests PRIVATE ${QX_STATIC_LINK})
  endif()
  add_test(NAME win32_tests COMMAND qx_win32_tests --gtest_brief=1 --gtest_filter=-HttpWin*)
  set_tests_properties(win32_tests PROPERTIES ENVIRONMENT "QX_EXE=$<TARGET_FILE:QXUpdate>")
  # The HTTP client against nginx (plain and TLS) and the fault server, started around the run.
  find_program(QX_PYTHON python3 REQUIRED)
  add_test(NAME http_win_tests
           COMMAND ${QX_PYTHON} ${CMAKE_SOURCE_DIR}/tests/servers/servers.py ${CMAKE_CROSSCOMPILING_EMULATOR}
                   $<TARGET_FILE:qx_win32_tests> --gtest_brief=1 --gtest_filter=HttpWin*)
  # A test that cannot run here fails the run rather than passing as skipped.
  set_tests_properties(win32_tests http_win_tests PROPERTIES RESOURCE_LOCK wineprefix
                       FAIL_REGULAR_EXPRESSION "SKIPPED|skipped=")
  add_dependencies(qx_win32_tests QXUpdate)
endif()

# The end-to-end driver: finds the updater's windows and reports on them.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/driver/qxdriver.cpp)
  add_executable(qxdriver tests/e2e/driver/qxdriver.cpp)
  target_compile_definitions(qxdriver PRIVATE UNICODE _UNICODE)
  target_link_libraries(qxdriver PRIVATE user32 gdi32)
  if(MINGW)
    target_link_options(qxdriver PRIVATE ${QX_STATIC_LINK} -municode)
  endif()
  include(${CMAKE_SOURCE_DIR}/tests/e2e/e2e.cmake OPTIONAL)
endif()
