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

# orvan_core_library(name SOURCES...): a Qt-free layer library. Qt's include folders are never
# on its path, so a Qt include in core code fails to compile.
function(orvan_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_compile_definitions(${name} PRIVATE ORVAN_CORE_LAYER=1)
endfunction()
