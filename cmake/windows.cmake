# Windows: xmp-quarvel.dll, the simulated player, and the programs that test them under Wine.
# The same for both architectures (cmake/mingw-i686.cmake, cmake/mingw-x86_64.cmake); the
# released DLL is the i386 one.
enable_language(RC)

# The export keeps its plain name at ordinal 1: on i386 the linker is told to drop the stdcall
# decoration, on x86-64 there is none.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(QUARVEL_DEF src/resources/xmp-quarvel-i386.def)
else()
    set(QUARVEL_DEF src/resources/xmp-quarvel-x64.def)
endif()

# Every program here carries its own C++ runtime, so nothing beside the system DLLs is needed.
set(QUARVEL_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_compile_definitions(UNICODE _UNICODE NOMINMAX)
# No folder of the build reaches a program (the test programs name their source files).
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)

add_library(xmp-quarvel SHARED
    ${QUARVEL_CORE_SOURCES}
    src/host/host_win32.cpp
    src/host/plugin_entry.cpp
    src/watchers/thread_win32.cpp
    src/dialog/controls_win32.cpp
    src/dialog/dialog_win32.cpp
    src/resources/xmp-quarvel.rc
    ${QUARVEL_DEF})
set_target_properties(xmp-quarvel PROPERTIES PREFIX "" OUTPUT_NAME xmp-quarvel)
# Windows XP's headers: a function that XP lacks cannot become a static import by mistake (one
# such import keeps the whole DLL from loading there). Newer ones are looked up at run time.
target_compile_definitions(xmp-quarvel PRIVATE _WIN32_WINNT=0x0501 WINVER=0x0501)
target_include_directories(xmp-quarvel PRIVATE src src/resources)
target_compile_options(xmp-quarvel PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${QUARVEL_WARNINGS} -Os -fno-exceptions -fno-rtti
        -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables>)
target_link_options(xmp-quarvel PRIVATE ${QUARVEL_STATIC_RUNTIME} -s -Wl,--gc-sections)
# The build moment (quarvel_build_release in scripts/lib/route.sh), written at every release
# build: the About text that shows it is compiled again, and the DLL, whose time stamps carry
# it, linked again.
set(QUARVEL_MOMENT ${CMAKE_BINARY_DIR}/source-date-epoch)
if(NOT EXISTS ${QUARVEL_MOMENT})
    file(WRITE ${QUARVEL_MOMENT} "")
endif()
set_source_files_properties(src/host/about.cpp PROPERTIES OBJECT_DEPENDS ${QUARVEL_MOMENT})
set_target_properties(xmp-quarvel PROPERTIES LINK_DEPENDS ${QUARVEL_MOMENT})
# The Windows test kit's programs (scripts/package-kit) link at the release's moment too, and
# carry the kit's manifest.
function(quarvel_kit_program name)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${QUARVEL_MOMENT})
    target_sources(${name} PRIVATE tools/kit/kit_manifest.rc)
    set_property(SOURCE tools/kit/kit_manifest.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${CMAKE_SOURCE_DIR}/tools/kit/kit.manifest)
endfunction()

