/* shape_log_line and parse_log_line for one line of any bytes and length: every field inside
 * the line or the scratch, the time at most SHAPE_TS_MAX bytes, the severity in range, decoded
 * values always valid UTF-8 and fields of a UTF-8 line too; a found time reads back. */
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

/* A field lies in the line, or in the scratch, where it is always valid UTF-8. */
static void check_span(const char *p, size_t n, const char *line, size_t len, const char *scratch, int utf8)
{
	if (p >= line && p + n <= line + len) {
		if (utf8 && utf8_valid_len(p, n) != n)
			abort();
		return;
	}
	if (p < scratch || p + n > scratch + SHAPE_SCRATCH_SIZE)
		abort();
	if (utf8_valid_len(p, n) != n)
		abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	/* An exact-size heap copy, unterminated, so reads past len are caught. */
	char *line = (char *)malloc(size > 0 ? size : 1);
	memcpy(line, data, size);
	int utf8 = utf8_valid_len(line, size) == size;

	char *scratch = (char *)malloc(SHAPE_SCRATCH_SIZE);
	LineShape s;
	shape_log_line(&s, line, size, scratch);
	check_span(s.ts, s.ts_len, line, size, scratch, utf8);
	check_span(s.unit, s.unit_len, line, size, scratch, utf8);
	check_span(s.text, s.text_len, line, size, scratch, utf8);
	if (s.ts_len > SHAPE_TS_MAX || (s.ts_len != 0 && !s.has_ts))
		abort();
	if (s.sev != SEV_UNCLASSIFIED && s.sev != SEV_INFO && s.sev != SEV_WARN && s.sev != SEV_ERR)
		abort();
	TsFields f;
	if (ts_fields(s.ts, s.ts_len, &f) &&
	    (f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 || f.hour > 23 || f.minute > 59 || f.second > 60))
		abort();
	free(scratch);

	LogEntry e;
	memset(&e, 'Z', sizeof(e));
	parse_log_line(&e, line, size);
	check_field(e.ts, sizeof(e.ts), utf8);
	check_field(e.unit, sizeof(e.unit), utf8);
	check_field(e.text, sizeof(e.text), utf8);
	if (e.sev != s.sev)
		abort();
	free(line);
	return 0;
}
