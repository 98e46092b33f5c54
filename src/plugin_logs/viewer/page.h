/* The viewer page's constant text blocks, shared by the files of the viewer only. */
#ifndef PLUGIN_LOGS_VIEWER_PAGE_H
#define PLUGIN_LOGS_VIEWER_PAGE_H

/* page_style.cpp: the whole style sheet, without the style tags. */
extern const char page_style[];

/* page_script.cpp: the client script, without the script tags; lines joined by line feeds. */
extern const char page_script[];

#endif
