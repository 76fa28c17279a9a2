# Native POSIX build: the Windows calls come from our stand-in in posix/,
# Boost from the system packages.

# Executables built the way they ship link everything statically, the C library
# included: with no dynamic loader to run and no shared objects to map, the
# launcher starts about as fast as any program can and its waiting process holds
# only its own pages. Sanitizer builds stay dynamic: their runtimes need it.
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    set(launcherStaticDefault OFF)
else()
    set(launcherStaticDefault ON)
endif()
option(LAUNCHER_STATIC "Link shipped executables statically (C library included)"
    ${launcherStaticDefault})
set(Boost_USE_STATIC_LIBS ${LAUNCHER_STATIC})

find_package(Boost 1.81 REQUIRED COMPONENTS filesystem)

add_library(winapi_posix STATIC
    posix/files.cpp
    posix/process.cpp
    posix/security.cpp
    posix/windows.cpp
)
target_include_directories(winapi_posix PUBLIC posix)
target_link_libraries(winapi_posix PRIVATE launcher_readers)

target_link_libraries(launcher_core PUBLIC winapi_posix Boost::headers Boost::filesystem)

# Links an executable as it ships: statically, with the unused sections of the
# C and C++ runtimes dropped, since the pages of code that a start touches (and
# the kernel maps around them) are what the waiting launcher keeps resident. Not
# a static PIE: that one relocates itself at each start and, measured, holds
# about 100 kB more while waiting; the stack, heap and mappings are still
# placed at random.
function(launcher_static_runtime target)
    if(LAUNCHER_STATIC)
        target_link_options(${target} PRIVATE -static -Wl,--gc-sections)
    endif()
endfunction()
