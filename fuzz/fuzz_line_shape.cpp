/* parse_log_line for one line of any bytes and length: every field terminated inside its
 * array, nothing read outside the line, and fields of a UTF-8 line cut between characters. */
#include "plugin_logs/plugin_logs.h"

#include <stdlib.h>
#include <string.h>

static void check_field(const char *field, size_t size, int utf8)
{
	if (memchr(field, '\0', size) == NULL)
		abort();
	if (utf8 && utf8_valid_len(field, strlen(field)) != strlen(field))
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
	int utf8 = utf8_valid_len(line, size) == size;
	check_field(e.ts, sizeof(e.ts), utf8);
	check_field(e.unit, sizeof(e.unit), utf8);
	check_field(e.text, sizeof(e.text), utf8);
	if (e.sev != 0)
		abort();
	free(line);
	return 0;
}
