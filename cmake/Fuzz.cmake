# Fuzz targets: every tests/fuzz/*Fuzz.cpp defines LLVMFuzzerTestOneInput and becomes fuzz_<Name>.
# -DKAVRO_FUZZ=ON (clang): each target is a libFuzzer binary with AddressSanitizer and UBSan, for
# campaigns run by scripts/fuzz.sh. In the sanitizer test build (gcc) each target is linked with
# the replay driver instead and registered as a test that replays its seeds and bounded mutations.
option(KAVRO_FUZZ "Build the libFuzzer targets (clang)" OFF)

file(GLOB KAVRO_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*Fuzz.cpp)
set(KAVRO_FUZZ_SEEDS ${CMAKE_SOURCE_DIR}/tests/fuzz/seeds)

if(KAVRO_FUZZ)
  set(KAVRO_FUZZ_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  # The libraries are instrumented for coverage; only the targets link libFuzzer's main(). Whatever
  # links them (the caster, the tools) links the sanitizers' run-time too.
  foreach(lib kavro kavro_tools)
    target_compile_options(${lib} PRIVATE ${KAVRO_FUZZ_FLAGS} -fsanitize=fuzzer-no-link)
    target_link_options(${lib} INTERFACE ${KAVRO_FUZZ_FLAGS})
  endforeach()
  foreach(src ${KAVRO_FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    string(REGEX REPLACE "Fuzz$" "" name ${name})
    add_executable(fuzz_${name} ${src})
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_options(fuzz_${name} PRIVATE ${KAVRO_FUZZ_FLAGS} -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE ${KAVRO_FUZZ_FLAGS} -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE kavro)
  endforeach()
elseif(KAVRO_TESTS AND KAVRO_SANITIZE)
  add_library(kavro_fuzz_replay STATIC ${CMAKE_SOURCE_DIR}/tests/fuzz/ReplayMain.cpp)
  foreach(src ${KAVRO_FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    string(REGEX REPLACE "Fuzz$" "" name ${name})
    add_executable(fuzz_${name} ${src})
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(fuzz_${name} PRIVATE kavro_fuzz_replay kavro)
    add_test(NAME Fuzz${name} COMMAND fuzz_${name} ${KAVRO_FUZZ_SEEDS}/${name})
    set_tests_properties(Fuzz${name} PROPERTIES TIMEOUT 60)
  endforeach()
endif()
