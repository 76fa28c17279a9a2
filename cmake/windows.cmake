# Windows build (MinGW-w64 cross compiler): the real Windows API, Boost's
# headers from the Debian package and Boost.Filesystem compiled from source.
set(LAUNCHER_PYTHON /usr/bin/python3 CACHE FILEPATH "Python that draws the icon")

# The cross compiler must never see /usr/include itself (glibc's headers break
# the build), so it gets a folder that holds only a link to Boost's headers.
set(BOOST_HEADERS_DIR /usr/include/boost CACHE PATH "Boost headers to use (a boost/ folder)")
set(LAUNCHER_BOOST_INCLUDE ${CMAKE_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${LAUNCHER_BOOST_INCLUDE})
file(CREATE_LINK ${BOOST_HEADERS_DIR} ${LAUNCHER_BOOST_INCLUDE}/boost SYMBOLIC)

set(BOOST_FILESYSTEM_SOURCE_DIR ${PROJECT_SOURCE_DIR}/build/third_party/boost-filesystem/src
    CACHE PATH "libs/filesystem/src of the Boost version whose headers are used")
# Fetched by the set-up step; configuring only looks for them.
if(NOT EXISTS ${BOOST_FILESYSTEM_SOURCE_DIR}/operations.cpp)
    message(FATAL_ERROR "Boost.Filesystem sources missing in ${BOOST_FILESYSTEM_SOURCE_DIR}: "
        "run scripts/install-deps.sh test, which fetches them")
endif()

# Flags shared by everything that goes into the exe: small, and no build path
# inside it, so two builds in different folders give the same bytes.
set(LAUNCHER_WINDOWS_COMPILE_OPTIONS
    -ffunction-sections -fdata-sections
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
# Link-time optimisation for the shipped 32-bit exe. The x86-64 compiler
# (GCC 12) fails on the launcher with it (an internal compiler error in
# binds_to_current_def_p), so the 64-bit twin, which only runs the tests, is
# built without.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(LAUNCHER_LTO ON)
else()
    set(LAUNCHER_LTO OFF)
endif()
set(LAUNCHER_WINDOWS_DEFINITIONS _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

add_library(boost_filesystem_mingw STATIC
    ${BOOST_FILESYSTEM_SOURCE_DIR}/codecvt_error_category.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/directory.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/exception.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/operations.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/path.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/path_traits.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/portability.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/unique_path.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/utf8_codecvt_facet.cpp
    ${BOOST_FILESYSTEM_SOURCE_DIR}/windows_file_codecvt.cpp
)
# std::atomic_ref needs C++20; WinCrypt (advapi32) rather than BCrypt keeps the
# exe's imports to the system DLLs it already needs.
set_target_properties(boost_filesystem_mingw PROPERTIES CXX_STANDARD 20
    INTERPROCEDURAL_OPTIMIZATION ${LAUNCHER_LTO})
target_include_directories(boost_filesystem_mingw SYSTEM PUBLIC ${LAUNCHER_BOOST_INCLUDE})
target_include_directories(boost_filesystem_mingw PRIVATE ${BOOST_FILESYSTEM_SOURCE_DIR})
target_compile_definitions(boost_filesystem_mingw
    PUBLIC BOOST_FILESYSTEM_STATIC_LINK=1 BOOST_ALL_NO_LIB ${LAUNCHER_WINDOWS_DEFINITIONS}
    PRIVATE BOOST_FILESYSTEM_SOURCE BOOST_FILESYSTEM_HAS_WINCRYPT BOOST_USE_WINDOWS_H
            _CRT_SECURE_NO_WARNINGS)
# Boost's own code trips these two under -Wall -Wextra (function pointers from
# GetProcAddress, an NTSTATUS compare); they are not ours to change.
target_compile_options(boost_filesystem_mingw PRIVATE
    ${LAUNCHER_WINDOWS_COMPILE_OPTIONS} -Wno-cast-function-type -Wno-sign-compare)

target_compile_options(launcher_core PRIVATE ${LAUNCHER_WINDOWS_COMPILE_OPTIONS})
target_link_libraries(launcher_core PUBLIC boost_filesystem_mingw)

# The core and Boost.Filesystem are compiled for link-time optimisation: the
# linker then keeps only the code the program reaches. Without it, the unwind
# tables of the 32-bit exe keep every function of each object that is linked
# (PE's --gc-sections does not look through .eh_frame), all of Boost.Filesystem's
# operations among them. The objects also carry plain code (fat LTO objects):
# the test programs link that with -fno-lto, because on i686 the optimiser
# fails on them (an internal compiler error, or clashing inline Boost symbols).
set_property(TARGET launcher_core PROPERTY INTERPROCEDURAL_OPTIMIZATION ${LAUNCHER_LTO})
if(LAUNCHER_LTO)
    target_compile_options(launcher_core PRIVATE -ffat-lto-objects)
    target_compile_options(boost_filesystem_mingw PRIVATE -ffat-lto-objects)
endif()
# The string streams compiled with the core, so that only the code Boost's XML
# reader uses of them goes into the exe.
target_sources(launcher_core PRIVATE ${PROJECT_SOURCE_DIR}/src/stream_instances.cpp)

# Links an executable as everything that ships is linked: the C++ runtime and
# Boost statically so that it needs only the system's DLLs, link-time
# optimised, stripped, unused sections dropped, and no link timestamp.
function(launcher_static_runtime target)
    set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ${LAUNCHER_LTO})
    target_compile_options(${target} PRIVATE ${LAUNCHER_WINDOWS_COMPILE_OPTIONS})
    target_link_options(${target} PRIVATE
        -static -s
        -Wl,--gc-sections
        -Wl,--no-insert-timestamp
        -Wl,-Map=${CMAKE_BINARY_DIR}/maps/${target}.map)
    # In one partition: split into several, GCC 12's i686 LTO stops with an
    # internal compiler error (binds_to_current_def_p) on Boost's inline code.
    if(LAUNCHER_LTO)
        target_link_options(${target} PRIVATE -flto-partition=one)
    endif()
endfunction()
# The link maps say which object each piece of code came from: ours or the
# runtime's (tests/windows/check_fp_code.py).
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/maps)

# Makes a statically linked executable the launcher: GUI subsystem (no console
# window of its own, entry still main) and the generated icon as its only
# resource.
function(launcher_windows_executable target)
    set(iconDir ${CMAKE_BINARY_DIR}/icon)
    file(MAKE_DIRECTORY ${iconDir})
    add_custom_command(
        OUTPUT ${iconDir}/launcher.ico ${iconDir}/launcher.rc ${iconDir}/launcher_icon.o
        COMMAND ${LAUNCHER_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/make_icon.py
                ${iconDir}/launcher.ico ${iconDir}/launcher.rc
        COMMAND ${CMAKE_RC_COMPILER} --input-format=rc --output-format=coff
                -i launcher.rc -o launcher_icon.o
        WORKING_DIRECTORY ${iconDir}
        DEPENDS ${PROJECT_SOURCE_DIR}/cmake/make_icon.py
        COMMENT "Drawing the launcher icon")
    target_sources(${target} PRIVATE ${iconDir}/launcher_icon.o)

    # All of the core goes in, also the routines the launch flow does not call.
    # The exe imports only kernel32 and msvcrt at load time; the boxes load
    # user32 from the system folder when they are shown (src/system_dll.cpp).
    set_property(TARGET ${target} PROPERTY LINK_LIBRARY_OVERRIDE_launcher_core WHOLE_ARCHIVE)

    target_link_options(${target} PRIVATE -mwindows)
    launcher_vendor_icon(${target})
endfunction()

# A vendor's own icon on the launcher: with -DLAUNCHER_ICON=app.png (PNG or ICO)
# seticon, built for this machine, puts it on the exe right after each link, so
# the signing hook signs the exe with its final icon.
set(LAUNCHER_ICON "" CACHE FILEPATH "PNG or ICO file to show as the launcher's icon instead of the built-in one")
set(LAUNCHER_HOST_SETICON "" CACHE FILEPATH
    "seticon built for this machine, to set LAUNCHER_ICON with (default: built in host-tools/)")
function(launcher_vendor_icon target)
    # A changed or removed icon relinks the exe: the link writes the built-in
    # icon, and the step below puts the vendor's on it.
    set(setting ${CMAKE_BINARY_DIR}/icon/vendor-icon.txt)
    file(CONFIGURE OUTPUT ${setting} CONTENT "${LAUNCHER_ICON}\n")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${setting})
    if(NOT LAUNCHER_ICON)
        return()
    endif()
    if(NOT EXISTS ${LAUNCHER_ICON})
        message(FATAL_ERROR "LAUNCHER_ICON: ${LAUNCHER_ICON} does not exist")
    endif()
    if(LAUNCHER_HOST_SETICON)
        set(tool ${LAUNCHER_HOST_SETICON})
    else()
        set(hostTree ${CMAKE_BINARY_DIR}/host-tools)
        set(tool ${hostTree}/seticon/seticon)
        if(NOT TARGET host_seticon)
            include(ExternalProject)
            ExternalProject_Add(host_seticon
                SOURCE_DIR ${PROJECT_SOURCE_DIR}
                BINARY_DIR ${hostTree}
                CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=${LAUNCHER_PYTHON}
                BUILD_COMMAND ${CMAKE_COMMAND} --build ${hostTree} --target seticon
                BUILD_ALWAYS TRUE
                BUILD_BYPRODUCTS ${tool}
                INSTALL_COMMAND "")
        endif()
        add_dependencies(${target} host_seticon)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${LAUNCHER_ICON} ${tool})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${tool} $<TARGET_FILE:${target}> ${LAUNCHER_ICON} $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()

# GoogleTest from Debian's sources for Windows test programs, which run under
# CMAKE_CROSSCOMPILING_EMULATOR (wine64 in the win64 preset). Link the test
# program -static so Wine needs no MinGW DLLs.
function(launcher_windows_googletest)
    if(TARGET gtest)
        return()
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    target_compile_options(gtest PUBLIC
        -include ${PROJECT_SOURCE_DIR}/tests/windows/gtest_notification.hpp)
endfunction()

# The Windows build trees carry their own tests (PE checks, Wine runs).
enable_testing()
add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows ${CMAKE_BINARY_DIR}/tests/windows)

# The floors the benchmarks measure the exe against, built the same way.
add_subdirectory(${PROJECT_SOURCE_DIR}/bench ${CMAKE_BINARY_DIR}/bench)

# launcher.exe, bootcheck.exe and seticon.exe signed when a certificate is given.
include(${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
