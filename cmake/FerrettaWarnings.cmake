# One warning set for every target of the project.
add_library(ferretta_warnings INTERFACE)
target_compile_options(ferretta_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Woverloaded-virtual -Wimplicit-fallthrough)
if(FERRETTA_WERROR)
    target_compile_options(ferretta_warnings INTERFACE -Werror)
endif()
# g++ 12 reports "literal" + std::string as overlapping copies at -O3 (GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(ferretta_warnings INTERFACE -Wno-restrict)
endif()
