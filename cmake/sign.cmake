# Authenticode signing of the shipped Windows executables with osslsigncode:
# unsigned exes are what antivirus products flag most.
#
# Included from the Windows build: with -DLAUNCHER_SIGN_CERT=cert.pem
# -DLAUNCHER_SIGN_KEY=key.pem (and optionally -DLAUNCHER_SIGN_TIMESTAMP_URL=…)
# the target shipped_exes signs launcher.exe, bootcheck.exe, seticon.exe and update.exe in place once
# they are built; without them it only builds them. The signing runs in a
# top-level target rather than as POST_BUILD steps because the tools are
# created in their own folders, where this file cannot attach steps to them.
#
# Run as a script (cmake -DEXE=… -DCERT=… -DKEY=… [-DTIMESTAMP_URL=…] -P
# sign.cmake) it signs one file in place. SOURCE_DATE_EPOCH in the environment
# fixes the signing time, so that two signed builds are byte-identical as long
# as no timestamp server is asked.

if(CMAKE_SCRIPT_MODE_FILE)
    set(args sign -certs ${CERT} -key ${KEY} -h sha256)
    if(TIMESTAMP_URL)
        list(APPEND args -ts ${TIMESTAMP_URL})
    endif()
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        list(APPEND args -time $ENV{SOURCE_DATE_EPOCH})
    endif()
    execute_process(COMMAND ${OSSLSIGNCODE} ${args} -in ${EXE} -out ${EXE}.signed
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        file(REMOVE ${EXE}.signed)
        message(FATAL_ERROR "signing ${EXE} failed:\n${output}")
    endif()
    file(RENAME ${EXE}.signed ${EXE})
    return()
endif()

set(LAUNCHER_SIGN_CERT "" CACHE FILEPATH "PEM certificate (chain) to sign the Windows exes with")
set(LAUNCHER_SIGN_KEY "" CACHE FILEPATH "PEM private key of that certificate")
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for the signatures (optional)")

if(LAUNCHER_SIGN_CERT OR LAUNCHER_SIGN_KEY)
    if(NOT LAUNCHER_SIGN_CERT OR NOT LAUNCHER_SIGN_KEY)
        message(FATAL_ERROR "signing needs both LAUNCHER_SIGN_CERT and LAUNCHER_SIGN_KEY")
    endif()
    foreach(file ${LAUNCHER_SIGN_CERT} ${LAUNCHER_SIGN_KEY})
        if(NOT EXISTS ${file})
            message(FATAL_ERROR "signing: ${file} does not exist")
        endif()
    endforeach()
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/signed)
endif()

# Called at the end of the top-level folder, when every exe target exists.
function(launcher_sign_shipped_exes)
    set(exes launcher)
    foreach(tool bootcheck seticon update)
        if(TARGET ${tool})
            list(APPEND exes ${tool})
        endif()
    endforeach()
    set(stamps)
    if(LAUNCHER_SIGN_CERT)
        foreach(exe ${exes})
            # The stamp is written after the signature: a relinked exe is
            # newer than its stamp and is signed again, a signed one is not.
            set(stamp ${CMAKE_BINARY_DIR}/signed/${exe}.stamp)
            add_custom_command(OUTPUT ${stamp}
                COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${OSSLSIGNCODE} -DEXE=$<TARGET_FILE:${exe}>
                        -DCERT=${LAUNCHER_SIGN_CERT} -DKEY=${LAUNCHER_SIGN_KEY}
                        -DTIMESTAMP_URL=${LAUNCHER_SIGN_TIMESTAMP_URL}
                        -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
                COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
                DEPENDS ${exe} ${LAUNCHER_SIGN_CERT} ${LAUNCHER_SIGN_KEY}
                COMMENT "Signing ${exe}"
                VERBATIM)
            list(APPEND stamps ${stamp})
        endforeach()
    endif()
    add_custom_target(shipped_exes ALL DEPENDS ${exes} ${stamps})
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL launcher_sign_shipped_exes)
