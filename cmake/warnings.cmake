# Warnings on and fatal, for every target of the project.
function(dbg32_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
endfunction()

# Static run time on Windows: the programs must run on a bare system (and under Wine)
# without libstdc++, libgcc or winpthread DLLs. The link map, maps/TARGET.map in the build
# folder, shows which archives went into the program: scripts/check-notices reads it.
function(dbg32_windows_program target)
    target_compile_definitions(${target} PRIVATE _WIN32_WINNT=0x0501 WINVER=0x0501)
    if(MINGW)
        file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/maps)
        target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
            -Wl,-Map=${CMAKE_BINARY_DIR}/maps/${target}.map)
    endif()
endfunction()

# A small Windows console program of the tests or benchmarks, built from NAME.c into
# `directory`, with its symbol list beside it (NAME.sym, from nm) so that the scripts
# driving it know where its functions and variables are.
find_program(DBG32_NM NAMES i686-w64-mingw32-nm nm)
function(dbg32_windows_helper_program name directory)
    add_executable(${name} ${name}.c)
    dbg32_warnings(${name})
    dbg32_windows_program(${name})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${directory})
    if(DBG32_NM)
        add_custom_command(TARGET ${name} POST_BUILD
            COMMAND ${DBG32_NM} $<TARGET_FILE:${name}> > ${directory}/${name}.sym
            VERBATIM)
    endif()
endfunction()
