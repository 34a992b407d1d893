# The release step: each build tree's archive, made by cpack, and beside them
# Kivo-<version>-SHA256SUMS.txt, which `sha256sum -c` reads. Run as:
#   cmake -DOUT=<folder> -DVERSION=<version> -DCONFIG=<config> -DTREES=<tree>|<tree>... -P release.cmake
string(REPLACE "|" ";" TREES "${TREES}")
file(REMOVE_RECURSE ${OUT})
foreach(tree IN LISTS TREES)
    execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${tree}/CPackConfig.cmake -C "${CONFIG}" -B ${OUT}
        RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
    if(failed)
        message(FATAL_ERROR "cpack failed for ${tree}:\n${log}")
    endif()
endforeach()
file(REMOVE_RECURSE ${OUT}/_CPack_Packages)

file(GLOB archives RELATIVE ${OUT} ${OUT}/Kivo-${VERSION}-*.zip)
list(SORT archives)
set(sums "")
foreach(archive IN LISTS archives)
    file(SHA256 ${OUT}/${archive} hash)
    string(APPEND sums "${hash}  ${archive}\n")
endforeach()
set(sums_file ${OUT}/Kivo-${VERSION}-SHA256SUMS.txt)
file(WRITE ${sums_file} "${sums}")
message("${OUT}:\n${sums}")
