# What the hand-over tests (test_handover.py) need beyond the other
# end-to-end tests: a second QXUpdate.exe of a higher version, for the ver
# line to offer.
#
# The second updater is this same source tree built once more with revision
# 2 (version 1.1.2) into <build>/qxupdate-1.1.2. The version is compiled into
# the core library, so the sub-build has its own objects; it is part of the
# normal build and builds only the program.

option(QX_E2E_SECOND_VERSION "Build the updater a second time as version 1.1.2 for the hand-over tests" ON)

set(QX_HANDOVER_ENV "")
if(TARGET qxaddr)
  list(APPEND QX_HANDOVER_ENV "QX_QXADDR=$<TARGET_FILE:qxaddr>")
endif()

if(QX_E2E_SECOND_VERSION)
  include(ExternalProject)
  math(EXPR QX_NEXT_REVISION "${QX_VERSION_REVISION} + 1")
  set(QX_NEXT_VERSION "${QX_VERSION_MAJOR}.${QX_VERSION_MINOR}.${QX_NEXT_REVISION}")
  set(QX_NEXT_DIR "${CMAKE_BINARY_DIR}/qxupdate-${QX_NEXT_VERSION}")
  # Under make, $(MAKE) lets the sub-build share the outer build's jobs.
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(QX_NEXT_BUILD $(MAKE) QXUpdate)
  else()
    set(QX_NEXT_BUILD ${CMAKE_COMMAND} --build <BINARY_DIR> --target QXUpdate)
  endif()
  if(CMAKE_CONFIGURATION_TYPES)
    set(QX_NEXT_EXE "${QX_NEXT_DIR}/$<CONFIG>/QXUpdate.exe")
    list(APPEND QX_NEXT_BUILD --config $<CONFIG>)
  else()
    set(QX_NEXT_EXE "${QX_NEXT_DIR}/QXUpdate.exe")
  endif()
  set(QX_NEXT_ARGS
    -DQX_VERSION_MAJOR=${QX_VERSION_MAJOR}
    -DQX_VERSION_MINOR=${QX_VERSION_MINOR}
    -DQX_VERSION_REVISION=${QX_NEXT_REVISION}
    # The sub-build must not start a sub-build of its own.
    -DQX_E2E_SECOND_VERSION=OFF)
  if(CMAKE_TOOLCHAIN_FILE)
    list(APPEND QX_NEXT_ARGS "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}")
  endif()
  if(CMAKE_BUILD_TYPE)
    list(APPEND QX_NEXT_ARGS "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}")
  endif()
  ExternalProject_Add(qxupdate_next_version
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${QX_NEXT_DIR}"
    CMAKE_ARGS ${QX_NEXT_ARGS}
    BUILD_COMMAND ${QX_NEXT_BUILD}
    INSTALL_COMMAND ""
    # The sources are this tree's: let the sub-build decide what is stale.
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${QX_NEXT_EXE}"
    STEP_TARGETS build)
  list(APPEND QX_HANDOVER_ENV "QX_EXE_NEXT=${QX_NEXT_EXE}" "QX_VERSION_NEXT=${QX_NEXT_VERSION}")
endif()

if(TEST e2e_handover)
  set_property(TEST e2e_handover APPEND PROPERTY ENVIRONMENT ${QX_HANDOVER_ENV})
endif()
