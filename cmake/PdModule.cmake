# add_pd_module(<target> NAME <pd class name> SETUP <entry> HELP <patch> SOURCES ... [LIBS ...])
#
# Builds a Pd plug-in NAME.pd_linux that exports only its setup entry, and installs it with its
# help patch. Also provides <target>_core, a static library of the same code, so that tests can
# link the object into an in-process host.
function(add_pd_module target)
    cmake_parse_arguments(PD "" "NAME;SETUP;HELP" "SOURCES;LIBS" ${ARGN})

    add_library(${target}_core STATIC ${PD_SOURCES})
    set_target_properties(${target}_core PROPERTIES
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON POSITION_INDEPENDENT_CODE ON)
    target_include_directories(${target}_core SYSTEM PUBLIC ${PD_INCLUDE_DIR})
    target_include_directories(${target}_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target}_core PUBLIC ${PD_LIBS} PRIVATE project_warnings)

    # Even instantiations of std templates get default visibility; the version script hides them.
    set(map "${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
    file(WRITE "${map}" "{ global: ${PD_SETUP}; local: *; };\n")

    # The module is the core archive, whole; CMake wants at least one source of its own.
    set(stub "${CMAKE_CURRENT_BINARY_DIR}/${target}_module.cpp")
    file(WRITE "${stub}" "// the plug-in's code comes from ${target}_core\n")
    add_library(${target} MODULE "${stub}")
    target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${target}_core>")
    target_link_options(${target} PRIVATE "-Wl,--version-script=${map}")
    set_target_properties(${target} PROPERTIES
        PREFIX "" OUTPUT_NAME "${PD_NAME}" SUFFIX ".pd_linux"
        LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/pd"
        LINK_DEPENDS "${map}")
    # Pd finds the help patch beside the plug-in; configure_file writes it again when it changes,
    # with the project's version in its version line.
    configure_file("${PD_HELP}" "${CMAKE_BINARY_DIR}/pd/${PD_HELP}" @ONLY)
    install(TARGETS ${target} LIBRARY DESTINATION "${PD_INSTALL_SUBDIR}")
    install(FILES "${CMAKE_BINARY_DIR}/pd/${PD_HELP}" DESTINATION "${PD_INSTALL_SUBDIR}")
endfunction()
