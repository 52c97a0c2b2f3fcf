# The libraries qorl_multimodal links, all from Debian packages. Used by the build and installed
# with the CMake package, whose consumers link the same libraries.
find_package(Threads REQUIRED)
find_package(Boost 1.81 CONFIG REQUIRED COMPONENTS url)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(LibXml2 REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3)
pkg_check_modules(EXIV2 REQUIRED IMPORTED_TARGET exiv2)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale libswresample)
find_library(MAGIC_LIBRARY magic REQUIRED)
find_path(MAGIC_INCLUDE_DIR magic.h REQUIRED)
if(NOT TARGET Magic::magic)
  add_library(Magic::magic UNKNOWN IMPORTED)
  set_target_properties(Magic::magic PROPERTIES
    IMPORTED_LOCATION ${MAGIC_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${MAGIC_INCLUDE_DIR})
endif()
# Only the OpenCV modules we use are installed, and those packages ship no CMake config.
find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
foreach(module core imgproc imgcodecs videoio)
  find_library(OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
  if(NOT TARGET OpenCV::${module})
    add_library(OpenCV::${module} UNKNOWN IMPORTED)
    set_target_properties(OpenCV::${module} PROPERTIES
      IMPORTED_LOCATION ${OPENCV_${module}_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${OPENCV_INCLUDE_DIR})
  endif()
endforeach()
