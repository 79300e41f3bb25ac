# GoogleTest: Debian's package on Linux; for the MinGW build the same sources
# compiled with the cross toolchain.
enable_testing()
if(WIN32)
  if(NOT TARGET gtest)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
  set(TW_GTEST_LIBS gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(TW_GTEST_LIBS GTest::gtest GTest::gtest_main)
endif()

# tw_add_test(NAME SOURCES a.cpp b.cpp LIBS x y [ENV K=V ...] [LABELS l])
# One executable per group of related tests, run by CTest as one test.
function(tw_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${TW_GTEST_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# In an ASan build the umockdev preload library comes before the ASan runtime;
# ASan accepts that when told so. In a TSan build the test bed's own threads
# (umockdev and GLib, built without TSan, whose locking TSan cannot see) are
# left out of the race detection; everything built here stays in it.
function(tw_allow_umockdev_preload test)
  if(TW_SANITIZE STREQUAL "address")
    set_tests_properties(${test} PROPERTIES ENVIRONMENT_MODIFICATION
                         "ASAN_OPTIONS=string_append::verify_asan_link_order=0")
  elseif(TW_SANITIZE STREQUAL "thread")
    set_tests_properties(${test} PROPERTIES ENVIRONMENT_MODIFICATION
                         "TSAN_OPTIONS=string_append: ignore_noninstrumented_modules=1")
  endif()
endfunction()

# tw_add_udev_test(NAME SOURCES a.cpp LIBS x y [ENV K=V ...])
# A test program that builds a umockdev test bed: CTest runs it under
# umockdev-wrapper. Not built where umockdev is missing (Windows, or a machine
# without umockdev and libumockdev-dev); its tests skip when the program is
# started without the wrapper.
function(tw_add_udev_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV" ${ARGN})
  if(WIN32)
    return()
  endif()
  find_program(TW_UMOCKDEV_WRAPPER umockdev-wrapper)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(UMOCKDEV IMPORTED_TARGET GLOBAL umockdev-1.0)
  if(NOT TW_UMOCKDEV_WRAPPER OR NOT UMOCKDEV_FOUND)
    message(STATUS "umockdev not found: ${name} is not built")
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} PkgConfig::UMOCKDEV ${TW_GTEST_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${TW_UMOCKDEV_WRAPPER} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  tw_allow_umockdev_preload(${name})
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
endfunction()
