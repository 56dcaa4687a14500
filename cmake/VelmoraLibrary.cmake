# velmora_library(NAME DEPS...): a static library from every .cpp of the calling
# folder; its headers are included as "folder/Header.h" from the source root.
function(velmora_library name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB _hdrs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT _srcs)
    return()
  endif()
  add_library(${name} STATIC ${_srcs} ${_hdrs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARGN})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# velmora_test(FOLDER DEPS... [TIMEOUT seconds]): one GoogleTest program per folder of
# tests/. TIMEOUT limits each of its tests (ctest's own limit otherwise): the readers'
# tests feed inputs that take milliseconds to a linear reader and many minutes to a
# quadratic one, so a reader that turns quadratic fails instead of slowing the suite.
function(velmora_test folder)
  cmake_parse_arguments(ARG "" "TIMEOUT" "" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  set(_name test_${folder})
  add_executable(${_name} ${_srcs} ${CMAKE_SOURCE_DIR}/tests/env/TestEnvironment.cpp)
  target_link_libraries(${_name} PRIVATE ${ARG_UNPARSED_ARGUMENTS} velmora_testsupport GTest::gtest_main GTest::gmock)
  set_target_properties(${_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(_properties ENVIRONMENT "VELMORA_PROGRAM_DIR=${VELMORA_PROGRAM_DIR}")
  if(ARG_TIMEOUT)
    list(APPEND _properties TIMEOUT ${ARG_TIMEOUT})
  endif()
  gtest_discover_tests(${_name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${_properties})
endfunction()
