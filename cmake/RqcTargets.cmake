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
