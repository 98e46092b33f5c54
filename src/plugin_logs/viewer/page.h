/* The viewer page's constant text blocks, shared by the files of the viewer only. */
#ifndef PLUGIN_LOGS_VIEWER_PAGE_H
#define PLUGIN_LOGS_VIEWER_PAGE_H

/* Generated at build time from page.html, page.css and the scripts (cmake/embed_page.cmake):
 * the document up to the back link, the back link, and the rest of the document. */
extern const char page_open[];
extern const char page_back_link[];
extern const char page_rest[];

#endif
