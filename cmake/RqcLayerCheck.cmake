# Configure-time proof that the include layers hold. Each probe is one translation unit compiled
# as a target linking exactly one library would compile it (that library's usage requirements,
# followed through its PUBLIC links only): it must include every header the library exports,
# and must not find the headers it must not reach (another library's, the library's internal
# ones, the plain names of its folder), looked up by __has_include exactly as #include would.
# Since the same unit compiles the reachable headers, a probe cannot pass because its include
# paths are wrong. Any surprise stops the configuration. A probe passed before is not compiled
# again while its source, flags and the project's headers it can reach are unchanged.

# The include directories, definitions and imported targets a target linking `target` gets.
function(_rqc_usage target out_includes out_definitions out_imported)
    set(queue ${target})
    set(seen)
    set(includes)
    set(definitions)
    set(imported)
    while(queue)
        list(POP_FRONT queue t)
        if(t IN_LIST seen OR NOT TARGET ${t})
            continue()
        endif()
        list(APPEND seen ${t})
        get_target_property(aliased ${t} ALIASED_TARGET)
        if(aliased)
            list(APPEND queue ${aliased})
            continue()
        endif()
        get_target_property(is_imported ${t} IMPORTED)
        if(is_imported)
            list(APPEND imported ${t})
            continue()
        endif()
        get_target_property(dirs ${t} INTERFACE_INCLUDE_DIRECTORIES)
        foreach(dir ${dirs})
            if(dir MATCHES "^\\$<BUILD_INTERFACE:(.*)>$")
                list(APPEND includes "${CMAKE_MATCH_1}")
            elseif(NOT dir MATCHES "^\\$<" AND dir)
                list(APPEND includes "${dir}")
            endif()
        endforeach()
        get_target_property(defs ${t} INTERFACE_COMPILE_DEFINITIONS)
        if(defs)
            list(APPEND definitions ${defs})
        endif()
        get_target_property(links ${t} INTERFACE_LINK_LIBRARIES)
        foreach(link ${links})
            # PRIVATE links of a static library appear as $<LINK_ONLY:...>: no usage requirements.
            if(link AND NOT link MATCHES "^\\$<")
                list(APPEND queue ${link})
            endif()
        endforeach()
    endwhile()
    list(REMOVE_DUPLICATES includes)
    set(${out_includes} ${includes} PARENT_SCOPE)
    set(${out_definitions} ${definitions} PARENT_SCOPE)
    set(${out_imported} ${imported} PARENT_SCOPE)
endfunction()

