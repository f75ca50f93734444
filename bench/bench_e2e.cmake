# End-to-end latency of a position update through real processes (fs-standin, a headless client
# on the native session, airmesh-server), against a plain UDP relay; and the client's CPU, idle and with 64 pilots around it.
# Linux only (/proc, fork).
if(UNIX AND NOT APPLE)
    add_executable(bench_e2e_client ${CMAKE_CURRENT_LIST_DIR}/bench_e2e_client.cpp)
    target_link_libraries(bench_e2e_client PRIVATE airmesh_ui airmesh_relay airmesh_dplay airmesh_serverlink
                                                   airmesh_simlink airmesh_core Qt6::Widgets Qt6::Network)
    find_package(Threads REQUIRED)
    add_executable(bench_e2e ${CMAKE_CURRENT_LIST_DIR}/bench_e2e.cpp)
    target_link_libraries(bench_e2e PRIVATE airmesh_wire Threads::Threads)
    target_compile_definitions(bench_e2e PRIVATE AIRMESH_BUILD_DIR="${CMAKE_BINARY_DIR}")
    add_dependencies(bench_e2e bench_e2e_client airmesh-server fs-standin)
endif()
