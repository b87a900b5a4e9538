# libtiff built from Debian's source package at one pinned release, as a static C library with
# only the codecs the readers accept (none, PackBits, LZW, Deflate; zlib for Deflate). The
# Windows builds link it, so they decode TIFF with the same library as the native builds; the
# fuzz build links it too, so this release is the one fuzzed. The result stays in the build
# folder: a rebuild finds it done.
include(ExternalProject)

set(SUITE_TIFF_DEBIAN_VERSION 4.5.0-6+deb12u4)
set(pinned_tiff_root ${CMAKE_BINARY_DIR}/pinned-tiff)
set(pinned_tiff_prefix ${pinned_tiff_root}/install)
set(pinned_tiff_library ${pinned_tiff_prefix}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}tiff${CMAKE_STATIC_LIBRARY_SUFFIX})

if(WIN32)
  # Debian's libz-mingw-w64-dev; its static archive, never the DLL's import library.
  find_library(SUITE_ZLIB_STATIC NAMES libz.a REQUIRED)
  find_path(SUITE_ZLIB_INCLUDE zlib.h REQUIRED)
else()
  find_package(ZLIB REQUIRED)
  set(SUITE_ZLIB_STATIC ${ZLIB_LIBRARIES})
  set(SUITE_ZLIB_INCLUDE ${ZLIB_INCLUDE_DIRS})
endif()

set(pinned_tiff_args
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX=${pinned_tiff_prefix}
  -DCMAKE_INSTALL_LIBDIR=lib
  -DCMAKE_POSITION_INDEPENDENT_CODE=OFF
  -DBUILD_SHARED_LIBS=OFF
  -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF
  -Dzlib=ON -DZLIB_LIBRARY=${SUITE_ZLIB_STATIC} -DZLIB_INCLUDE_DIR=${SUITE_ZLIB_INCLUDE}
  -Dlibdeflate=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF
  -Dwebp=OFF -Dpixarlog=OFF -Dccitt=OFF -Dthunder=OFF -Dnext=OFF -Dlogluv=OFF -Dmdi=OFF
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenGL=ON -DCMAKE_DISABLE_FIND_PACKAGE_GLUT=ON)
if(CMAKE_TOOLCHAIN_FILE)
  list(APPEND pinned_tiff_args -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE})
else()
  list(APPEND pinned_tiff_args -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER})
endif()
if(SUITE_FUZZ)
  # Instrumented like our own code, so the fuzzer sees inside the decoder. The alignment check
  # alone is off: the LZW decoder reads its code stream with deliberate unaligned 64-bit loads on
  # x86-64, which the processors we ship for handle.
  string(JOIN " " pinned_tiff_c_flags ${SUITE_FUZZ_FLAGS} -fno-sanitize=alignment -g)
  list(APPEND pinned_tiff_args "-DCMAKE_C_FLAGS=${pinned_tiff_c_flags}")
endif()

ExternalProject_Add(pinned_tiff_build
  PREFIX ${pinned_tiff_root}
  DOWNLOAD_COMMAND bash ${CMAKE_SOURCE_DIR}/cmake/debian_source.sh tiff=${SUITE_TIFF_DEBIAN_VERSION}
                   ${pinned_tiff_root}/apt <SOURCE_DIR>
  CMAKE_ARGS ${pinned_tiff_args}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target tiff
  INSTALL_COMMAND ${CMAKE_COMMAND} --install <BINARY_DIR>
  BUILD_BYPRODUCTS ${pinned_tiff_library}
  UPDATE_DISCONNECTED ON)

file(MAKE_DIRECTORY ${pinned_tiff_prefix}/include)
add_library(pinned_tiff STATIC IMPORTED GLOBAL)
set_target_properties(pinned_tiff PROPERTIES
  IMPORTED_LOCATION ${pinned_tiff_library}
  INTERFACE_INCLUDE_DIRECTORIES ${pinned_tiff_prefix}/include
  INTERFACE_LINK_LIBRARIES "${SUITE_ZLIB_STATIC}")
add_dependencies(pinned_tiff pinned_tiff_build)
