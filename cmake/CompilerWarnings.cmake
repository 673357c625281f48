# One INTERFACE target that carries the project's warning flags; every target of ours links it.
add_library(lathmark_warnings INTERFACE)
target_compile_options(lathmark_warnings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion>)

function(lathmark_apply_warnings target)
    target_link_libraries(${target} PRIVATE lathmark_warnings)
endfunction()
