include(GNUInstallDirs)
# The installed headers' root, added to the include path of the package's users.
set(QORL_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/qorl_multimodal)

# Warnings are errors on our own code only.
# GCC 12 misreads asio's coroutine frame allocator (aligned_alloc paired with its own sized
# delete) as a mismatched new/delete once a coroutine is inlined far enough.
set(QORL_WARNINGS -Wall -Wextra -Werror -Wno-mismatched-new-delete)

# qorl_include_root(<var> <name> <dir>...): a directory of the build tree holding just the given
# source directories (paths below the repository), as symbolic links at the same paths. A target
# exports it instead of the repository root, so that its users reach its headers and no others.
function(qorl_include_root var name)
  set(root ${PROJECT_BINARY_DIR}/include_roots/${name})
  foreach(dir ${ARGN})
    get_filename_component(parent ${root}/${dir} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC)
  endforeach()
  set(${var} ${root} PARENT_SCOPE)
endfunction()

# qorl_add_library(<target> <alias> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Headers are included by their path from the repository's layer roots, and from the installed
# headers' root; the installed CMake package names the target as its alias does (qorl::core).
function(qorl_add_library target alias)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS;INCLUDE_DIRS" ${ARGN})
  add_library(${target} ${ARG_SOURCES})
  add_library(${alias} ALIAS ${target})
  # The Python extension module links these static libraries into a shared object.
  if(QORL_BUILD_PYTHON)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
  target_compile_options(${target} PRIVATE ${QORL_WARNINGS})
  foreach(dir ${ARG_INCLUDE_DIRS})
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${dir}>)
  endforeach()
  target_include_directories(${target} PUBLIC $<INSTALL_INTERFACE:${QORL_INSTALL_INCLUDEDIR}>)
  string(REPLACE "qorl::" "" export_name ${alias})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name})
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# qorl_add_test(<target> SOURCES ... DEPS ...): one test binary per layer, every test registered
# with CTest.
function(qorl_add_test target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_compile_options(${target} PRIVATE ${QORL_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} qorl::testing qorl_test_main GTest::gmock GTest::gtest)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "AWS_EC2_METADATA_DISABLED=true")
endfunction()

# qorl_gather_sources(<dir> <sources_var> <tests_var> [RECURSE]): the layer's *.cpp below <dir>,
# split into library sources and *_test.cpp files.
function(qorl_gather_sources dir sources_var tests_var)
  cmake_parse_arguments(ARG "RECURSE" "" "" ${ARGN})
  if(ARG_RECURSE)
    file(GLOB_RECURSE all CONFIGURE_DEPENDS ${dir}/*.cpp)
  else()
    file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
  endif()
  set(tests ${all})
  list(FILTER all EXCLUDE REGEX "_test\\.cpp$")
  list(FILTER tests INCLUDE REGEX "_test\\.cpp$")
  set(${sources_var} ${all} PARENT_SCOPE)
  set(${tests_var} ${tests} PARENT_SCOPE)
endfunction()
