# Native build: the Win32-free rules and their GoogleTest suite, under
# AddressSanitizer and UndefinedBehaviorSanitizer.
find_package(GTest REQUIRED)
include(GoogleTest)

option(TOLLVANE_SANITIZE "Build the native tests with ASan and UBSan" ON)

find_package(ZLIB REQUIRED)

add_library(rules STATIC ${RULE_SOURCES})
target_include_directories(rules PUBLIC ${CMAKE_SOURCE_DIR})
# The zip writer's deflate and CRC.
target_link_libraries(rules PUBLIC ZLIB::ZLIB)
project_warnings(rules)

file(GLOB NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(native_tests ${NATIVE_TEST_SOURCES})
target_link_libraries(native_tests PRIVATE rules GTest::gtest_main)
project_warnings(native_tests)

if(TOLLVANE_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  foreach(t rules native_tests)
    target_compile_options(${t} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                        -fno-sanitize-recover=all)
    target_link_options(${t} PRIVATE -fsanitize=address,undefined)
  endforeach()
endif()

gtest_discover_tests(native_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

# The Wine probe's decisions (scripts/wine-env.sh), against stand-in loaders.
add_test(NAME Scripts.WineProbePicksTheBuildThisMachineRuns
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/wine_env_test.sh)
