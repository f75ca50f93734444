# The native DirectPlay session: sends from 50 local players against a bare UDP loop, and join time.
add_executable(bench_dplay ${CMAKE_CURRENT_LIST_DIR}/bench_dplay.cpp)
target_link_libraries(bench_dplay PRIVATE airmesh_dphost airmesh_dplay Qt6::Core)