# GoogleTest, cross-built.
add_subdirectory(${QUARVEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Every program of the Windows test kit also loads on Windows XP: the functions newer than XP
# that it uses are looked up at run time (this file, linked into each program itself).
set(QUARVEL_LATE_BOUND tools/simplayer/late_bound.cpp)

# The simulated player: a library for the tests and the demo, and a program of its own.
add_library(simplayer STATIC
    tools/simplayer/sim_player.cpp tools/simplayer/player_window.cpp
    tools/simplayer/plugin_binding.cpp tools/simplayer/track_threads.cpp
    tools/simplayer/event_log.cpp tools/simplayer/transport.cpp tools/simplayer/xmplay_way.cpp
    tools/simplayer/contract_way.cpp tools/simplayer/playlist.cpp tools/simplayer/rest_watch.cpp
    tools/simplayer/thread_watch.cpp tools/simplayer/plugin_clock.cpp)
target_include_directories(simplayer PUBLIC tools/simplayer)
# The simulated player and the programs built on it use Windows 7's functions.
target_compile_definitions(simplayer PUBLIC _WIN32_WINNT=0x0601)
target_compile_options(simplayer PRIVATE ${QUARVEL_WARNINGS})

add_executable(simplayer_cli tools/simplayer/main.cpp ${QUARVEL_LATE_BOUND})
set_target_properties(simplayer_cli PROPERTIES OUTPUT_NAME simplayer)
target_include_directories(simplayer_cli PRIVATE src/resources)
target_link_libraries(simplayer_cli PRIVATE simplayer)
target_link_options(simplayer_cli PRIVATE ${QUARVEL_STATIC_RUNTIME})
target_compile_options(simplayer_cli PRIVATE ${QUARVEL_WARNINGS})
quarvel_kit_program(simplayer_cli)

enable_testing()

# A window of another process with the dialog's caption, for the track-close test.
add_executable(caption_window tests/win32/caption_window.cpp)
target_link_options(caption_window PRIVATE ${QUARVEL_STATIC_RUNTIME} -mwindows)
quarvel_kit_program(caption_window)

function(quarvel_wine_test name)
    add_executable(${name} ${ARGN} ${QUARVEL_LATE_BOUND})
    target_include_directories(${name} PRIVATE src/resources tests/win32)
    target_link_libraries(${name} PRIVATE simplayer GTest::gtest_main version)
    target_link_options(${name} PRIVATE ${QUARVEL_STATIC_RUNTIME})
    target_compile_options(${name} PRIVATE ${QUARVEL_WARNINGS})
    add_dependencies(${name} xmp-quarvel caption_window)
    add_test(NAME ${name} COMMAND ${name})
    quarvel_kit_program(${name})
endfunction()

quarvel_wine_test(dll_loader_test tests/win32/dll_loader_test.cpp)
quarvel_wine_test(binding_test tests/win32/binding_test.cpp)
quarvel_wine_test(time_limit_play_test tests/win32/time_limit_play_test.cpp)
quarvel_wine_test(unload_test tests/win32/unload_test.cpp)
quarvel_wine_test(dialog_test tests/win32/dialog_test.cpp)
quarvel_wine_test(threads_test tests/win32/threads_test.cpp)
quarvel_wine_test(rest_test tests/win32/rest_test.cpp)
quarvel_wine_test(simplayer_cli_test tests/win32/simplayer_cli_test.cpp)
add_dependencies(simplayer_cli_test simplayer_cli)

# Latency under Wine: printed, never asserted.
add_executable(latency_bench bench/latency.cpp ${QUARVEL_LATE_BOUND})
target_include_directories(latency_bench PRIVATE src/resources)
target_link_libraries(latency_bench PRIVATE simplayer)
target_link_options(latency_bench PRIVATE ${QUARVEL_STATIC_RUNTIME})
target_compile_options(latency_bench PRIVATE ${QUARVEL_WARNINGS})
add_dependencies(latency_bench xmp-quarvel)
quarvel_kit_program(latency_bench)

# The test kit's runner (scripts/package-kit packs the kit). It knows the test programs it is
# packed with, named once in scripts/lib/route.sh, so that one missing from the kit is reported.
file(READ ${CMAKE_SOURCE_DIR}/scripts/lib/route.sh QUARVEL_ROUTE_SH)
string(REGEX MATCH "quarvel_kit_tests=\\(([^)]*)\\)" QUARVEL_KIT_TESTS "${QUARVEL_ROUTE_SH}")
string(STRIP "${CMAKE_MATCH_1}" QUARVEL_KIT_TESTS)
string(REGEX REPLACE "[ \t\r\n]+" "," QUARVEL_KIT_TESTS "${QUARVEL_KIT_TESTS}")
if(NOT QUARVEL_KIT_TESTS)
    message(FATAL_ERROR "no quarvel_kit_tests=(...) in scripts/lib/route.sh")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/scripts/lib/route.sh)
add_executable(run_tests tools/kit/run_tests.cpp tools/kit/program_run.cpp ${QUARVEL_LATE_BOUND})
target_compile_definitions(run_tests PRIVATE QUARVEL_KIT_TESTS="${QUARVEL_KIT_TESTS}")
set_target_properties(run_tests PROPERTIES OUTPUT_NAME run-tests)
target_link_options(run_tests PRIVATE ${QUARVEL_STATIC_RUNTIME})
target_compile_options(run_tests PRIVATE ${QUARVEL_WARNINGS})
quarvel_kit_program(run_tests)

# A stand-in for test programs, for the runner's own tests (tests/scripts/kit_runner_test.sh).
add_executable(kit_stand_in tests/win32/kit_stand_in.cpp ${QUARVEL_LATE_BOUND})
target_link_options(kit_stand_in PRIVATE ${QUARVEL_STATIC_RUNTIME})
add_dependencies(run_tests kit_stand_in)
quarvel_kit_program(kit_stand_in)

# A picture of the dialog for the documentation (scripts/screenshot).
add_executable(dialog_shot tools/screenshot/dialog_shot.cpp ${QUARVEL_LATE_BOUND})
target_include_directories(dialog_shot PRIVATE src/resources)
target_link_libraries(dialog_shot PRIVATE simplayer gdi32)
target_link_options(dialog_shot PRIVATE ${QUARVEL_STATIC_RUNTIME})
add_dependencies(dialog_shot xmp-quarvel)
quarvel_kit_program(dialog_shot)
