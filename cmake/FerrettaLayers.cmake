# The program's layers as libraries, each seeing only its own headers and those of the layers
# it links. Every header is included by its path below src/ ("search/query.h"); instead of
# putting all of src/ on the include path, each layer gets a folder of its own in the build
# tree with links to just the headers of its source list. A wrong-way include (a search source
# including "app/search_run.h") then fails to compile, and a layer cannot use a header that
# nobody listed.

# ferretta_layer(<name> [INTERFACE] SOURCES <file>... [LINKS <target>...])
#   A static library (or, with INTERFACE, an aggregate of other layers) whose headers (.h and
#   .inc among the sources, paths relative to the calling CMakeLists.txt) are exposed under
#   their src/-relative paths. LINKS are the lower layers and packages it uses publicly.
function(ferretta_layer name)
    cmake_parse_arguments(PARSE_ARGV 1 LAYER "INTERFACE" "" "SOURCES;LINKS;PRIVATE_LINKS")
    if(LAYER_INTERFACE)
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE ${LAYER_LINKS})
        return()
    endif()
    add_library(${name} STATIC ${LAYER_SOURCES})
    target_link_libraries(${name} PUBLIC ${LAYER_LINKS} PRIVATE ferretta_warnings ${LAYER_PRIVATE_LINKS})
    ferretta_expose_headers(${name} ${LAYER_SOURCES})
endfunction()

# Links the headers among `sources` (relative to the current source folder) into the target's
# own include folder and puts that folder on the target's public include path.
function(ferretta_expose_headers target)
    set(root ${PROJECT_BINARY_DIR}/layers/${target})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root})
    foreach(source IN LISTS ARGN)
        if(NOT source MATCHES "\\.(h|inc)$")
            continue()
        endif()
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                   NORMALIZE OUTPUT_VARIABLE absolute)
        cmake_path(RELATIVE_PATH absolute BASE_DIRECTORY ${PROJECT_SOURCE_DIR}/src
                   OUTPUT_VARIABLE relative)
        cmake_path(GET relative PARENT_PATH folder)
        file(MAKE_DIRECTORY ${root}/${folder})
        file(CREATE_LINK ${absolute} ${root}/${relative} SYMBOLIC)
    endforeach()
    target_include_directories(${target} PUBLIC ${root})
endfunction()
