# Password guessing against a real airmesh-server process from one address, with the per-address
# logon limit off (as it was) and on. Linux only.
if(UNIX AND NOT APPLE)
    find_package(Threads REQUIRED)
    add_executable(bench_logonguess ${CMAKE_CURRENT_LIST_DIR}/bench_logonguess.cpp)
    target_link_libraries(bench_logonguess PRIVATE airmesh_wire Threads::Threads)
    add_dependencies(bench_logonguess airmesh-server)
endif()
