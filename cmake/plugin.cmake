# The plug-in's sources and compile options, shared by the PE and ELF builds.
# The order is the order of the module's code. The loader writes into the
# game calls to the hook stubs (patches/hooks.S), so the stubs' place in the
# module is part of what the plug-in does to the game: the code linked ahead
# of them (the free camera and the replay-interface check) stays in this
# order, and whatever moves between folders goes after them.
set(ZEPHAL_PLUGIN_SOURCES)
foreach(src
    freecam/bind.cpp freecam/controller.cpp freecam/motion.cpp freecam/orient.cpp
    plugin/arm.cpp
    patches/hooks.S patches/patch_list.cpp
    platform/crt.cpp platform/dll_entry.cpp
    plugin/camera.cpp plugin/entry.cpp plugin/frame.cpp
    base/game_memory.cpp base/log.cpp base/settings.cpp
    presets/preset_file.cpp presets/presets.cpp
    rewind/keys.cpp rewind/ring.cpp plugin/capture.cpp rewind/seek.cpp rewind/stream.cpp
    z9sdk/apply.cpp)
  list(APPEND ZEPHAL_PLUGIN_SOURCES ${PROJECT_SOURCE_DIR}/${src})
endforeach()
# A source file added to a plug-in folder but not to the list above would be
# left out of the module without a word: say so at configure time.
file(GLOB zephal_plugin_found CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/platform/*.cpp ${PROJECT_SOURCE_DIR}/base/*.cpp
  ${PROJECT_SOURCE_DIR}/plugin/*.cpp ${PROJECT_SOURCE_DIR}/z9sdk/*.cpp
  ${PROJECT_SOURCE_DIR}/patches/*.cpp ${PROJECT_SOURCE_DIR}/patches/*.S
  ${PROJECT_SOURCE_DIR}/freecam/*.cpp ${PROJECT_SOURCE_DIR}/rewind/*.cpp
  ${PROJECT_SOURCE_DIR}/presets/*.cpp)
foreach(src IN LISTS zephal_plugin_found)
  if(NOT src IN_LIST ZEPHAL_PLUGIN_SOURCES)
    message(FATAL_ERROR "${src} is not in the plug-in's source list (cmake/plugin.cmake): add it after patches/hooks.S")
  endif()
endforeach()

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
