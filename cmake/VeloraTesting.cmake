# vh_add_test(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>] [TIMEOUT <s>])
# Builds one Qt Test program and registers it with CTest. Every test gets its own
# XDG_DATA_HOME below the build tree so runs never touch the user's data folder,
# and the leak reports of the libraries below Qt's TLS are left out (tests/lsan.supp).
function(vh_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set(env "QT_QPA_PLATFORM=offscreen" "XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/${name}.xdg"
            "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp" ${T_ENV})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
