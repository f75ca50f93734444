# The Windows packaging steps, run by the targets of AirmeshWindows.cmake as
# cmake -DSTEP=dist|installer -DSETTINGS=<file> -P AirmeshWindowsDeploy.cmake, where SETTINGS
# (written by AirmeshWindows.cmake) sets the variables named below.
#
# STEP=dist: makes DIST (the program folder as it ships, made afresh) from PROGRAMS, the Qt
# plugins PLUGINS (paths below QT_PREFIX/plugins), every DLL those load that is found in
# QT_PREFIX/bin or RUNTIME_DIRS, and DATA; strips the copies with STRIP; writes UNINSTALL_LIST
# (the NSIS lines that remove exactly those files) and ZIP (the folder, as the portable copy).
#
# STEP=installer: runs MAKENSIS on NSI with warnings as errors, making OUTFILE from DIST (with
# VERSION, VERSION4 = VERSION as four numbers, ICON, UNINSTALL_LIST); its output is kept in LOG.
cmake_minimum_required(VERSION 3.25)
include("${SETTINGS}")

if(STEP STREQUAL "dist")
    file(REMOVE_RECURSE "${DIST}")
    file(MAKE_DIRECTORY "${DIST}")
    set(plugin_files)
    foreach(plugin ${PLUGINS})
        get_filename_component(kind "${plugin}" DIRECTORY)
        file(COPY "${QT_PREFIX}/plugins/${plugin}" DESTINATION "${DIST}/${kind}")
        list(APPEND plugin_files "${QT_PREFIX}/plugins/${plugin}")
    endforeach()
    file(COPY ${PROGRAMS} ${DATA} DESTINATION "${DIST}")

    # The DLLs they import, followed through the Qt and MinGW folders (objdump -p names each
    # import as "DLL Name: X"); what is in neither is Windows' own (KERNEL32, USER32, WS2_32, ...).
    # Windows matches the names without regard to case, so the search does too.
    set(search "${QT_PREFIX}/bin" ${RUNTIME_DIRS})
    set(available)
    foreach(dir ${search})
        file(GLOB dir_dlls LIST_DIRECTORIES false "${dir}/*.dll")
        list(APPEND available ${dir_dlls})
    endforeach()
    set(queue ${PROGRAMS} ${plugin_files})
    set(seen)
    set(dlls)
    while(queue)
        list(POP_FRONT queue binary)
        execute_process(COMMAND "${OBJDUMP}" -p "${binary}" OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
        string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
        foreach(import ${imports})
            string(REPLACE "DLL Name: " "" name "${import}")
            string(TOLOWER "${name}" key)
            if(key IN_LIST seen)
                continue()
            endif()
            list(APPEND seen "${key}")
            set(found "")
            foreach(candidate ${available})
                get_filename_component(candidate_name "${candidate}" NAME)
                string(TOLOWER "${candidate_name}" candidate_key)
                if(candidate_key STREQUAL key)
                    set(found "${candidate}")
                    break()
                endif()
            endforeach()
            if(found)
                list(APPEND dlls "${found}")
                list(APPEND queue "${found}")
            elseif(key MATCHES "^(qt|lib)")
                # A Qt or MinGW library that was not found would make a folder that cannot start.
                message(FATAL_ERROR "${name}, which ${binary} loads, is in none of ${search}")
            endif()
        endforeach()
    endwhile()
    file(COPY ${dlls} DESTINATION "${DIST}" FOLLOW_SYMLINK_CHAIN)

    file(GLOB_RECURSE binaries LIST_DIRECTORIES false "${DIST}/*.exe" "${DIST}/*.dll")
    foreach(binary ${binaries})
        execute_process(COMMAND "${STRIP}" --strip-unneeded "${binary}" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()

    # Files first, then their folders, deepest first.
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${DIST}" "${DIST}/*")
    file(GLOB_RECURSE dirs LIST_DIRECTORIES true RELATIVE "${DIST}" "${DIST}/*")
    list(REMOVE_ITEM dirs ${files})
    list(SORT files)
    list(SORT dirs ORDER DESCENDING)
    set(lines)
    foreach(f ${files})
        string(REPLACE "/" "\\" f "${f}")
        string(APPEND lines "Delete \"$INSTDIR\\${f}\"\n")
    endforeach()
    foreach(d ${dirs})
        string(REPLACE "/" "\\" d "${d}")
        string(APPEND lines "RMDir \"$INSTDIR\\${d}\"\n")
    endforeach()
    file(WRITE "${UNINSTALL_LIST}" "${lines}")

    get_filename_component(parent "${DIST}" DIRECTORY)
    get_filename_component(name "${DIST}" NAME)
    file(REMOVE "${ZIP}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip "${name}"
                    WORKING_DIRECTORY "${parent}" COMMAND_ERROR_IS_FATAL ANY)
    list(LENGTH files count)
    message(STATUS "${DIST}: ${count} files; ${ZIP}")
elseif(STEP STREQUAL "installer")
    execute_process(COMMAND "${MAKENSIS}" -WX -DVERSION=${VERSION} -DVERSION4=${VERSION4} "-DDIST=${DIST}"
                            "-DICON=${ICON}" "-DUNINSTALL_LIST=${UNINSTALL_LIST}" "-DOUTFILE=${OUTFILE}" "${NSI}"
                    OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE status)
    file(WRITE "${LOG}" "${out}")
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${out}\nmakensis failed (warnings count as errors); its output is in ${LOG}")
    endif()
    message(STATUS "${OUTFILE}")
else()
    message(FATAL_ERROR "STEP must be dist or installer")
endif()
