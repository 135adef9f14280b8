# Linux: the plug-in's logic against a fake player, under the sanitizers.
set(QUARVEL_SANITIZE "" CACHE STRING "Sanitizers for the native build (address,undefined or thread)")
if(QUARVEL_SANITIZE)
    add_compile_options(-fsanitize=${QUARVEL_SANITIZE} -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${QUARVEL_SANITIZE})
endif()

add_subdirectory(${QUARVEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Object libraries: the logic calls into the seams that the fakes (or the benchmark's null
# player) provide, so every program takes the objects it needs directly.
find_package(Threads REQUIRED)
add_library(quarvel_core OBJECT ${QUARVEL_CORE_SOURCES})
target_include_directories(quarvel_core PUBLIC src)
target_compile_options(quarvel_core PRIVATE ${QUARVEL_WARNINGS})

# Threads for the watchers on Linux: std::thread, detached.
add_library(quarvel_threads_std OBJECT tests/fakes/threads_std.cpp)
target_include_directories(quarvel_threads_std PUBLIC src tests/fakes)
target_link_libraries(quarvel_threads_std PUBLIC Threads::Threads)

add_library(quarvel_fakes OBJECT tests/fakes/fake_host.cpp tests/fakes/fake_controls.cpp)
target_include_directories(quarvel_fakes PUBLIC src tests/fakes)
target_compile_options(quarvel_fakes PRIVATE ${QUARVEL_WARNINGS})

enable_testing()

add_executable(unit_tests
    tests/unit/settings_test.cpp
    tests/unit/time_limit_test.cpp
    tests/unit/loop_watcher_test.cpp
    tests/unit/watcher_control_test.cpp
    tests/unit/track_events_test.cpp
    tests/unit/number_text_test.cpp
    tests/unit/dialog_test.cpp
    tests/unit/apply_test.cpp
    tests/unit/about_test.cpp
    tests/unit/playlist_test.cpp
    tools/simplayer/playlist.cpp)
target_include_directories(unit_tests PRIVATE tools/simplayer)
target_link_libraries(unit_tests PRIVATE quarvel_core quarvel_fakes quarvel_threads_std GTest::gtest_main)
target_compile_options(unit_tests PRIVATE ${QUARVEL_WARNINGS})
add_test(NAME unit_tests COMMAND unit_tests)

# The interleaving explorer: the same logic built with every shared word a switch point,
# run on threads that it schedules one at a time through every schedule within its bound.
# scripts/test runs it directly, so that its summary line shows.
add_executable(interleaving_explorer ${QUARVEL_CORE_SOURCES} tests/fakes/fake_host.cpp
    tests/explore/explorer.cpp tests/explore/dialog_model.cpp tests/explore/scenarios.cpp
    tests/fakes/no_thread_hooks.cpp)
target_compile_definitions(interleaving_explorer PRIVATE QUARVEL_EXPLORED)
target_include_directories(interleaving_explorer PRIVATE src tests/fakes tests/explore)
target_link_libraries(interleaving_explorer PRIVATE Threads::Threads)
# It checks schedules, not memory: built without the sanitizers, for speed.
set_target_properties(interleaving_explorer PROPERTIES
    COMPILE_OPTIONS "${QUARVEL_WARNINGS};-O2" LINK_OPTIONS "")

# Fuzz target over the loop section's correction and arming (clang's libFuzzer); the test
# runs a fixed, seeded number of inputs.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT QUARVEL_SANITIZE MATCHES "thread")
    add_executable(loop_section_fuzz tests/fuzz/loop_section_fuzz.cpp tests/fuzz/no_threads.cpp
        tests/fakes/no_thread_hooks.cpp)
    target_link_libraries(loop_section_fuzz PRIVATE quarvel_core quarvel_fakes)
    target_include_directories(loop_section_fuzz PRIVATE src tests/fakes)
    target_compile_options(loop_section_fuzz PRIVATE -fsanitize=fuzzer ${QUARVEL_WARNINGS})
    target_link_options(loop_section_fuzz PRIVATE -fsanitize=fuzzer)
    add_test(NAME loop_section_fuzz COMMAND loop_section_fuzz -runs=200000 -seed=1)
endif()

# Cost of one idle watcher pass, against a player that answers at once.
add_executable(pass_cost_bench bench/pass_cost.cpp bench/null_host.cpp)
target_link_libraries(pass_cost_bench PRIVATE quarvel_core quarvel_threads_std)
target_compile_options(pass_cost_bench PRIVATE ${QUARVEL_WARNINGS})

# The released i386 DLL read as bytes: needs no Wine, so it runs on every machine. The DLL is
# built by the win32 preset (scripts/test builds it first).
set(QUARVEL_RELEASE_DLL ${CMAKE_SOURCE_DIR}/build/win32/bin/xmp-quarvel.dll
    CACHE FILEPATH "The i386 xmp-quarvel.dll whose image the image test reads")
if(NOT QUARVEL_SANITIZE MATCHES "thread")
    add_executable(dll_image_test tests/image/dll_image_test.cpp tests/image/pe_image.cpp)
    target_link_libraries(dll_image_test PRIVATE GTest::gtest)
    target_compile_options(dll_image_test PRIVATE ${QUARVEL_WARNINGS})
    target_compile_definitions(dll_image_test
        PRIVATE QUARVEL_XP_IMPORTS="${CMAKE_SOURCE_DIR}/tests/image/xp_imports.txt")
    add_test(NAME dll_image_test COMMAND dll_image_test ${QUARVEL_RELEASE_DLL})
    # Which Windows route the scripts choose, for each kind of machine.
    add_test(NAME route_test COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/route_test.sh)
endif()
