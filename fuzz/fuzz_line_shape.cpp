/* parse_log_line for one line of any bytes and length: every field terminated inside its
 * array, and nothing read outside the line. */
#include "plugin_logs/plugin_logs.h"

#include <stdlib.h>
#include <string.h>

static void check_field(const char *field, size_t size)
{
	if (memchr(field, '\0', size) == NULL)
		abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	/* An exact-size heap copy, unterminated, so reads past len are caught. */
	char *line = (char *)malloc(size > 0 ? size : 1);
	memcpy(line, data, size);
	LogEntry e;
	memset(&e, 'Z', sizeof(e));
	parse_log_line(&e, line, size);
	check_field(e.ts, sizeof(e.ts));
	check_field(e.unit, sizeof(e.unit));
	check_field(e.text, sizeof(e.text));
	if (e.sev != 0)
		abort();
	free(line);
	return 0;
}
