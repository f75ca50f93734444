# One static library per subsystem from the sources it names. Platform back-ends are listed
# apart (POSIX_SOURCES, WIN_SOURCES) and picked by platform, as are the system libraries only one
# platform's back-ends need (POSIX_LIBS, WIN_LIBS; linked privately).
function(airmesh_subsystem name)
    cmake_parse_arguments(S "" "" "SOURCES;POSIX_SOURCES;WIN_SOURCES;PUBLIC_LIBS;PRIVATE_LIBS;POSIX_LIBS;WIN_LIBS"
                          ${ARGN})
    set(sources ${S_SOURCES})
    set(platform_libs)
    if(WIN32)
        list(APPEND sources ${S_WIN_SOURCES})
        set(platform_libs ${S_WIN_LIBS})
    else()
        list(APPEND sources ${S_POSIX_SOURCES})
        set(platform_libs ${S_POSIX_LIBS})
    endif()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${S_PUBLIC_LIBS} PRIVATE ${S_PRIVATE_LIBS} ${platform_libs})
endfunction()
