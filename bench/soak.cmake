# soak: the headless server under a crowd of well-behaved and hostile users
# for minutes (bench/soak --help). The server runs as a child process, so
# its memory and totals are its own.
find_package(Threads REQUIRED)
add_executable(soak soak.cpp SoakCrowd.cpp SoakServer.cpp SoakSignOn.cpp SoakUser.cpp)
# test_support: the port lock that keeps the tests off 2050/2051 meanwhile.
target_link_libraries(soak PRIVATE protocol test_support Threads::Threads)
target_compile_definitions(soak PRIVATE ZEPHRAN_SERVER_PATH="$<TARGET_FILE:zephran-server>")
add_dependencies(soak zephran-server)
