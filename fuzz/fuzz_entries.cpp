/* read_log_lines over any bytes, one entry a line or lines joined into entries, as a tail ring
 * or a search hit list: every kept entry within its bounds, valid UTF-8, its lines counted. */
#include "plugin_logs/plugin_logs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static size_t count_line_feeds(const char *s, size_t n)
{
	size_t k = 0;
	for (size_t i = 0; i < n; i++)
		k += s[i] == '\n';
	return k;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 2)
		return 0;
	int multiline = data[0] & 1;
	int is_ring = (data[0] & 2) != 0;
	int32_t capacity = 1 + (data[0] >> 2) % 7;
	const char *query = (data[1] & 1) ? "at" : (data[1] & 2) ? "Err" : NULL;
	const char *content = (const char *)data + 2;
	size_t len = size - 2;
	if (len == 0)
		return 0;
	FILE *f = fmemopen((void *)content, len, "rb");
	if (f == NULL)
		return 0;
	EntryCollector col;
	if (!collector_init(&col, capacity, is_ring)) {
		fclose(f);
		return 0;
	}
	int32_t handled = read_log_lines(f, 0, (int64_t)len, 0, is_ring ? NULL : query, multiline, &col);
	fclose(f);
	if (handled < 0 || col.count < 0 || col.count > capacity)
		abort();
	size_t text_max = multiline ? ENTRY_TEXT_MAX : ENTRY_LINE_TEXT_MAX;
	for (int32_t k = 0; k < col.count; k++) {
		const StoredEntry *e = collector_at(&col, k);
		const char *text = stored_text(&col, e);
		if (e->ts_len > ENTRY_TS_MAX || e->unit_len > ENTRY_UNIT_MAX || e->text_len > text_max)
			abort();
		if (e->lines < 1 || e->lines > ENTRY_LINES_MAX || (!multiline && e->lines != 1))
			abort();
		/* Each joined line adds one line feed; a line's own bytes never hold one. */
		if (count_line_feeds(text, e->text_len) != (size_t)e->lines - 1)
			abort();
		if (utf8_valid_len(stored_ts(&col, e), e->ts_len) != e->ts_len ||
		    utf8_valid_len(stored_unit(&col, e), e->unit_len) != e->unit_len ||
		    utf8_valid_len(text, e->text_len) != e->text_len)
			abort();
		if (e->sev != SEV_UNCLASSIFIED && (e->sev < SEV_INFO || e->sev > SEV_ERR))
			abort();
	}
	collector_free(&col);
	return 0;
}
