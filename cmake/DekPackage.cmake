# The deken package of this build, made by the target "dek" (part of the default build): the
# library folder attackscope/ with both plug-ins, their help patches and the plucked recording
# the help plays, the meta patch, README and LICENSE, packed by scripts/dek.py into
#   <build>/dek/attackscope[v<version>](<system>-<cpu>-32).dek
# (system and cpu as deken names them: Linux or Windows, amd64 or arm64; 32 for Pd's
# single-precision t_float).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(dek_cpu amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(dek_cpu arm64)
else()
    set(dek_cpu ${CMAKE_SYSTEM_PROCESSOR})
endif()
if(WIN32)
    set(DEK_ARCH "Windows-${dek_cpu}-32")
else()
    set(DEK_ARCH "Linux-${dek_cpu}-32")
endif()
set(DEK_DIR "${CMAKE_BINARY_DIR}/dek")
set(DEK_FILE "${DEK_DIR}/attackscope[v${PROJECT_VERSION}](${DEK_ARCH}).dek")

configure_file(packaging/attackscope-meta.pd.in "${CMAKE_BINARY_DIR}/attackscope-meta.pd" @ONLY)
set(dek_files
    "$<TARGET_FILE:attackscope_tilde>" "$<TARGET_FILE:beatspan>"
    "${CMAKE_BINARY_DIR}/pd/attackscope~-help.pd" "${CMAKE_BINARY_DIR}/pd/beatspan-help.pd"
    "${CMAKE_BINARY_DIR}/pd/plucks.wav" "${CMAKE_BINARY_DIR}/pd/strings.wav"
    "${CMAKE_BINARY_DIR}/attackscope-meta.pd"
    "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE")
# A stamp stands for the package: brackets and parentheses make poor build-rule outputs.
add_custom_command(OUTPUT "${DEK_DIR}/dek.stamp"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${DEK_DIR}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${DEK_DIR}/attackscope"
    COMMAND ${CMAKE_COMMAND} -E copy ${dek_files} "${DEK_DIR}/attackscope/"
    COMMAND ${Python3_EXECUTABLE} "${PROJECT_SOURCE_DIR}/scripts/dek.py" "${DEK_DIR}/attackscope"
            ${PROJECT_VERSION} ${DEK_ARCH} "${DEK_DIR}"
    COMMAND ${CMAKE_COMMAND} -E touch "${DEK_DIR}/dek.stamp"
    DEPENDS attackscope_tilde beatspan demo_recording ${dek_files}
            "${PROJECT_SOURCE_DIR}/scripts/dek.py"
    VERBATIM)
add_custom_target(dek ALL DEPENDS "${DEK_DIR}/dek.stamp")
