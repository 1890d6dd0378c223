# The hand-over tests need the updater of the next version for the ver line to offer: this source tree
# built once more with the next revision into <build>/qxupdate-<version>. The version is compiled into
# the core library, so the sub-build has its own objects; it builds only the program.
option(QX_E2E_SECOND_VERSION "Build the updater a second time as the next version for the hand-over tests" ON)

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
  set(QX_NEXT_EXE "${QX_NEXT_DIR}/QXUpdate.exe")
  if(CMAKE_CONFIGURATION_TYPES)
    set(QX_NEXT_EXE "${QX_NEXT_DIR}/$<CONFIG>/QXUpdate.exe")
    list(APPEND QX_NEXT_BUILD --config $<CONFIG>)
  endif()
  ExternalProject_Add(qxupdate_next_version
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${QX_NEXT_DIR}"
    CMAKE_ARGS -DQX_VERSION_MAJOR=${QX_VERSION_MAJOR} -DQX_VERSION_MINOR=${QX_VERSION_MINOR}
               -DQX_VERSION_REVISION=${QX_NEXT_REVISION} -DQX_E2E_SECOND_VERSION=OFF
               -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    BUILD_COMMAND ${QX_NEXT_BUILD}
    INSTALL_COMMAND ""
    # The sources are this tree's: the sub-build decides what is stale.
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${QX_NEXT_EXE}")
  set_property(TEST e2e_handover APPEND PROPERTY ENVIRONMENT "QX_EXE_NEXT=${QX_NEXT_EXE}" "QX_VERSION_NEXT=${QX_NEXT_VERSION}")
endif()
