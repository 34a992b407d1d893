# Checks that Kivo.exe is one small file that loads on the oldest Windows of its
# architecture: PE32 for i386 and Windows 4.0, or PE32+ for x86-64 and Windows 5.2;
# console subsystem; no link time stamp; the application manifest; at most 20 KiB; no
# imports but KERNEL32 and msvcrt, and for x86 only those of msvcrt that NT 4.0 has.
# Run as: cmake -DOBJDUMP=<objdump> -DEXE=<Kivo.exe> -DARCH=x86|x64 -P check_pe.cmake
cmake_policy(VERSION 3.20)
if(NOT OBJDUMP)
    message(FATAL_ERROR "no objdump for PE files: mingw-w64's binutils bring one")
endif()
# objdump shows the link time stamp in local time: read it in UTC.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${OBJDUMP} could not read ${EXE}")
endif()

if(ARCH STREQUAL "x64")
    set(format "pei-x86-64")
    set(magic "020b")
    set(major 5)
    set(minor 2)
else()
    set(format "pei-i386")
    set(magic "010b")
    set(major 4)
    set(minor 0)
endif()
set(wanted
    "file format ${format}"
    "Magic[ \t]+${magic}"
    "Time/Date[ \t]+[A-Za-z]+ [A-Za-z]+ +1 00:00:00 1970\n"
    "MajorOSystemVersion[ \t]+${major}\n"
    "MinorOSystemVersion[ \t]+${minor}\n"
    "MajorSubsystemVersion[ \t]+${major}\n"
    "MinorSubsystemVersion[ \t]+${minor}\n"
    "Subsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
set(problems "")
foreach(pattern IN LISTS wanted)
    if(NOT dump MATCHES "${pattern}")
        string(APPEND problems "\n  missing: ${pattern}")
    endif()
endforeach()

# The application manifest: resource 1 of type 24, asking for running as the caller and
# for no ANSI code page of its own: the characters must reach the child through the wide
# API alone.
if(NOT dump MATCHES "Entry: ID: 0x000018[^\n]*\n[^\n]*\n[^\n]*Entry: ID: 0x000001,")
    string(APPEND problems "\n  no application manifest (resource 1 of type 24)")
endif()
file(STRINGS ${EXE} manifest REGEX "<(activeCodePage|requestedExecutionLevel|supportedOS|application) ")
if(NOT manifest MATCHES "<requestedExecutionLevel level=\"asInvoker\"")
    string(APPEND problems "\n  the manifest lacks <requestedExecutionLevel level=\"asInvoker\">")
endif()
if(manifest MATCHES "activeCodePage")
    string(APPEND problems "\n  the manifest sets an ANSI code page")
endif()
if(NOT manifest MATCHES "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>")
    string(APPEND problems "\n  the manifest does not name Windows 10 and 11 among its supported systems")
endif()
# No console window of Kivo's on Windows 11 24H2 and later, declared where Windows XP and
# Server 2003 ignore it: <application> in the asm.v3 namespace.
if(NOT manifest MATCHES "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings><consoleAllocationPolicy xmlns=\"http://schemas.microsoft.com/SMI/2024/WindowsSettings\">detached</consoleAllocationPolicy>")
    string(APPEND problems "\n  the manifest does not declare the detached console allocation policy in the asm.v3 namespace")
endif()

file(SIZE ${EXE} size)
if(size GREATER 20480)
    string(APPEND problems "\n  ${size} bytes, more than 20 KiB")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(SORT imports CASE INSENSITIVE)
if(NOT imports STREQUAL "KERNEL32.dll;msvcrt.dll")
    string(APPEND problems "\n  imports: ${imports} (only KERNEL32.dll and msvcrt.dll are allowed)")
endif()

# The x86 build loads on Windows NT 4.0: each of its imports from msvcrt.dll must be one
# that NT 4.0's msvcrt.dll (version 4.20) exports. mingw-w64 lists that set in
# mingw-w64-crt/lib-common/msvcrt.def.in as "the original Microsoft Visual C++ 4.2 version
# of msvcrt.dll", the same as NT 4.0's; MinGW.org's msvcrt cross-reference lists the exports
# of NT 4.0 SP6a's msvcrt.dll 4.20.0.6201. A new import joins this list once it is found in
# both.
if(ARCH STREQUAL "x86")
    set(nt4_msvcrt __p__commode __p__fmode __p__wcmdln __set_app_type __setusermatherr __wgetmainargs __winitenv
        _amsg_exit _cexit _initterm _iob _onexit _wcsicmp abort calloc exit fprintf fputs free fwrite malloc memcmp
        memcpy signal strlen strncmp vfprintf wcslen)
    string(REGEX MATCH "DLL Name: msvcrt.dll\n[^\n]*\n(([^\n]+\n)*)" crt "${dump}")
    string(REGEX MATCHALL "[^ \t\n]+\n" crt_imports "${CMAKE_MATCH_1}")
    list(TRANSFORM crt_imports STRIP)
    if(NOT crt_imports)
        string(APPEND problems "\n  no imports from msvcrt.dll found in the dump")
    endif()
    list(LENGTH crt_imports count)
    message("${count} imports from msvcrt.dll: ${crt_imports}")
    foreach(name IN LISTS crt_imports)
        if(NOT name IN_LIST nt4_msvcrt)
            string(APPEND problems "\n  imports ${name} from msvcrt.dll, which is not known to be in Windows NT 4.0's")
        endif()
    endforeach()
endif()

if(problems)
    message(FATAL_ERROR "${EXE}:${problems}")
endif()
message("${EXE}: ${format} console program for Windows ${major}.${minor} with its manifest, ${size} bytes, "
    "imports ${imports}")
