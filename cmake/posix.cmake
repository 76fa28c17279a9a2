# Native POSIX build: the Windows calls come from our stand-in in posix/,
# Boost from the system packages.
find_package(Boost 1.81 REQUIRED COMPONENTS filesystem)

add_library(winapi_posix STATIC
    posix/command_line.cpp
    posix/process.cpp
    posix/windows.cpp
)
target_include_directories(winapi_posix PUBLIC posix)

target_link_libraries(launcher_core PUBLIC winapi_posix Boost::headers Boost::filesystem)
