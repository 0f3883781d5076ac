# liblzma (xz-utils) for the LZMA entries of the payload: the target `liblzma`.
#
# The host build links Debian's liblzma-dev. The Windows builds make a static liblzma with the
# MinGW compiler from Debian's source package of xz-utils of the same version as the installed
# liblzma-dev, so that pack and pack.exe write the same bytes. The source is fetched once into
# TORVANE_XZ_SOURCE_CACHE (tools/fetch-xz-source.sh); only the library is built, for size: -Os
# and one section per function, so that sfx.exe's link keeps only the decoder.
if(TARGET liblzma)
  return()
endif()

if(NOT WIN32)
  find_package(LibLZMA REQUIRED)
  add_library(liblzma INTERFACE)
  target_link_libraries(liblzma INTERFACE LibLZMA::LibLZMA)
  return()
endif()

include(ExternalProject)
get_filename_component(TORVANE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(TORVANE_XZ_SOURCE_CACHE ${TORVANE_ROOT}/build/xz-utils-source CACHE PATH
    "Where the Windows builds keep Debian's xz-utils source package")
execute_process(COMMAND dpkg-query -W -f=\${Version} liblzma-dev
                OUTPUT_VARIABLE XZ_DEBIAN_VERSION RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR XZ_DEBIAN_VERSION STREQUAL "")
  message(FATAL_ERROR "liblzma-dev is not installed (tools/install-deps.sh installs it)")
endif()
set(XZ_SOURCE_DIR ${TORVANE_XZ_SOURCE_CACHE}/xz-utils-${XZ_DEBIAN_VERSION})
if(NOT EXISTS ${XZ_SOURCE_DIR}/.complete)
  message(STATUS "Fetching Debian's xz-utils ${XZ_DEBIAN_VERSION} source package")
  execute_process(COMMAND ${TORVANE_ROOT}/tools/fetch-xz-source.sh ${XZ_DEBIAN_VERSION}
                          ${TORVANE_XZ_SOURCE_CACHE} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot fetch xz-utils ${XZ_DEBIAN_VERSION}'s source package")
  endif()
endif()

# The raw LZMA1 coder is all the payload needs: no other filters, checks, formats or threads.
set(XZ_BINARY_DIR ${CMAKE_BINARY_DIR}/xz-utils)
set(XZ_LIBRARY ${XZ_BINARY_DIR}/src/liblzma/.libs/liblzma.a)
ExternalProject_Add(xz_liblzma
  SOURCE_DIR ${XZ_SOURCE_DIR}
  BINARY_DIR ${XZ_BINARY_DIR}
  CONFIGURE_COMMAND ${XZ_SOURCE_DIR}/configure --host=${MINGW_PROCESSOR}-w64-mingw32
    CC=${CMAKE_C_COMPILER} "CFLAGS=-Os -ffunction-sections -fdata-sections"
    --enable-static --disable-shared --disable-threads --disable-nls --disable-doc
    --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links
    --disable-scripts --disable-microlzma --disable-lzip-decoder
    --enable-encoders=lzma1 --enable-decoders=lzma1 --enable-checks=crc32
    --disable-dependency-tracking
  BUILD_COMMAND make -C src/liblzma
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${XZ_LIBRARY}
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

add_library(liblzma STATIC IMPORTED GLOBAL)
set_target_properties(liblzma PROPERTIES IMPORTED_LOCATION ${XZ_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${XZ_SOURCE_DIR}/src/liblzma/api
  INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
add_dependencies(liblzma xz_liblzma)
