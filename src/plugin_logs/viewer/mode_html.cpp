/* The viewer page writer: constant blocks, the back link the only choice. */
#include <string.h>

#include "plugin_logs/plugin_logs.h"
#include "page.h"

static const char page_header[] =
	"Content-Type: text/html; charset=utf-8\r\n"
	"Cache-Control: no-store\r\n"
	"X-Content-Type-Options: nosniff\r\n"
	"\r\n";

static void put(const char *text)
{
	out_write(text, strlen(text));
}

int mode_html(int embedded)
{
	put(page_header);
	put(page_open);
	if (!embedded)
		put(page_back_link);
	put(page_rest);
	return 0;
}
