# The plug-in's sources and compile options, shared by the PE and ELF builds.
file(GLOB ZEPHAL_PLUGIN_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/platform/*.cpp
  ${PROJECT_SOURCE_DIR}/base/*.cpp
  ${PROJECT_SOURCE_DIR}/plugin/*.cpp
  ${PROJECT_SOURCE_DIR}/z9sdk/*.cpp
  ${PROJECT_SOURCE_DIR}/patches/*.cpp
  ${PROJECT_SOURCE_DIR}/patches/*.S
  ${PROJECT_SOURCE_DIR}/freecam/*.cpp
  ${PROJECT_SOURCE_DIR}/rewind/*.cpp
  ${PROJECT_SOURCE_DIR}/presets/*.cpp)

# Freestanding in style: no exceptions, RTTI, unwind tables, guarded statics
# or stack protector (each would pull in runtime support the module must not
# import). The game calls with only 4-byte stack alignment. Floating point is
# SSE2 with no contraction, so that both builds round every operation the same
# way and give bit-identical camera poses for the same inputs.
set(ZEPHAL_PLUGIN_CXX_OPTIONS
  -O2 -Wall -Wextra
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-threadsafe-statics -fno-stack-protector
  -fvisibility=hidden -fvisibility-inlines-hidden
  -msse2 -mfpmath=sse -ffp-contract=off
  -mincoming-stack-boundary=2)

function(zephal_plugin_target target)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${ZEPHAL_PLUGIN_CXX_OPTIONS}>)
  # Paths in the debug information relative to the source tree, so that a
  # build in another folder gives the same bytes.
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
  target_compile_features(${target} PRIVATE cxx_std_20)
endfunction()
