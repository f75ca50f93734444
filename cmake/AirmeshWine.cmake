# The Windows build's programs and tests run under Wine's 64-bit loader: build/windows/wine-run
# puts the Qt DLLs and the MinGW runtime on the search path and is CTest's emulator.
get_filename_component(airmesh_qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
set(AIRMESH_QT_PREFIX ${airmesh_qt_prefix} CACHE INTERNAL "the Windows Qt's prefix")
# The MinGW runtime beside the compiler (libstdc++, libgcc_s_seh) and the threads library.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE airmesh_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
                OUTPUT_VARIABLE airmesh_winpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(airmesh_gcc_dir "${airmesh_libstdcxx}" DIRECTORY)
get_filename_component(airmesh_pthread_dir "${airmesh_winpthread}" DIRECTORY)
get_filename_component(airmesh_pthread_dir "${airmesh_pthread_dir}" REALPATH)
set(AIRMESH_MINGW_RUNTIME_DIRS ${airmesh_gcc_dir} ${airmesh_pthread_dir} CACHE INTERNAL "the MinGW runtime DLLs' folders")

function(airmesh_wine_path out)
    set(paths)
    foreach(p ${ARGN})
        string(REPLACE "/" "\\\\" p "${p}")
        list(APPEND paths "Z:${p}")
    endforeach()
    string(JOIN ";" joined ${paths})
    set(${out} "${joined}" PARENT_SCOPE)
endfunction()
airmesh_wine_path(AIRMESH_WINE_DLL_PATH ${airmesh_qt_prefix}/bin ${AIRMESH_MINGW_RUNTIME_DIRS})
airmesh_wine_path(AIRMESH_WINE_PLUGIN_PATH ${airmesh_qt_prefix}/plugins)
configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
