# Windows build: the supervisor, the demo agent and the Windows test binaries.
set(OUT_DIR ${CMAKE_BINARY_DIR}/out)
# The generator expression keeps multi-configuration generators (Visual
# Studio) from adding a per-configuration folder: out\ must look like an
# installation, with the agent in out\bin.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "$<1:${OUT_DIR}>")

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX PSAPI_VERSION=1
                        _WIN32_WINNT=0x0601 WINVER=0x0601)

# The oldest systems each build is marked for: Windows XP (5.01) for the
# 32-bit build, the first 64-bit Windows (5.02) for the 64-bit one.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOLLVANE_ARCH win64)
  set(TOLLVANE_MANIFEST_ARCH amd64)
  set(MIN_SUBSYSTEM_MINOR 2)
else()
  set(TOLLVANE_ARCH win32)
  set(TOLLVANE_MANIFEST_ARCH x86)
  set(MIN_SUBSYSTEM_MINOR 1)
endif()

if(MINGW)
  # One self-contained exe: no libgcc, libstdc++ or winpthread DLLs beside it.
  set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
  set(SUBSYSTEM_VERSION -Wl,--major-subsystem-version,5,--minor-subsystem-version,${MIN_SUBSYSTEM_MINOR})
  set(GUI_LINK -mwindows -municode ${SUBSYSTEM_VERSION})
  set(CONSOLE_LINK ${SUBSYSTEM_VERSION})
  set(WIDE_MAIN -municode)
