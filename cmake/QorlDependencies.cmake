# Third-party libraries, all from Debian packages (see scripts/install-deps): those of the
# libraries, the command's, then those of the tests and benchmarks.
include(QorlLibraries)
find_package(CLI11 2 CONFIG REQUIRED)

if(QORL_BUILD_TESTS)
  find_package(GTest REQUIRED)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()
if(QORL_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
