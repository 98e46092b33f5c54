/* The viewer page writer (placeholder until the page lands). */
#include "plugin_logs/plugin_logs.h"

int mode_html(int embedded)
{
	(void)embedded;
	out_printf("Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n");
	return 0;
}
