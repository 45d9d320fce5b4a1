# pixolund_test: the one way a test program is built and registered with ctest.
#
# The source file names the framework: tst_<name>.cpp is a QTest, test_<name>.cpp a GoogleTest;
# the target is the file's stem. A SCRIPT test runs a shell script instead of a program.
#
#   pixolund_test(<stem> [SOURCES extra...] [LIBS ...] [DEFINES ...] [DEPENDS ...]
#                 [LABELS ...] [TIMEOUT s] [ARGS ...] [ENV VAR=value...] [OFFSCREEN]
#                 [THREADED_FILTER <gtest filter>] [SCRIPT <file>])
#
# OFFSCREEN runs it on Qt's offscreen platform. LABELS "threaded" puts it into the
# ThreadSanitizer run. THREADED_FILTER splits a GoogleTest program into <stem> (the cases not
# matching) and <stem>_threaded (the matching ones, labelled threaded).
function(pixolund_test stem)
    cmake_parse_arguments(T "OFFSCREEN" "TIMEOUT;THREADED_FILTER;SCRIPT"
        "SOURCES;LIBS;DEFINES;DEPENDS;LABELS;ARGS;ENV" ${ARGN})
    if(T_SCRIPT)
        add_test(NAME ${stem} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/${T_SCRIPT} ${T_ARGS})
    else()
        if(stem MATCHES "^tst_")
            set(framework Qt6::Test)
        elseif(stem MATCHES "^test_")
            set(framework GTest::gtest_main)
        else()
            message(FATAL_ERROR "test ${stem}: name it tst_<name> (QTest) or test_<name> (GoogleTest)")
        endif()
        add_executable(${stem} ${stem}.cpp ${T_SOURCES})
        target_link_libraries(${stem} PRIVATE ${T_LIBS} ${framework})
        target_include_directories(${stem} PRIVATE ${PROJECT_SOURCE_DIR})
        target_compile_definitions(${stem} PRIVATE ${T_DEFINES})
        # Test programs stay beside their build files; build/bin holds only what users run.
        set_target_properties(${stem} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
        if(stem MATCHES "^test_")
            set_target_properties(${stem} PROPERTIES AUTOMOC OFF)
        endif()
        if(T_DEPENDS)
            add_dependencies(${stem} ${T_DEPENDS})
        endif()
        pixolund_warnings(${stem})
        if(T_THREADED_FILTER)
            add_test(NAME ${stem} COMMAND ${stem} --gtest_filter=-${T_THREADED_FILTER} ${T_ARGS})
            add_test(NAME ${stem}_threaded COMMAND ${stem} --gtest_filter=${T_THREADED_FILTER})
            set_tests_properties(${stem}_threaded PROPERTIES LABELS "threaded;${T_LABELS}")
        else()
            add_test(NAME ${stem} COMMAND ${stem} ${T_ARGS})
        endif()
    endif()
    set(env ${T_ENV})
    if(T_OFFSCREEN)
        list(APPEND env QT_QPA_PLATFORM=offscreen)
    endif()
    if(env)
        set_tests_properties(${stem} PROPERTIES ENVIRONMENT "${env}")
    endif()
    if(T_LABELS)
        set_tests_properties(${stem} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_TIMEOUT)
        set_tests_properties(${stem} PROPERTIES TIMEOUT ${T_TIMEOUT})
    endif()
endfunction()
