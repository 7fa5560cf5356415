# Warnings for every target of ours; errors in CI (ORVAN_WERROR).
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                    -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
if(ORVAN_WERROR)
  add_compile_options(-Werror)
endif()
if(ORVAN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# orvan_core_library(name SOURCES...): a Qt-free layer library for the folder src/<name without
# "orvan_">. Qt's include folders are never on its path, so a Qt include in core code fails to
# compile. Nor is src/ itself: each library publishes only its own folder (through a link in the
# build tree), and sees the folders of the libraries it links. An include of a higher layer's
# header ("mirror/..." from src/adb) finds no file.
function(orvan_core_library name)
  add_library(${name} STATIC ${ARGN})
  string(REGEX REPLACE "^orvan_" "" folder "${name}")
  set(published "${CMAKE_BINARY_DIR}/layers/${name}")
  file(MAKE_DIRECTORY "${published}")
  if(NOT EXISTS "${published}/${folder}")
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/src/${folder}" "${published}/${folder}" SYMBOLIC)
  endif()
  target_include_directories(${name} PUBLIC "${published}")
  target_compile_definitions(${name} PRIVATE ORVAN_CORE_LAYER=1)
endfunction()
