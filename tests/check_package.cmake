# Builds this build's archive with cpack and checks that it holds exactly Kivo.exe, the
# README and the licence, at its top. Run as:
#   cmake -DBUILD=<build dir> -DCONFIG=<config> -DNAME=<archive name> -P check_package.cmake
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD}/CPackConfig.cmake -C "${CONFIG}" -B ${BUILD}/package
    RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(failed)
    message(FATAL_ERROR "cpack failed:\n${log}")
endif()
set(archive ${BUILD}/package/${NAME}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${archive} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cannot read ${archive}")
endif()
string(STRIP "${listing}" listing)
string(REPLACE "\n" ";" entries "${listing}")
list(SORT entries)
if(NOT entries STREQUAL "Kivo.exe;LICENSE;README.md")
    message(FATAL_ERROR "${archive} holds: ${entries}; expected Kivo.exe, LICENSE and README.md")
endif()
message("${archive}: ${entries}")
