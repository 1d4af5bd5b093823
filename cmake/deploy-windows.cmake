# Makes the installed Windows programs' folder run on a Windows that has never seen Qt or MinGW:
# every DLL the programs import, and the ones those import in turn, is copied beside them, with
# Qt's platform and style plugins in the sub-folders Qt looks for them in. Qt 6.4 builds no
# windeployqt for a MinGW cross build, so the imports are read with objdump instead. Whatever is
# not found among Qt's and MinGW's DLLs is taken for part of Windows (KERNEL32, WS2_32, the
# api-ms-win-* sets) and left alone.
#
# Run at install time (top CMakeLists.txt, install(CODE)), with
#   deploy_programs   the installed programs, relative to the prefix
#   deploy_plugins    plugin DLLs as SUBFOLDER=PATH (platforms=.../qwindows.dll)
#   deploy_qt_bin     the cross Qt's bin folder, where its DLLs are
#   deploy_compiler   the MinGW C++ compiler, which knows where its runtime DLLs are
#   deploy_objdump, deploy_strip
# DESTDIR is honoured, and every file goes into the install manifest (CPack's ZIP takes it too).

cmake_minimum_required(VERSION 3.25)

set(deploy_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# The C++ runtime of the posix thread model is asked from the compiler itself: there is a win32
# model's libstdc++ of the same name beside it, which would start and then fail on std::thread.
set(deploy_search_dirs "${deploy_qt_bin}")
foreach(runtime IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND "${deploy_compiler}" -print-file-name=${runtime}
        OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
        message(FATAL_ERROR "deploy-windows: ${deploy_compiler} knows no ${runtime}")
    endif()
    file(REAL_PATH "${found}" found)
    get_filename_component(dir "${found}" DIRECTORY)
    list(APPEND deploy_search_dirs "${dir}")
endforeach()
list(REMOVE_DUPLICATES deploy_search_dirs)

# Windows matches DLL names without regard to case; the import tables and the files do not
# always agree (KERNEL32.dll, Qt6Core.dll).
foreach(dir IN LISTS deploy_search_dirs)
    file(GLOB dlls "${dir}/*.dll")
    foreach(dll IN LISTS dlls)
        get_filename_component(name "${dll}" NAME)
        string(TOLOWER "${name}" key)
        if(NOT DEFINED "deploy_dll_${key}")
            set("deploy_dll_${key}" "${dll}")
        endif()
    endforeach()
endforeach()

# The DLLs FILE imports that are ours to ship, appended to the list VAR if not in it yet, and
# the same for each of theirs.
function(deploy_follow_imports file var)
    execute_process(COMMAND "${deploy_objdump}" -p "${file}"
        OUTPUT_VARIABLE headers RESULT_VARIABLE status ERROR_VARIABLE error)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "deploy-windows: objdump -p ${file}: ${error}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
    set(shipped ${${var}})
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "^DLL Name: " "" name "${import}")
        string(STRIP "${name}" name)
        string(TOLOWER "${name}" key)
        if(NOT DEFINED "deploy_dll_${key}")
            continue()
        endif()
        set(dll "${deploy_dll_${key}}")
        if(NOT dll IN_LIST shipped)
            list(APPEND shipped "${dll}")
            deploy_follow_imports("${dll}" shipped)
        endif()
    endforeach()
    set(${var} ${shipped} PARENT_SCOPE)
endfunction()

# Strips in the install folder only: the cache's Qt and the compiler's DLLs are never touched.
function(deploy_strip file)
    execute_process(COMMAND "${deploy_strip}" --strip-unneeded "${file}"
        RESULT_VARIABLE status ERROR_VARIABLE error)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "deploy-windows: strip ${file}: ${error}")
    endif()
endfunction()

# Copies FILE into the folder SUBFOLDER of the prefix, and strips the copy.
function(deploy_install file subfolder)
    cmake_path(APPEND CMAKE_INSTALL_PREFIX "${subfolder}" OUTPUT_VARIABLE destination)
    cmake_path(NORMAL_PATH destination)
    string(REGEX REPLACE "(.)/$" "\\1" destination "${destination}")  # "prefix/." gives "prefix/"
    file(INSTALL DESTINATION "${destination}" TYPE SHARED_LIBRARY FILES "${file}")
    cmake_path(GET file FILENAME name)
    deploy_strip("$ENV{DESTDIR}${destination}/${name}")
endfunction()

set(dlls)
foreach(program IN LISTS deploy_programs)
    set(path "${deploy_root}/${program}")
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "deploy-windows: ${path} is not installed")
    endif()
    deploy_follow_imports("${path}" dlls)
    deploy_strip("${path}")
endforeach()

foreach(plugin IN LISTS deploy_plugins)
    string(REGEX MATCH "^([^=]+)=(.+)$" ok "${plugin}")
    set(subfolder "${CMAKE_MATCH_1}")
    set(path "${CMAKE_MATCH_2}")
    deploy_follow_imports("${path}" dlls)
    deploy_install("${path}" "${subfolder}")
endforeach()

# Windows looks for a program's DLLs in the program's own folder first.
list(GET deploy_programs 0 first)
cmake_path(GET first PARENT_PATH bin)
foreach(dll IN LISTS dlls)
    deploy_install("${dll}" "${bin}")
endforeach()