# rqc_probe_layer(LINKING lib [INCLUDES header...] [UNREACHABLE header...])
# Without INCLUDES, the headers `lib` exports (rqc_library_headers) are included.
function(rqc_probe_layer)
    cmake_parse_arguments(P "" "LINKING" "INCLUDES;UNREACHABLE" ${ARGN})
    if(NOT TARGET ${P_LINKING})
        message(FATAL_ERROR "layer check: no target ${P_LINKING}")
    endif()
    if(NOT P_INCLUDES)
        get_target_property(prefix ${P_LINKING} RQC_HEADER_PREFIX)
        get_target_property(headers ${P_LINKING} RQC_PUBLIC_HEADERS)
        foreach(h ${headers})
            list(APPEND P_INCLUDES ${prefix}/${h})
        endforeach()
    endif()
    if(NOT P_INCLUDES)
        message(FATAL_ERROR "layer check: a probe linking ${P_LINKING} needs headers it reaches")
    endif()
    set(code "// Compiled by cmake/RqcLayerCheck.cmake as a target linking ${P_LINKING}.\n")
    foreach(h ${P_INCLUDES})
        string(APPEND code "#include \"${h}\"\n")
    endforeach()
    foreach(h ${P_UNREACHABLE})
        string(APPEND code "#if __has_include(\"${h}\")\n"
            "#error \"LAYER: ${h} is reachable from a target linking ${P_LINKING}\"\n#endif\n")
    endforeach()
    set(dir ${CMAKE_BINARY_DIR}/CMakeFiles/rqc_layer_check/${P_LINKING})
    file(WRITE ${dir}/probe.cpp "${code}")

    _rqc_usage(${P_LINKING} includes definitions imported)
    get_directory_property(global_definitions DIRECTORY ${CMAKE_SOURCE_DIR} COMPILE_DEFINITIONS)
    set(flags)
    foreach(i ${includes})
        list(APPEND flags "-I${i}")
    endforeach()
    foreach(d ${global_definitions} ${definitions})
        list(APPEND flags "-D${d}")
    endforeach()
    # What the verdict depends on: the probe, its flags and the project's headers it can reach.
    set(inputs "${code}${flags}${imported}")
    foreach(i ${includes})
        if(i MATCHES "^(${CMAKE_BINARY_DIR}|${CMAKE_SOURCE_DIR})/")
            file(GLOB_RECURSE headers FOLLOW_SYMLINKS ${i}/*.h)
            list(SORT headers)
            foreach(h ${headers})
                file(MD5 ${h} sum)
                string(APPEND inputs "${h}=${sum};")
            endforeach()
        endif()
    endforeach()
    string(MD5 inputs "${inputs}")
    set(passed RQC_LAYER_PROBE_${P_LINKING})
    if("${${passed}}" STREQUAL inputs)
        return()
    endif()

    set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
    try_compile(compiled ${dir}/build SOURCES ${dir}/probe.cpp
        COMPILE_DEFINITIONS ${flags}
        LINK_LIBRARIES ${imported}
        CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON
        OUTPUT_VARIABLE output)
    if(NOT compiled)
        string(REGEX MATCHALL "[^\n]*error:[^\n]*" errors "${output}")
        list(JOIN errors "\n" errors)
        message(FATAL_ERROR "The include layers do not hold for a target linking "
            "${P_LINKING} (probe: ${dir}/probe.cpp):\n${errors}")
    endif()
    set(${passed} ${inputs} CACHE INTERNAL "Inputs of the last passed layer probe")
endfunction()

function(rqc_check_layers)
    message(STATUS "Checking the include layers")
    rqc_probe_layer(LINKING rqc_protocol
        UNREACHABLE protocol/wire.h protocol.h suitedb/connection.h dates/dates.h)
    rqc_probe_layer(LINKING rqc_suitedb
        UNREACHABLE suitedb/engines.h suitedb/placeholders.h connection.h protocol/protocol.h)
    rqc_probe_layer(LINKING rqc_appserver_core
        UNREACHABLE protocol/wire.h suitedb/engines.h appserver/session.h dispatcher.h
            vlm/net_connection.h)
    rqc_probe_layer(LINKING vlm_core
        UNREACHABLE vlm/controls.h vlm/messages.h data_set.h protocol/protocol.h dates/dates.h)
    rqc_probe_layer(LINKING vlm
        UNREACHABLE controls.h vlm/login_dialog.h protocol/protocol.h suitedb/connection.h)
    rqc_probe_layer(LINKING rqc_host
        UNREACHABLE controls.h main_window.h suitedb/schema.h suitedb/connection.h
            screen/frm_consolida_solicita.h module/module.h)
endfunction()

# Links that would run against the layers, each refused by name: the database tool reaching the
# application server's core or the wire protocol, the host the wire protocol, the scripted demo
# the database library. What they once needed of those (object names, the password variable,
# the demo operator) is in src/names; the tools' password prompt is in src/tools.
function(rqc_check_program_links)
    foreach(pair "rqc-suitedb:rqc_appserver_core" "rqc-suitedb:rqc_protocol"
            "rqc_host:rqc_protocol" "rqc-demo-run:rqc_suitedb")
        string(REPLACE ":" ";" parts ${pair})
        list(GET parts 0 program)
        list(GET parts 1 library)
        get_target_property(links ${program} LINK_LIBRARIES)
        if(library IN_LIST links)
            message(FATAL_ERROR "layer check: ${program} links ${library}, against the layers; "
                "take the shared name from src/names/names.h")
        endif()
    endforeach()
endfunction()
