# Read by cpack when it makes an archive: fixed file times in it, so that the same
# sources always give the same bytes. They are the time of the commit built
# (SOURCE_DATE_EPOCH overrides it), or the earliest time a ZIP file can hold.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY "${CPACK_KIVO_SOURCE_DIR}"
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed OR NOT epoch)
        set(epoch 315532800)
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
