# The program's layers as libraries, each seeing only its own headers and the public headers of
# the layers it links. Every header is included by its path below src/ ("search/query.h");
# instead of putting all of src/ on the include path, each layer gets two folders of its own in
# the build tree with links to just the headers it lists: one for its public headers, on the
# include path of everything that links it, and one for its internal headers, on its own
# sources' include path only. A wrong-way include (a search source including
# "run/search_run.h"), an include of another layer's internal header and an include of a header
# that nobody listed all fail to compile.

# ferretta_layer(<name> [INTERFACE] SOURCES <file>... [HEADERS <header>...]
#                [INTERNAL_HEADERS <header>...] [LINKS <target>...] [PRIVATE_LINKS <target>...])
#   A static library (or, with INTERFACE, an aggregate of other layers). SOURCES are the
#   translation units; HEADERS (.h, .inc) are exposed to every layer that links this one,
#   INTERNAL_HEADERS to this layer's own sources only (and to the tests and fuzz targets that
#   ask for them with ferretta_layer_internals). Paths are relative to the calling
#   CMakeLists.txt; headers are exposed under their src/-relative paths. A header among the
#   SOURCES is an error: each header is either public or internal. LINKS are the lower layers
#   and packages it uses publicly.
function(ferretta_layer name)
    cmake_parse_arguments(PARSE_ARGV 1 LAYER "INTERFACE" ""
                          "SOURCES;HEADERS;INTERNAL_HEADERS;LINKS;PRIVATE_LINKS")
    if(LAYER_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "${name}: ${LAYER_UNPARSED_ARGUMENTS} under no keyword")
    endif()
    if(LAYER_INTERFACE)
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE ${LAYER_LINKS})
        return()
    endif()
    foreach(source IN LISTS LAYER_SOURCES)
        if(source MATCHES "\\.(h|inc)$")
            message(FATAL_ERROR "${name}: the header ${source} is among the SOURCES; "
                                "list it under HEADERS (public) or INTERNAL_HEADERS")
        endif()
    endforeach()
    add_library(${name} STATIC ${LAYER_SOURCES} ${LAYER_HEADERS} ${LAYER_INTERNAL_HEADERS})
    target_link_libraries(${name} PUBLIC ${LAYER_LINKS} PRIVATE ferretta_warnings ${LAYER_PRIVATE_LINKS})
    set(root ${PROJECT_BINARY_DIR}/layers/${name})
    file(REMOVE_RECURSE ${root})
    ferretta_link_headers(${root}/public ${LAYER_HEADERS})
    ferretta_link_headers(${root}/internal ${LAYER_INTERNAL_HEADERS})
    target_include_directories(${name} PUBLIC ${root}/public PRIVATE ${root}/internal)
    set_target_properties(${name} PROPERTIES FERRETTA_INTERNAL_INCLUDE ${root}/internal)
endfunction()

# ferretta_layer_internals(<target> <layer>...)
#   Lets a test or fuzz target of a layer's internal parts include the layer's internal
#   headers. Keep it for the tests of the parts themselves; everything else goes through the
#   public headers.
function(ferretta_layer_internals target)
    foreach(layer IN LISTS ARGN)
        get_target_property(internal ${layer} FERRETTA_INTERNAL_INCLUDE)
        if(NOT internal)
            message(FATAL_ERROR "${target}: ${layer} is not a layer with internal headers")
        endif()
        target_include_directories(${target} PRIVATE ${internal})
    endforeach()
endfunction()

# Links the given headers (relative to the current source folder) into `root` under their
# src/-relative paths.
function(ferretta_link_headers root)
    file(MAKE_DIRECTORY ${root})
    foreach(header IN LISTS ARGN)
        if(NOT header MATCHES "\\.(h|inc)$")
            message(FATAL_ERROR "${header} is listed as a header")
        endif()
        cmake_path(ABSOLUTE_PATH header BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                   NORMALIZE OUTPUT_VARIABLE absolute)
        cmake_path(RELATIVE_PATH absolute BASE_DIRECTORY ${PROJECT_SOURCE_DIR}/src
                   OUTPUT_VARIABLE relative)
        cmake_path(GET relative PARENT_PATH folder)
        file(MAKE_DIRECTORY ${root}/${folder})
        file(CREATE_LINK ${absolute} ${root}/${relative} SYMBOLIC)
    endforeach()
endfunction()

# ferretta_module(<target> <file name> <source> <library>)
#   A module the programs load at first use (platform/module.h): <source> holds its entry and
#   <library> the rest. It is built beside ferretta-cli as <file name>.so, with a copy beside
#   the window's program, where the loaders look first.
function(ferretta_module target fileName source library)
    add_library(${target} MODULE ${source})
    target_link_libraries(${target} PRIVATE ${library} ferretta_warnings)
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${fileName} PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/src)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/src/ui
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}>
                ${PROJECT_BINARY_DIR}/src/ui/${fileName}.so)
endfunction()
