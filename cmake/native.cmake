# Native (Linux or any host) build: the portable core and its unit tests,
# under AddressSanitizer and UndefinedBehaviorSanitizer.
option(QX_SANITIZE "Build the core and its tests with ASan and UBSan" ON)
if(QX_SANITIZE AND NOT MSVC)
  set(QX_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(qxcore PUBLIC ${QX_SAN_FLAGS})
  target_link_options(qxcore PUBLIC ${QX_SAN_FLAGS})
endif()
if(NOT MSVC)
  target_compile_options(qxcore PRIVATE -Wall -Wextra -Werror=return-type)
endif()

# Hashes and signature checks come from libcrypto here, from CNG on Windows.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(qxcore PUBLIC OpenSSL::Crypto)

find_package(GTest REQUIRED)
file(GLOB_RECURSE QX_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(qx_unit_tests ${QX_UNIT_TESTS})
target_include_directories(qx_unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(qx_unit_tests PRIVATE qxcore GTest::gtest GTest::gtest_main GTest::gmock)
add_test(NAME unit_tests COMMAND qx_unit_tests --gtest_brief=1)

# The interpreter's fuzz target, built only with clang: a separate build
# folder configured with -DCMAKE_CXX_COMPILER=clang++ -DQX_FUZZ=ON.
option(QX_FUZZ "Build the libFuzzer target of the script interpreter (clang only)" OFF)
if(QX_FUZZ)
  target_compile_options(qxcore PUBLIC -fsanitize=fuzzer-no-link)
  add_executable(script_fuzz ${CMAKE_SOURCE_DIR}/tests/fuzz/script_fuzz.cpp)
  target_include_directories(script_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
  target_link_libraries(script_fuzz PRIVATE qxcore)
  target_link_options(script_fuzz PRIVATE -fsanitize=fuzzer)
endif()
