# add_pd_module(<target> NAME <pd class name> SETUP <entry> HELP <patch> SOURCES ... [LIBS ...])
#
# Builds a Pd plug-in that exports only its setup entry, and installs it with its help patch:
# NAME.pd_linux on Linux; NAME.dll on Windows, importing Pd's API from pd.dll. Also provides
# <target>_core, a static library of the same code, so that tests can link the object into an
# in-process host. The setup entry is declared PD_MODULE_EXPORT, which says "exported" in each
# system's own terms.

# Windows: Pd's API lives in pd.dll, which a plug-in links through an import library. It is made
# here from pd.def, the functions the plug-ins call, so that the build needs no Pd for Windows.
if(WIN32)
    find_program(PD_DLLTOOL NAMES ${CMAKE_DLLTOOL} x86_64-w64-mingw32-dlltool dlltool REQUIRED)
    set(PD_DEF_FILE "${CMAKE_CURRENT_LIST_DIR}/pd.def")
    set(PD_IMPORT_LIB "${CMAKE_BINARY_DIR}/pd-import/libpd.dll.a")
    add_custom_command(OUTPUT "${PD_IMPORT_LIB}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/pd-import"
        COMMAND ${PD_DLLTOOL} --input-def "${PD_DEF_FILE}" --dllname pd.dll
                --output-lib "${PD_IMPORT_LIB}"
        DEPENDS "${PD_DEF_FILE}" VERBATIM)
    add_custom_target(pd_import_lib DEPENDS "${PD_IMPORT_LIB}")
endif()

function(add_pd_module target)
    cmake_parse_arguments(PD "" "NAME;SETUP;HELP" "SOURCES;LIBS" ${ARGN})

    add_library(${target}_core STATIC ${PD_SOURCES})
    set_target_properties(${target}_core PROPERTIES
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON POSITION_INDEPENDENT_CODE ON)
    target_include_directories(${target}_core SYSTEM PUBLIC ${PD_INCLUDE_DIR})
    target_include_directories(${target}_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target}_core PUBLIC ${PD_LIBS} PRIVATE project_warnings)
    if(WIN32)
        target_compile_definitions(${target}_core PRIVATE "PD_MODULE_EXPORT=__declspec(dllexport)")
    else()
        target_compile_definitions(${target}_core PRIVATE
            "PD_MODULE_EXPORT=__attribute__((visibility(\"default\")))")
    endif()

    # The module is the core archive, whole; CMake wants at least one source of its own. It checks
    # that Pd's header, read for this system, describes the records as Pd's own build there does:
    # perform routines get pointers through t_int, which on 64-bit Windows must be long long; and
    # Pd for Windows lays out t_object's bit-field as Windows compilers do (GCC's -mms-bitfields,
    # its default there), which makes the header 56 bytes, not 48, and moves every field of ours.
    set(stub "${CMAKE_CURRENT_BINARY_DIR}/${target}_module.cpp")
    file(WRITE "${stub}" "// the plug-in's code comes from ${target}_core
#include \"m_pd.h\"
static_assert(sizeof(t_int) == sizeof(void *), \"t_int must hold a pointer\");
static_assert(sizeof(t_float) == 4 && sizeof(t_sample) == 4, \"Pd's single-precision floats\");
static_assert(sizeof(t_atom) == 2 * sizeof(void *), \"an atom is a type and a word\");
#ifdef _WIN64
static_assert(sizeof(t_object) == 56, \"t_object as Pd for Windows lays it out\");
#endif
")
    add_library(${target} MODULE "${stub}")
    target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${target}_core>")
    set_target_properties(${target} PROPERTIES
        PREFIX "" OUTPUT_NAME "${PD_NAME}" LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/pd")
    if(WIN32)
        # ".dll" rather than ".m_amd64": every Pd for Windows loads it, and a package holds one
        # processor's build, so the processor in the suffix would tell Pd nothing new. Only the
        # dllexport'ed entry is exported (nothing automatically); the compiler's runtime is linked
        # in, so the plug-in needs nothing but pd.dll and Windows' own libraries.
        add_dependencies(${target} pd_import_lib)
        target_link_libraries(${target} PRIVATE "${PD_IMPORT_LIB}")
        target_link_options(${target} PRIVATE -static -Wl,--exclude-all-symbols)
        set_target_properties(${target} PROPERTIES SUFFIX ".dll" LINK_DEPENDS "${PD_IMPORT_LIB}")
    else()
        # Even instantiations of std templates get default visibility; the version script hides
        # them.
        set(map "${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
        file(WRITE "${map}" "{ global: ${PD_SETUP}; local: *; };\n")
        target_link_options(${target} PRIVATE "-Wl,--version-script=${map}")
        set_target_properties(${target} PROPERTIES SUFFIX ".pd_linux" LINK_DEPENDS "${map}")
    endif()
    # Pd finds the help patch beside the plug-in; configure_file writes it again when it changes,
    # with the project's version in its version line.
    configure_file("${PD_HELP}" "${CMAKE_BINARY_DIR}/pd/${PD_HELP}" @ONLY)
    install(TARGETS ${target} LIBRARY DESTINATION "${PD_INSTALL_SUBDIR}")
    install(FILES "${CMAKE_BINARY_DIR}/pd/${PD_HELP}" DESTINATION "${PD_INSTALL_SUBDIR}")
endfunction()
