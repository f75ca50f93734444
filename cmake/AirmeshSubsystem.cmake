# One static library per subsystem from the sources it names. Platform back-ends are listed
# apart (POSIX_SOURCES, WIN_SOURCES) and picked by platform.
function(airmesh_subsystem name)
    cmake_parse_arguments(S "" "" "SOURCES;POSIX_SOURCES;WIN_SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    set(sources ${S_SOURCES})
    if(WIN32)
        list(APPEND sources ${S_WIN_SOURCES})
    else()
        list(APPEND sources ${S_POSIX_SOURCES})
    endif()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${S_PUBLIC_LIBS} PRIVATE ${S_PRIVATE_LIBS})
endfunction()
