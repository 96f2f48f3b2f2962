# libFuzzer targets (fuzz/fuzz_*.cpp), one per parser. Configure a separate
# build folder with CC=clang CXX=clang++ -DORVALIS_FUZZ=ON; the layer
# libraries then carry the fuzzer's coverage instrumentation and the sanitizers.
option(ORVALIS_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(ORVALIS_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ORVALIS_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)

  function(orvalis_fuzz_targets)
    file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
    add_custom_target(fuzzers)
    foreach(src ${fuzz_sources})
      get_filename_component(name ${src} NAME_WE)
      add_executable(${name} EXCLUDE_FROM_ALL ${src})
      # Every target links the same layers; the linker drops what it does not use.
      # The text layer's configuration store derives from a services class.
      target_link_libraries(${name} PRIVATE orvalis_pages orvalis_text orvalis_services)
      target_link_options(${name} PRIVATE -fsanitize=fuzzer)
      orvalis_include_root(${name} orvalis_pages)
      set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
      add_dependencies(fuzzers ${name})
    endforeach()
  endfunction()
  # The layers are defined further down; the targets follow once they exist.
  cmake_language(DEFER CALL orvalis_fuzz_targets)
endif()
