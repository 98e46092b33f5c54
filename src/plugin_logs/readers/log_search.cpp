/* The whole-file search: the newest entries that hold a text, found scanning back from the end. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

struct BackSearch {
	FILE *f;
	int64_t size;
	const char *query;
	size_t query_len;
	int multiline;
	EntryCollector *hits;
	int64_t oldest_start; /* where the oldest entry kept begins */
	const TimeRange *range; /* hits kept, or null for all */
	int64_t floor;        /* the range's start: no entry begins before */
	int failed;
	char scratch[SHAPE_SCRATCH_SIZE];
	char utf8_line[3 * SCAN_LINE_MAX + 1];
	char back[ENTRY_BACK_SIZE];
};

static int field_has(const char *field, size_t len, const BackSearch *b)
{
	return ci_contains_bytes(field, len, b->query, b->query_len);
}

/* 1 when the entry of the line at offset, shaped as s, lies in the range: its own timestamp,
 * or that of the line its entry begins with. */
static int hit_in_range(BackSearch *b, const LineShape *s, int64_t offset)
{
	if (b->range == NULL)
		return 1;
	if (s->has_ts)
		return time_range_holds(b->range, time_range_key(b->range, s->ts, s->ts_len));
	int64_t start = entry_start(b->f, offset, b->floor, b->back, b->scratch);
	size_t n = (size_t)(b->size - start < 256 ? b->size - start : 256);
	if (start == offset || plat_seek(b->f, start) != 0 || fread(b->back, 1, n, b->f) != n)
		return 0; /* no timestamp it belongs to */
	const char *lf = (const char *)memchr(b->back, '\n', n);
	int64_t key = time_range_line_key(b->range, b->back, lf != NULL ? (size_t)(lf - b->back) : n, b->scratch);
	return key >= 0 && time_range_holds(b->range, key);
}

/* A line the scan found: its entry, once, as the reader would show it. Returns 0 to stop. */
static int take_hit(void *ctx, const char *line, size_t len, int64_t offset)
{
	BackSearch *b = (BackSearch *)ctx;
	/* A hit of one line is shown as read; a whole entry is read again from the file. */
	if (!b->multiline && utf8_valid_len(line, len) != len)
		line = plat_text_to_utf8(line, &len, b->utf8_line, sizeof(b->utf8_line));
	LineShape s;
	shape_log_line(&s, line, len, b->scratch);
	if (!hit_in_range(b, &s, offset))
		return 1;
	if (b->multiline) {
		/* Hits come newest first: an older hit of the entry kept last is in it already. */
		if (read_hit_entry(b->f, b->size, offset, s.has_ts, b->floor, &b->oldest_start, b->hits, b->back,
				   b->scratch) < 0) {
			b->failed = 1;
			return 0;
		}
		return b->hits->count < b->hits->capacity && !b->hits->arena_full;
	}
	/* The line holds the text; a field must, not a syslog host the fields leave out. */
	if (!field_has(s.text, s.text_len, b) && !field_has(s.unit, s.unit_len, b) && !field_has(s.ts, s.ts_len, b))
		return 1;
	collector_add(b->hits, s.ts, s.ts_len, s.unit, s.unit_len, s.text, s.text_len, ENTRY_LINE_TEXT_MAX, s.sev,
		      EVENT_ID_NONE);
	return b->hits->count < b->hits->capacity && !b->hits->arena_full;
}

int search_log_file(const char *path, const char *query, int multiline, int64_t before, EntryCollector *hits,
		    FileSearch *out)
{
	return search_log_file_range(path, query, multiline, before, NULL, hits, out);
}

int search_log_file_range(const char *path, const char *query, int multiline, int64_t before,
			  const TimeRange *range, EntryCollector *hits, FileSearch *out)
{
	memset(out, 0, sizeof(*out));
	PlatFileInfo info;
	if (!plat_file_info(path, &info) || info.is_dir)
		return SEARCH_UNREADABLE;
	if (before > info.size)
		return SEARCH_BAD_BEFORE;
	FILE *f = plat_log_open(path);
	if (f == NULL)
		return SEARCH_UNREADABLE;
	static_assert(sizeof(BackSearch) < 128 * 1024, "the search's own buffers stay small");
	BackSearch b;
	b.f = f;
	b.size = info.size;
	b.query = query;
	b.query_len = strlen(query);
	b.multiline = multiline;
	b.hits = hits;
	b.oldest_start = -1;
	b.failed = 0;
	b.range = NULL;
	b.floor = 0;
	int64_t from = before < 0 ? info.size : before;
	TimeRange r_file;
	if (time_range_active(range)) {
		/* The scan runs from the range's end, or before when that is earlier, back to the
		 * range's start, where it reports the start reached. */
		r_file = *range;
		time_range_set_file_time(&r_file, info.mtime);
		int64_t lo, hi;
		if (!log_range_bounds(f, info.size, &r_file, &lo, &hi)) {
			fclose(f);
			return SEARCH_UNREADABLE;
		}
		b.range = &r_file;
		b.floor = lo;
		from = from < hi ? from : hi;
		if (from < lo)
			from = lo;
	}
	ScanResult r;
	int rc = scan_back(f, b.floor, from, query, b.query_len, SCAN_BUDGET, take_hit, &b, &r);
	fclose(f);
	if (rc != 0 || b.failed)
		return SEARCH_UNREADABLE;
	out->size = info.size;
	out->searched_bytes = r.searched_bytes;
	out->lines = r.lines;
	out->next_before = r.next_before;
	/* The next page must not find this page's oldest entry again through its earlier lines. */
	if (multiline && b.oldest_start >= 0 && out->next_before > b.oldest_start)
		out->next_before = b.oldest_start;
	return 0;
}
