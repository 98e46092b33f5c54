# The viewer page as constant data: pl_viewer_page(NAME) adds the object library NAME built
# from the source that cmake/embed_page.cmake writes at build time out of the page's
# .html, .css and .js files. Used by the program's and the fuzzers' projects.
set(PL_EMBED_PAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_page.cmake)
get_filename_component(PL_VIEWER_DIR ${CMAKE_CURRENT_LIST_DIR}/../src/plugin_logs/viewer ABSOLUTE)

function(pl_viewer_page name)
  file(GLOB page_sources CONFIGURE_DEPENDS
    ${PL_VIEWER_DIR}/*.html ${PL_VIEWER_DIR}/*.css ${PL_VIEWER_DIR}/*.js)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/viewer_page.cpp)
  add_custom_command(OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -DPAGE_DIR=${PL_VIEWER_DIR} -DOUT=${generated} -P ${PL_EMBED_PAGE_SCRIPT}
    DEPENDS ${page_sources} ${PL_EMBED_PAGE_SCRIPT}
    COMMENT "Writing the viewer page's constant data"
    VERBATIM)
  add_library(${name} OBJECT ${generated})
  target_include_directories(${name} PRIVATE ${PL_VIEWER_DIR})
endfunction()
