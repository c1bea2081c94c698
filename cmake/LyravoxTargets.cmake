include_guard(GLOBAL)

# Warnings and sanitizers are applied per target so that third-party code pulled into the build
# is never compiled with -Werror or instrumented by accident.
function(lyravox_target_defaults target)
    get_target_property(target_type ${target} TYPE)
    if(target_type STREQUAL "INTERFACE_LIBRARY")
        set(scope INTERFACE)
    else()
        set(scope PRIVATE)
    endif()

    target_compile_options(${target} ${scope} -Wall -Wextra -Wpedantic -Werror)
    target_compile_definitions(${target} ${scope} QT_NO_CONTEXTLESS_CONNECT)

    # Hardening, as Debian builds its packages: stack protector, fortified libc calls where the
    # optimiser makes them possible, and relocations made read-only before main runs.
    target_compile_options(${target} ${scope} -fstack-protector-strong)
    target_compile_options(${target} ${scope}
        "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    if(target_type STREQUAL "EXECUTABLE")
        target_link_options(${target} PRIVATE -Wl,-z,relro -Wl,-z,now)
    endif()

    if(LYRAVOX_SANITIZE)
        set(sanitize_flags -fsanitize=address,undefined -fno-omit-frame-pointer
                           -fno-sanitize-recover=undefined)
        target_compile_options(${target} ${scope} ${sanitize_flags})
        # Static libraries carry the link flag to whatever executable finally links them.
        if(target_type STREQUAL "STATIC_LIBRARY")
            target_link_options(${target} INTERFACE ${sanitize_flags})
        else()
            target_link_options(${target} ${scope} ${sanitize_flags})
        endif()
    endif()

    if(LYRAVOX_TSAN)
        set(tsan_flags -fsanitize=thread -fno-omit-frame-pointer)
        target_compile_options(${target} ${scope} ${tsan_flags})
        if(target_type STREQUAL "STATIC_LIBRARY")
            target_link_options(${target} INTERFACE ${tsan_flags})
        else()
            target_link_options(${target} ${scope} ${tsan_flags})
        endif()
    endif()
endfunction()

# Programs that the build itself runs (the clip generator): strict warnings, always optimised and
# never instrumented, so a sanitizer build does not spend minutes rendering the same clips.
function(lyravox_build_tool_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -O2)
endfunction()
