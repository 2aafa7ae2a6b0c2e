# Install rules and the release package (CPack, ZIP) of the Windows programs.
#
# The same programs in two layouts:
#  - the program folder, flat: dbg32.exe and disasm.dll side by side with README.txt (the
#    user's guide), CHANGELOG.txt, LICENSE.txt and THIRD-PARTY-NOTICES.txt, plain ASCII
#    with CR LF line ends. It is the zip's content (component "package"), and what a plain
#    `cmake --install` gives on a Windows host;
#  - for Wine on a Unix host, what a plain `cmake --install` gives there (component
#    "wine"), the layout of the Debian package (scripts/make-deb): the launcher bin/dbg32,
#    the programs and the 32-bit probe in lib/dbg32/, the guide, the changelog and the
#    copyright in share/doc/dbg32/, and the manual page dbg32(1).

# A text of the zips, `content` written to `output` with CR LF line ends. Plain ASCII, so
# that every Notepad shows it right; a byte outside it (in `source`) stops the configuration.
function(dbg32_write_text output content source)
    string(REGEX MATCH "[^\t\r\n -~][^\n]*" not_ascii "${content}")
    if(not_ascii)
        message(FATAL_ERROR "${source} is to be plain ASCII; it is not at: ${not_ascii}")
    endif()
    string(REPLACE "\r\n" "\n" content "${content}")
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${output} "${content}")
endfunction()

# The zip's texts, rewritten when their sources change.
set(dbg32_texts)
foreach(pair doc/guide.txt:README.txt CHANGELOG.md:CHANGELOG.txt LICENSE:LICENSE.txt
             THIRD-PARTY-NOTICES.txt:THIRD-PARTY-NOTICES.txt)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 source)
    list(GET pair 1 text)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source})
    file(READ ${PROJECT_SOURCE_DIR}/${source} content)
    dbg32_write_text(${PROJECT_BINARY_DIR}/texts/${text} "${content}" ${source})
    list(APPEND dbg32_texts ${PROJECT_BINARY_DIR}/texts/${text})
endforeach()

# Stripping (install --strip, CPack) rewrites the programs, and GNU strip stamps a PE file
# with SOURCE_DATE_EPOCH, or else with the current time: 0 for it keeps them without a time
# stamp, as the linker made them. The installer's own value comes back afterwards.
install(CODE [[
    set(dbg32_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} 0)
]] ALL_COMPONENTS)

if(CMAKE_HOST_WIN32)
    set(dbg32_flat_only "")
else()
    set(dbg32_flat_only EXCLUDE_FROM_ALL)
endif()
# disasm.dll's import library is for no one: installed only when asked for by component.
install(TARGETS dbg32 disasm
    RUNTIME DESTINATION . COMPONENT package ${dbg32_flat_only}
    ARCHIVE DESTINATION lib COMPONENT import_library EXCLUDE_FROM_ALL)
install(FILES ${dbg32_texts} DESTINATION . COMPONENT package ${dbg32_flat_only})

# Who answers for the Debian package: its control file and its changelog name them.
set(DBG32_MAINTAINER "The dbg32 developers <dbg32@example.org>" CACHE STRING
    "The Debian package's maintainer, as \"Name <address>\"")

if(NOT CMAKE_HOST_WIN32)
    # The changelog in Debian's form, and it and the manual page compressed as Debian does,
    # without a name or a time in the gzip header.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/doc/dbg32.1)
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/debian-changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        "${DBG32_MAINTAINER}"
        OUTPUT_FILE ${PROJECT_BINARY_DIR}/texts/changelog COMMAND_ERROR_IS_FATAL ANY)
    foreach(source ${PROJECT_BINARY_DIR}/texts/changelog ${PROJECT_SOURCE_DIR}/doc/dbg32.1)
        get_filename_component(name ${source} NAME)
        execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${PROJECT_BINARY_DIR}/texts/${name}.gz
            COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    # Wine reads the programs; they need not be executable.
    install(TARGETS dbg32 disasm
        RUNTIME DESTINATION lib/dbg32 COMPONENT wine
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        ARCHIVE DESTINATION lib COMPONENT import_library EXCLUDE_FROM_ALL)
    install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/check-32bit DESTINATION lib/dbg32 COMPONENT wine)
    install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/launcher.sh DESTINATION bin RENAME dbg32
        COMPONENT wine)
    install(FILES ${PROJECT_SOURCE_DIR}/doc/guide.txt DESTINATION share/doc/dbg32 RENAME README
        COMPONENT wine)
    install(FILES ${PROJECT_BINARY_DIR}/texts/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION share/doc/dbg32 COMPONENT wine)
    install(FILES ${PROJECT_BINARY_DIR}/texts/dbg32.1.gz DESTINATION share/man/man1 COMPONENT wine)
endif()

install(CODE [[
    if(dbg32_saved_epoch STREQUAL "")
        unset(ENV{SOURCE_DATE_EPOCH})
    else()
        set(ENV{SOURCE_DATE_EPOCH} "${dbg32_saved_epoch}")
    endif()
]] ALL_COMPONENTS)

# The zip: dbg32-VERSION-win32.zip holding the folder dbg32-VERSION-win32/, the programs
# stripped. The script run after it fixes the times inside.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME dbg32)
set(CPACK_PACKAGE_VENDOR "The dbg32 developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME dbg32-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};dbg32;package;/")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/after_package.cmake)
set(CPACK_DBG32_SOURCE_DIR ${PROJECT_SOURCE_DIR})
include(CPack)
