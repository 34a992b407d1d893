# Checks that Kivo.exe is one file that loads on Windows 4.0 and later: PE32 for i386,
# console subsystem, version 4.0 in the header, and no imports but KERNEL32 and msvcrt.
# Run as: cmake -DOBJDUMP=<objdump> -DEXE=<Kivo.exe> -P check_pe.cmake
if(NOT OBJDUMP)
    message("SKIPPED: no objdump for PE files on this machine")
    return()
endif()
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${OBJDUMP} could not read ${EXE}")
endif()

set(wanted
    "file format pei-i386"
    "Magic[ \t]+010b"
    "MajorOSystemVersion[ \t]+4\n"
    "MinorOSystemVersion[ \t]+0\n"
    "MajorSubsystemVersion[ \t]+4\n"
    "MinorSubsystemVersion[ \t]+0\n"
    "Subsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
set(problems "")
foreach(pattern IN LISTS wanted)
    if(NOT dump MATCHES "${pattern}")
        string(APPEND problems "\n  missing: ${pattern}")
    endif()
endforeach()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(SORT imports CASE INSENSITIVE)
if(NOT imports STREQUAL "KERNEL32.dll;msvcrt.dll")
    string(APPEND problems "\n  imports: ${imports} (only KERNEL32.dll and msvcrt.dll are allowed)")
endif()

if(problems)
    message(FATAL_ERROR "${EXE}:${problems}")
endif()
message("${EXE}: PE32 i386 console program for Windows 4.0, imports ${imports}")
