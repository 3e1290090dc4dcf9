# Every target links tintavo_warnings PRIVATE, so the same strict set applies everywhere
# and third-party headers (included as SYSTEM) stay quiet.
add_library(tintavo_warnings INTERFACE)
target_compile_options(tintavo_warnings INTERFACE
  -Wall
  -Wextra
  -Wpedantic
  -Wshadow            # a local hiding a member is a classic source of silent bugs
  -Wnon-virtual-dtor  # deleting through a base pointer must run the right destructor
  -Wcast-align
  -Woverloaded-virtual
  -Wnull-dereference
  -Wimplicit-fallthrough
  $<$<BOOL:${TINTAVO_WARNINGS_AS_ERRORS}>:-Werror>)