elseif(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  set(GUI_LINK /SUBSYSTEM:WINDOWS /ENTRY:wWinMainCRTStartup /MANIFEST:NO)
  set(CONSOLE_LINK /SUBSYSTEM:CONSOLE)
endif()

# GetTickCount64 for the threads runtime, so that both programs load on the
# oldest Windows they are marked for; an object of each executable's own.
set(TICK_COUNT_SOURCE ${CMAKE_SOURCE_DIR}/app/tick_count64.cpp)

set(WIN_LIBS user32 gdi32 kernel32 shell32 comctl32 comdlg32 ole32 psapi advapi32 version)

# The rooms: one static library each, linked and compiled as the room table
# of docs/architecture.md allows (read from there, as scripts/check-rooms.py
# reads it). A room's include path holds links to its own folder and to the
# rooms it may reach, no more, so an include against the table fails here.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/architecture.md)
file(STRINGS ${CMAKE_SOURCE_DIR}/docs/architecture.md ROOM_ROWS REGEX "^\\| `[a-z_]+/` \\|")
set(ROOMS)
foreach(row IN LISTS ROOM_ROWS)
  string(REGEX MATCH "^\\| `([a-z_]+)/`" _ "${row}")
  set(room ${CMAKE_MATCH_1})
  string(REGEX MATCH "\\|[^|]*\\|$" allowed "${row}")
  string(REGEX MATCHALL "`[a-z_]+/`" allowed "${allowed}")
  string(REGEX REPLACE "[`/]" "" allowed "${allowed}")
  set(ROOM_DEPS_${room} ${allowed})
  list(APPEND ROOMS ${room})
endforeach()
if(NOT ROOMS)
  message(FATAL_ERROR "no room table in docs/architecture.md")
endif()

# What a room reaches: its own folder, the rooms it may include, theirs in turn.
function(room_reach room out)
  set(reach ${room})
  set(todo ${ROOM_DEPS_${room}})
  while(todo)
    list(POP_FRONT todo next)
    if(NOT next IN_LIST reach)
      list(APPEND reach ${next})
      list(APPEND todo ${ROOM_DEPS_${next}})
    endif()
  endwhile()
  set(${out} ${reach} PARENT_SCOPE)
endfunction()

set(ROOM_LIBS)
foreach(room IN LISTS ROOMS)
  file(GLOB room_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${room}/*.cpp)
  list(REMOVE_ITEM room_sources ${CMAKE_SOURCE_DIR}/app/main.cpp ${TICK_COUNT_SOURCE})
  if(NOT room_sources)
    continue()
  endif()
  room_reach(${room} reach)
  set(view ${CMAKE_BINARY_DIR}/rooms/${room})
  file(MAKE_DIRECTORY ${view})
  set(view_dirs ${view})
  foreach(r IN LISTS reach)
    # Symbolic links where the host has them; else the whole tree is seen,
    # and scripts/check-rooms.py alone keeps the table.
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${r} ${view}/${r} SYMBOLIC RESULT link_failed)
    if(link_failed)
      set(view_dirs ${CMAKE_SOURCE_DIR})
    endif()
  endforeach()
  if("res" IN_LIST reach)
    list(APPEND view_dirs ${CMAKE_SOURCE_DIR}/res)
  endif()
  set(${room}_VIEW_DIRS ${view_dirs})
  add_library(room_${room} STATIC ${room_sources})
  target_include_directories(room_${room} PRIVATE ${view_dirs})
  foreach(dep IN LISTS ROOM_DEPS_${room})
    if(TARGET room_${dep})
      target_link_libraries(room_${room} PUBLIC room_${dep})
    endif()
  endforeach()
  target_link_libraries(room_${room} PUBLIC ${WIN_LIBS})
  project_warnings(room_${room})
  list(APPEND ROOM_LIBS room_${room})
endforeach()

# The diagnostics bundle deflates with zlib: linked statically into both
# MinGW builds (the MinGW sysroot's libz.a), found by FindZLIB elsewhere.
if(TARGET room_diagnostics)
  if(MINGW)
    set(ZLIB_USE_STATIC_LIBS ON)
  endif()
  find_package(ZLIB REQUIRED)
  target_link_libraries(room_diagnostics PUBLIC ZLIB::ZLIB)
endif()

# Every room, for the executables, the Windows tests and the benchmarks.
add_library(supervisor_core INTERFACE)
target_include_directories(supervisor_core INTERFACE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(supervisor_core INTERFACE ${ROOM_LIBS})

# The manifest names the build's processor: Windows refuses to start a 64-bit
# program whose manifest says x86. app.rc finds it on the include path.
configure_file(${CMAKE_SOURCE_DIR}/res/app.manifest.in ${CMAKE_BINARY_DIR}/generated/app.manifest @ONLY)
add_executable(QuorvelTollvane WIN32 ${CMAKE_SOURCE_DIR}/app/main.cpp ${TICK_COUNT_SOURCE} ${CMAKE_SOURCE_DIR}/res/app.rc)
# The entry is app/'s: it sees what app/ may reach.
target_include_directories(QuorvelTollvane PRIVATE ${app_VIEW_DIRS} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(QuorvelTollvane PRIVATE ${ROOM_LIBS})
target_link_options(QuorvelTollvane PRIVATE ${STATIC_RUNTIME} ${GUI_LINK})
project_warnings(QuorvelTollvane)
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/app.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/resource.h;${CMAKE_BINARY_DIR}/generated/app.manifest;${CMAKE_SOURCE_DIR}/res/mainframe.ico;${CMAKE_SOURCE_DIR}/res/agent_stopped.ico")

# The demo agent lands in out/bin, as it does in an installation.
file(GLOB AGENT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/agent/*.cpp)
# The agent finds the pipe by the same name rule the supervisor serves it under.
list(APPEND AGENT_SOURCES ${TICK_COUNT_SOURCE})
add_executable(Tollvane ${AGENT_SOURCES})
target_include_directories(Tollvane PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(Tollvane PRIVATE room_names ${WIN_LIBS})
target_link_options(Tollvane PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK} ${WIDE_MAIN})
set_target_properties(Tollvane PROPERTIES RUNTIME_OUTPUT_DIRECTORY "$<1:${OUT_DIR}/bin>")
project_warnings(Tollvane)

# The scriptable agent the tests install as bin\Tollvane.exe; never shipped.
add_executable(test_agent ${CMAKE_SOURCE_DIR}/tests/agent/main.cpp)
target_include_directories(test_agent PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(test_agent PRIVATE room_names ${WIN_LIBS})
target_link_options(test_agent PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK} ${WIDE_MAIN})
project_warnings(test_agent)

# The minimal agents of the agent authors' guide, built so the guide's code
# is known to work (tests/e2e runs them as the agent).
foreach(lang cpp c)
  add_executable(minimal_agent_${lang} ${CMAKE_SOURCE_DIR}/docs/examples/minimal_agent.${lang})
  target_link_options(minimal_agent_${lang} PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK})
  set_target_properties(minimal_agent_${lang} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "$<1:${OUT_DIR}/examples>")
  project_warnings(minimal_agent_${lang})
endforeach()
if(MINGW)
  target_link_options(minimal_agent_cpp PRIVATE ${WIDE_MAIN})
endif()

# GoogleTest for the Windows side, built from Debian's googletest sources.
if(NOT TARGET gtest)
  set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "googletest sources")
  if(EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
    add_library(gtest ALIAS GTest::gtest)
  endif()
endif()
include(GoogleTest)

# The prefix and loader of this build's architecture (scripts/wine-env.sh).
set(WINE_TEST_ENV "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;TOLLVANE_ARCH=${TOLLVANE_ARCH}")

# Extra arguments are support sources (tests/support) linked in beside the cases.
function(add_wine_tests target dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${target} ${srcs} ${ARGN})
  target_link_libraries(${target} PRIVATE supervisor_core gtest gtest_main)
  target_link_options(${target} PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK})
  project_warnings(${target})
  # One CTest entry per test case; the cases are found by reading the sources,
  # so nothing has to run under Wine at build time.
  gtest_add_tests(TARGET ${target} SOURCES ${srcs} TEST_LIST ${target}_cases)
  set_tests_properties(${${target}_cases} PROPERTIES TIMEOUT 180 ENVIRONMENT "${WINE_TEST_ENV}"
                       SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endfunction()

add_wine_tests(win_tests win)
add_wine_tests(e2e_tests e2e ${CMAKE_SOURCE_DIR}/tests/support/e2e_support.cpp)
if(TARGET e2e_tests)
  add_dependencies(e2e_tests QuorvelTollvane Tollvane test_agent minimal_agent_cpp minimal_agent_c)
endif()

# The tray menu test loads the real menu and strings from the supervisor.
if(TARGET win_tests)
  add_dependencies(win_tests QuorvelTollvane test_agent)
  set_tests_properties(TrayMenuTexts.ChineseTableGivesEveryItemItsChineseText PROPERTIES
    ENVIRONMENT "${WINE_TEST_ENV};LC_ALL=zh_CN.UTF-8")
endif()

# Not a test: holds a menu of a running supervisor open for
# scripts/screenshots.sh.
if(TARGET e2e_tests)
  add_executable(screenshot_helper ${CMAKE_SOURCE_DIR}/tests/e2e/shots/main.cpp
                 ${CMAKE_SOURCE_DIR}/tests/support/e2e_support.cpp)
  target_link_libraries(screenshot_helper PRIVATE supervisor_core)
  target_link_options(screenshot_helper PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK} ${WIDE_MAIN})
  project_warnings(screenshot_helper)
endif()

# The Chinese user-interface test starts the supervisor from the Unix side
# with the Chinese locale, then attaches to it.
if(TARGET e2e_tests)
  add_test(NAME ChineseUi.StartedWithTheChineseLocale
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/chinese_ui.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(ChineseUi.StartedWithTheChineseLocale PROPERTIES TIMEOUT 180
                       ENVIRONMENT "${WINE_TEST_ENV}" SKIP_RETURN_CODE 77)
endif()

# The installer, built with makensis from this build's output, installed,
# upgraded and removed in a throwaway prefix of its own.
if(TARGET e2e_tests)
  add_test(NAME Installer.SilentInstallUpgradeAndUninstall
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/installer.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(Installer.SilentInstallUpgradeAndUninstall PROPERTIES TIMEOUT 600
                       ENVIRONMENT "TOLLVANE_ARCH=${TOLLVANE_ARCH}")
endif()

# benchmarks: programs that print a table (run under Wine by `make bench`).
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/output_bench.cpp)
  add_executable(output_bench ${CMAKE_SOURCE_DIR}/bench/output_bench.cpp)
  target_link_libraries(output_bench PRIVATE supervisor_core)
  target_link_options(output_bench PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK} ${WIDE_MAIN})
  project_warnings(output_bench)
endif()

# benchmarks: the history window's index, first rows, search and key press.
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/history_bench.cpp)
  add_executable(history_bench ${CMAKE_SOURCE_DIR}/bench/history_bench.cpp)
  target_link_libraries(history_bench PRIVATE supervisor_core)
  target_link_options(history_bench PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK} ${WIDE_MAIN})
  project_warnings(history_bench)
endif()

# benchmarks: relaunch and Stop latency and a crash loop's CPU, written with
# the end-to-end tests' tools (a GoogleTest program that prints its figures).
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/agent_latency_bench.cpp AND TARGET gtest)
  add_executable(agent_latency_bench ${CMAKE_SOURCE_DIR}/bench/agent_latency_bench.cpp
                 ${CMAKE_SOURCE_DIR}/tests/support/e2e_support.cpp)
  target_link_libraries(agent_latency_bench PRIVATE supervisor_core gtest gtest_main)
  target_link_options(agent_latency_bench PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK})
  add_dependencies(agent_latency_bench QuorvelTollvane test_agent)
  project_warnings(agent_latency_bench)
endif()

# benchmarks: supervision figures; drives a real installation like the e2e tests.
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/supervisor_bench.cpp)
  add_executable(supervisor_bench ${CMAKE_SOURCE_DIR}/bench/supervisor_bench.cpp
                 ${CMAKE_SOURCE_DIR}/tests/support/e2e_support.cpp)
  target_link_libraries(supervisor_bench PRIVATE supervisor_core)
  target_link_options(supervisor_bench PRIVATE ${STATIC_RUNTIME} ${CONSOLE_LINK} ${WIDE_MAIN})
  add_dependencies(supervisor_bench QuorvelTollvane test_agent)
  project_warnings(supervisor_bench)
endif()
