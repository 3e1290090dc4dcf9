# Address and undefined-behaviour sanitizers for the whole tree (tests included), so a
# read past a pixel buffer or a signed overflow stops the run with a report.
if(TINTAVO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
