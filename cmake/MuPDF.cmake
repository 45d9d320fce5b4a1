# Debian ships MuPDF as static archives only; pkg-config's "-lmupdf" is not enough.
find_library(MUPDF_LIB NAMES libmupdf.a mupdf REQUIRED)
find_library(MUPDF_THIRD_LIB NAMES libmupdf-third.a mupdf-third REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(MUPDF_DEPS REQUIRED IMPORTED_TARGET freetype2 harfbuzz jbig2dec libjpeg
    libopenjp2 gumbo lcms2 zlib)
find_library(MUJS_LIB NAMES mujs REQUIRED)
if(NOT TARGET mupdf::mupdf)
    add_library(mupdf::mupdf INTERFACE IMPORTED)
    set_target_properties(mupdf::mupdf PROPERTIES INTERFACE_LINK_LIBRARIES
        "${MUPDF_LIB};${MUPDF_THIRD_LIB};PkgConfig::MUPDF_DEPS;${MUJS_LIB};m;pthread")
endif()
