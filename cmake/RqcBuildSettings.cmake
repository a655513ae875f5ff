# What every build of the project's sources shares, the main build and the fuzz build alike:
# one asio configuration, the compiler cache, and the packages the libraries below the screens
# find.

# One asio configuration for every translation unit: standalone, and its recycling allocator
# on plain operator new/delete (its aligned-alloc detection depends on include order, which
# would pair allocations and frees of different kinds across files).
add_compile_definitions(ASIO_STANDALONE ASIO_NO_DEPRECATED ASIO_DISABLE_STD_ALIGNED_ALLOC)

# Rebuilds of the same sources (several build folders, sanitizer builds) come from the cache.
find_program(RQC_CCACHE ccache)
if(RQC_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${RQC_CCACHE})
endif()

find_package(Threads REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(PostgreSQL REQUIRED)
find_package(spdlog REQUIRED)
find_package(CLI11 REQUIRED)
find_package(OpenSSL REQUIRED)
