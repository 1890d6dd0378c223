# The download benchmark: a Windows console program that times the download
# engine against bare WinINet loops doing the same requests. Not a test; it is
# run by bench/run_bench.sh, which starts the server and prints the figures.
add_executable(qx_download_bench ${CMAKE_SOURCE_DIR}/bench/download_bench_win.cpp)
# Wired like the tests that talk to the servers: one recording window and the
# real services, from the Win32 test support.
target_include_directories(qx_download_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(qx_download_bench PRIVATE qxwin wininet psapi)
if(MINGW)
  target_compile_options(qx_download_bench PRIVATE -Wall -Wextra)
  target_link_options(qx_download_bench PRIVATE ${QX_STATIC_LINK} -municode)
endif()
