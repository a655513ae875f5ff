# Helpers shared by every target folder: warnings, sanitizers, and one function per kind of
# target so that each CMakeLists.txt lists only its sources and its links.

function(rqc_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(RQC_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()

# rqc_library(NAME [SHARED|STATIC] SOURCES ... )
function(rqc_library name kind)
    add_library(${name} ${kind} ${ARGN})
    rqc_target_defaults(${name})
endfunction()

# rqc_library_headers(target [PREFIX dir] [PUBLIC header...] [INTERNAL | PUBLIC_ONLY])
# The include root `target` exports: only its PUBLIC headers, reached as "<dir>/<header>"
# through a folder of links in the build tree, and only by targets that link it. Every other
# header of the folder is internal: the target's own sources reach all of them as
# "<dir>/<header>"; with INTERNAL, the interface target <target>_internal gives them to the
# tests and benchmarks that link it, so each such exception is written in CMake. Without a
# PREFIX the folder itself is the internal root (the screen modules' "screen/..." headers).
# PUBLIC_ONLY: the folder also holds another library's headers, which the target's own sources
# must not reach by the prefix (they include their own headers by plain name).
# A public header may include only public headers, of its own library or of those it links
# PUBLIC (cmake/RqcLayerCheck.cmake compiles each library's public headers from outside).
function(rqc_library_headers target)
    cmake_parse_arguments(H "INTERNAL;PUBLIC_ONLY" "PREFIX" "PUBLIC" ${ARGN})
    if(H_PUBLIC AND NOT H_PREFIX)
        message(FATAL_ERROR "rqc_library_headers(${target}): public headers need a PREFIX")
    endif()
    set(public ${CMAKE_BINARY_DIR}/include/${target})
    file(REMOVE_RECURSE ${public})
    foreach(header ${H_PUBLIC})
        if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
            message(FATAL_ERROR "rqc_library_headers(${target}): no header ${header}")
        endif()
        set(link ${public}/${H_PREFIX}/${header})
        get_filename_component(folder ${link} DIRECTORY)
        file(MAKE_DIRECTORY ${folder})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${link} SYMBOLIC)
    endforeach()
    if(H_PUBLIC)
        target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${public}>)
    endif()
    set_property(TARGET ${target} PROPERTY RQC_PUBLIC_HEADERS ${H_PUBLIC})
    set_property(TARGET ${target} PROPERTY RQC_HEADER_PREFIX ${H_PREFIX})
    if(H_PUBLIC_ONLY)
        return()
    endif()
    if(H_PREFIX)
        set(internal ${CMAKE_BINARY_DIR}/include-internal/${target})
        file(REMOVE_RECURSE ${internal})
        file(MAKE_DIRECTORY ${internal})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${internal}/${H_PREFIX} SYMBOLIC)
    else()
        set(internal ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
    target_include_directories(${target} PRIVATE ${internal})
    if(H_INTERNAL)
        add_library(${target}_internal INTERFACE)
        target_include_directories(${target}_internal INTERFACE ${internal})
        target_link_libraries(${target}_internal INTERFACE ${target})
    endif()
endfunction()

function(rqc_executable name)
    add_executable(${name} ${ARGN})
    rqc_target_defaults(${name})
endfunction()

# add_unit_test(file.cpp LIBS lib... [LABELS label...] [SOURCES extra.cpp...])
# The target and CTest name derive from the file name: foo_test.cpp -> foo_test.
function(add_unit_test file)
    cmake_parse_arguments(T "" "" "LIBS;LABELS;SOURCES" ${ARGN})
    get_filename_component(name ${file} NAME_WE)
    add_executable(${name} ${file} ${T_SOURCES})
    rqc_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RQC_BIN_DIR=${CMAKE_BINARY_DIR}/bin;RQC_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
        TIMEOUT 600)
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()

# add_bench(file.cpp LIBS lib...): a Google Benchmark program in build/bench.
function(add_bench file)
    cmake_parse_arguments(B "" "" "LIBS;SOURCES" ${ARGN})
    get_filename_component(name ${file} NAME_WE)
    add_executable(${name} ${file} ${B_SOURCES})
    rqc_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
