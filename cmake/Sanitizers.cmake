# LATHMARK_SANITIZE builds every target of ours with AddressSanitizer (which also checks for
# leaks at exit) and UndefinedBehaviorSanitizer. Nothing recovers: the first finding stops the
# program with a failure status, so a test that trips a sanitizer fails instead of passing
# with a log line nobody reads. Frame pointers are kept for readable stack traces.
option(LATHMARK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(LATHMARK_SANITIZE)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
        message(FATAL_ERROR "LATHMARK_SANITIZE needs GCC or Clang, not ${CMAKE_CXX_COMPILER_ID}")
    endif()
    set(lathmark_sanitizer_flags
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

    add_library(lathmark_sanitizers INTERFACE)
    target_compile_options(lathmark_sanitizers INTERFACE ${lathmark_sanitizer_flags}
        # GCC's instrumentation makes it warn falsely about maybe-uninitialized values (in
        # std::regex, for one); the plain build still reports the real ones.
        $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
    target_link_options(lathmark_sanitizers INTERFACE ${lathmark_sanitizer_flags})
    # Every program gets the runtimes' options compiled in (see the file), so they hold
    # however the program is started.
    target_sources(lathmark_sanitizers INTERFACE
        $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:${CMAKE_CURRENT_LIST_DIR}/../tools/sanitizers/default_options.cpp>)

    # Directory-wide, before any target is made: every library, program and test of ours links
    # it, also targets that do not link the warnings target.
    link_libraries(lathmark_sanitizers)
endif()
