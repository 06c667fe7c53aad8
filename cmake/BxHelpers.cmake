# One static library per Core subsystem folder, so that a half-finished file in
# one subsystem does not stop the others from building and testing.
#   bx_core_module(NAME Imap DEPS ...)
function(bx_core_module)
  cmake_parse_arguments(M "" "NAME" "DEPS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR}/${M_NAME})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(target BxCore${M_NAME})
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${M_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${M_DEPS})
  endif()
  add_library(BrindleboxCore::${M_NAME} ALIAS ${target})
endfunction()

# One GoogleTest executable per folder below tests/core (and similar), named
# test_<folder>, registered with CTest case by case.
#   bx_gtest_dir(DIR path NAME name LIBS ...)
function(bx_gtest_dir)
  cmake_parse_arguments(T "" "DIR;NAME" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${T_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${T_NAME} ${srcs})
  target_link_libraries(test_${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(test_${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${T_NAME} ENVIRONMENT "TZ=UTC;LC_ALL=C.UTF-8;BX_SOURCE_DIR=${PROJECT_SOURCE_DIR};BX_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
