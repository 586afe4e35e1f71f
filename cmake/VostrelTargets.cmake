# Every library is the set of .cpp files below its folder, so adding a unit
# never means editing a build file. Files ending in _main.cpp are programs.
function(vostrel_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_main\\.cpp$")
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# One test program per test folder, from every *_test.cpp in it.
function(vostrel_test name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  # The tests, and the scenario code a folder's tests share.
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*_test.cpp ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  list(REMOVE_DUPLICATES srcs)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs} ${PROJECT_SOURCE_DIR}/tests/lsan_suppressions.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} vostrel_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  # Where the tests find the sources and the program, without relying on
  # the environment that ctest passes on.
  target_compile_definitions(${name} PRIVATE
    VOSTREL_SOURCE_DIR_DEFAULT="${PROJECT_SOURCE_DIR}"
    VOSTREL_BINARY_DEFAULT="$<TARGET_FILE:vostrel>")
  # A test named child_* is the part of another test that runs in a process
  # of its own: that test starts it, ctest does not.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    TEST_FILTER "-*.child_*"
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()
