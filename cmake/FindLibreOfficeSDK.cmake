# Finds the LibreOffice SDK (the UNO runtime libraries, the sal/cppu/rtl headers and cppumaker)
# and defines the imported target LibreOfficeSDK::UNO. The C++ headers of the office's API
# (com/sun/star/...) are not packaged: they are generated into the build tree from the office's
# type libraries by cppumaker, once (a stamp file marks them done).
#
# Hints: LibreOfficeSDK_ROOT (default /usr/lib/libreoffice). Results: LibreOfficeSDK_FOUND,
# LibreOfficeSDK_PROGRAM_DIR (where soffice and the UNO libraries live),
# LibreOfficeSDK_GENERATED_DIR, and the target LibreOfficeSDK_headers that generates the headers
# (LibreOfficeSDK::UNO depends on it).
include(FindPackageHandleStandardArgs)

set(LibreOfficeSDK_ROOT "/usr/lib/libreoffice" CACHE PATH "The LibreOffice installation folder")

find_path(LibreOfficeSDK_INCLUDE_DIR sal/config.h
          PATHS /usr/include/libreoffice ${LibreOfficeSDK_ROOT}/sdk/include NO_DEFAULT_PATH)
find_program(LibreOfficeSDK_CPPUMAKER cppumaker PATHS ${LibreOfficeSDK_ROOT}/sdk/bin NO_DEFAULT_PATH)
find_path(LibreOfficeSDK_PROGRAM_DIR types.rdb PATHS ${LibreOfficeSDK_ROOT}/program NO_DEFAULT_PATH)
set(_loLibDirs ${LibreOfficeSDK_ROOT}/sdk/lib ${LibreOfficeSDK_ROOT}/program)
find_library(LibreOfficeSDK_SAL_LIBRARY NAMES uno_sal libuno_sal.so.3 PATHS ${_loLibDirs}
             NO_DEFAULT_PATH)
find_library(LibreOfficeSDK_CPPU_LIBRARY NAMES uno_cppu libuno_cppu.so.3 PATHS ${_loLibDirs}
             NO_DEFAULT_PATH)
find_library(LibreOfficeSDK_CPPUHELPER_LIBRARY NAMES uno_cppuhelpergcc3 libuno_cppuhelpergcc3.so.3
             PATHS ${_loLibDirs} NO_DEFAULT_PATH)
if(LibreOfficeSDK_PROGRAM_DIR)
    set(LibreOfficeSDK_TYPES_RDB ${LibreOfficeSDK_PROGRAM_DIR}/types.rdb)
    set(LibreOfficeSDK_OFFAPI_RDB ${LibreOfficeSDK_PROGRAM_DIR}/types/offapi.rdb)
    if(NOT EXISTS ${LibreOfficeSDK_OFFAPI_RDB})
        set(LibreOfficeSDK_OFFAPI_RDB LibreOfficeSDK_OFFAPI_RDB-NOTFOUND)
    endif()
endif()

find_package_handle_standard_args(LibreOfficeSDK
    REQUIRED_VARS LibreOfficeSDK_INCLUDE_DIR LibreOfficeSDK_CPPUMAKER LibreOfficeSDK_PROGRAM_DIR
                  LibreOfficeSDK_OFFAPI_RDB LibreOfficeSDK_SAL_LIBRARY LibreOfficeSDK_CPPU_LIBRARY
                  LibreOfficeSDK_CPPUHELPER_LIBRARY)

if(LibreOfficeSDK_FOUND AND NOT TARGET LibreOfficeSDK::UNO)
    set(LibreOfficeSDK_GENERATED_DIR ${CMAKE_BINARY_DIR}/libreoffice_sdk/include)
    set(_loStamp ${CMAKE_BINARY_DIR}/libreoffice_sdk/cppumaker.stamp)
    # cppumaker wants the output folder glued to -O.
    add_custom_command(
        OUTPUT ${_loStamp}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${LibreOfficeSDK_GENERATED_DIR}
        COMMAND ${LibreOfficeSDK_CPPUMAKER} -Gc -O${LibreOfficeSDK_GENERATED_DIR}
                ${LibreOfficeSDK_TYPES_RDB} ${LibreOfficeSDK_OFFAPI_RDB}
        COMMAND ${CMAKE_COMMAND} -E touch ${_loStamp}
        DEPENDS ${LibreOfficeSDK_TYPES_RDB} ${LibreOfficeSDK_OFFAPI_RDB}
        COMMENT "Generating the LibreOffice API headers with cppumaker"
        VERBATIM)
    add_custom_target(LibreOfficeSDK_headers DEPENDS ${_loStamp})
    # The include folder must exist at configure time for the imported target.
    file(MAKE_DIRECTORY ${LibreOfficeSDK_GENERATED_DIR})

    add_library(LibreOfficeSDK::UNO INTERFACE IMPORTED)
    # SYSTEM: the UNO headers do not build clean under the project's warning set.
    set_target_properties(LibreOfficeSDK::UNO PROPERTIES
        INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
            "${LibreOfficeSDK_INCLUDE_DIR};${LibreOfficeSDK_GENERATED_DIR}"
        INTERFACE_INCLUDE_DIRECTORIES
            "${LibreOfficeSDK_INCLUDE_DIR};${LibreOfficeSDK_GENERATED_DIR}"
        INTERFACE_COMPILE_DEFINITIONS "LINUX;UNX;CPPU_ENV=gcc3"
        INTERFACE_LINK_LIBRARIES
            "${LibreOfficeSDK_CPPUHELPER_LIBRARY};${LibreOfficeSDK_CPPU_LIBRARY};${LibreOfficeSDK_SAL_LIBRARY}"
        INTERFACE_LINK_OPTIONS "LINKER:-rpath,${LibreOfficeSDK_PROGRAM_DIR}")
    mark_as_advanced(LibreOfficeSDK_INCLUDE_DIR LibreOfficeSDK_CPPUMAKER LibreOfficeSDK_PROGRAM_DIR
                     LibreOfficeSDK_SAL_LIBRARY LibreOfficeSDK_CPPU_LIBRARY
                     LibreOfficeSDK_CPPUHELPER_LIBRARY)
endif()
