# The Windows version resource of a program or DLL: product dbg32, the project's version,
# the copyright, and `description`. It is compiled in an object library of its own so that
# the targets' compiler options (warnings) never reach the resource compiler.
function(dbg32_version_resource target description)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(DBG32_FILE_TYPE VFT_APP)
        set(DBG32_FILE_NAME ${target}.exe)
    else()
        set(DBG32_FILE_TYPE VFT_DLL)
        set(DBG32_FILE_NAME ${target}.dll)
    endif()
    set(DBG32_INTERNAL_NAME ${target})
    set(DBG32_FILE_DESCRIPTION "${description}")
    set(resource ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/version.rc.in ${resource} @ONLY)
    add_library(${target}_version OBJECT ${resource})
    target_link_libraries(${target} PRIVATE ${target}_version)
endfunction()
