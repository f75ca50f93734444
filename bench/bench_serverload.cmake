# Load on a real airmesh-server process: N pilots sending positions at 10 Hz over loopback,
# measuring relay latency at every other pilot and the server's CPU time. Linux only (/proc).
if(UNIX AND NOT APPLE)
    find_package(Threads REQUIRED)
    add_executable(bench_serverload ${CMAKE_CURRENT_LIST_DIR}/bench_serverload.cpp)
    target_link_libraries(bench_serverload PRIVATE airmesh_wire Threads::Threads)
    add_dependencies(bench_serverload airmesh-server)
endif()
