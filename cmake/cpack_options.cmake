# Read by cpack when it makes an archive: fixed file times in it, so that the same
# sources always give the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ENV{SOURCE_DATE_EPOCH} "${CPACK_KIVO_SOURCE_DATE_EPOCH}")
endif()
