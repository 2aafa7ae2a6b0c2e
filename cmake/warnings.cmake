# Warnings on and fatal, for every target of the project.
function(dbg32_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
endfunction()

# Static run time on Windows: the programs must run on a bare system (and under Wine)
# without libstdc++, libgcc or winpthread DLLs.
function(dbg32_windows_program target)
    target_compile_definitions(${target} PRIVATE _WIN32_WINNT=0x0501 WINVER=0x0501)
    if(MINGW)
        target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
endfunction()
