# Warnings are errors on our own code only.
set(QORL_WARNINGS -Wall -Wextra -Werror)

# qorl_add_library(<target> <alias> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Headers are included by their path from the repository's layer roots.
function(qorl_add_library target alias)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS;INCLUDE_DIRS" ${ARGN})
  add_library(${target} ${ARG_SOURCES})
  add_library(${alias} ALIAS ${target})
  target_compile_options(${target} PRIVATE ${QORL_WARNINGS})
  target_include_directories(${target} PUBLIC ${ARG_INCLUDE_DIRS})
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# qorl_add_test(<target> SOURCES ... DEPS ...): one test binary per layer, every test registered
# with CTest.
function(qorl_add_test target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_compile_options(${target} PRIVATE ${QORL_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} qorl::testing GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "AWS_EC2_METADATA_DISABLED=true")
endfunction()
