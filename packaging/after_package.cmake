# Run by CPack once the zip is made, before it is copied to the package folder: gives every
# entry of the zip the time of the last commit (or SOURCE_DATE_EPOCH when set) and fixed
# attributes, with Debian's strip-nondeterminism. SHA256SUMS is written by scripts/dist, once
# the package has been built a second time and found the same.

find_program(strip_nondeterminism strip-nondeterminism)
if(NOT strip_nondeterminism)
    message(FATAL_ERROR "strip-nondeterminism is missing: run scripts/bootstrap")
endif()

set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
    execute_process(COMMAND git -C "${CPACK_DBG32_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "no time for the zip's entries: set SOURCE_DATE_EPOCH "
                        "(outside a git checkout)")
endif()

foreach(zip ${CPACK_PACKAGE_FILES})
    # Zip entry times are local times: the same in every time zone only when fixed here.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
        ${strip_nondeterminism} --type zip --timestamp ${epoch} ${zip}
        RESULT_VARIABLE failed OUTPUT_QUIET)
    if(failed)
        message(FATAL_ERROR "strip-nondeterminism failed on ${zip}")
    endif()
endforeach()
