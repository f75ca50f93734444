# One static library per subsystem from every .cpp/.h in its folder. Platform back-ends are
# named *_posix.cpp or *_win.cpp and picked by platform.
function(airmesh_subsystem name)
    cmake_parse_arguments(S "" "" "PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(WIN32)
        list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
    else()
        list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    endif()
    if(NOT sources)
        return() # a folder that holds no code yet
    endif()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${S_PUBLIC_LIBS} PRIVATE ${S_PRIVATE_LIBS})
endfunction()
