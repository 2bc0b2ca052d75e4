# soak: the headless server under a crowd of well-behaved and hostile users
# for minutes (bench/soak --help). The server runs as a child process, so
# its memory and totals are its own.
find_package(Threads REQUIRED)
add_executable(soak soak.cpp SoakCrowd.cpp SoakFlood.cpp SoakServer.cpp SoakUser.cpp)
# test_support: the port lock that keeps the tests off 2050/2051 meanwhile,
# the users' sockets and sign-on, and zephran-server as a child process.
target_link_libraries(soak PRIVATE protocol test_support Threads::Threads)
add_dependencies(soak zephran-server)
