# Builds this build's archive with cpack and checks that it holds exactly Kivo.exe, the
# README and the licence at its top, and the project's pages in docs/, and that every page
# that the README and those pages link is in it: the README a user unzips links nothing
# missing. Run as:
#   cmake -DBUILD=<build dir> -DCONFIG=<config> -DNAME=<archive name> -DSOURCE=<source dir> -P check_package.cmake
cmake_policy(VERSION 3.20)
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
list(FILTER entries EXCLUDE REGEX "/$") # the folders themselves
list(SORT entries)

file(GLOB pages RELATIVE ${SOURCE} ${SOURCE}/docs/*.md)
set(expected Kivo.exe LICENSE README.md ${pages})
list(SORT expected)
if(NOT entries STREQUAL expected)
    message(FATAL_ERROR "${archive} holds: ${entries}; expected: ${expected}")
endif()

# Each page's links to other pages, relative to its own folder.
set(problems "")
foreach(page README.md ${pages})
    file(READ ${SOURCE}/${page} text)
    get_filename_component(folder ${page} DIRECTORY)
    # A list's elements must hold no bracket: the link's own parentheses, then its target.
    string(REGEX MATCHALL "\\([^]()#: ]+\\.md\\)" links "${text}")
    foreach(link IN LISTS links)
        string(REGEX REPLACE "^\\((.*)\\)$" "\\1" link "${link}")
        if(folder)
            set(link ${folder}/${link})
        endif()
        if(NOT link IN_LIST entries)
            string(APPEND problems "\n  ${page} links ${link}, which the archive lacks")
        endif()
    endforeach()
endforeach()
if(problems)
    message(FATAL_ERROR "${archive}:${problems}")
endif()
message("${archive}: ${entries}; every page's links found in it")
