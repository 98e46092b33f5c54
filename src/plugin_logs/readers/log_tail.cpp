/* The tail reader: finds the newest lines by reading backwards from the end of the log, then
 * reads only those lines forwards, so a tail costs the same for any size of log. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

enum { BACK_BLOCK_SIZE = 16384 };

/* The number of line feeds in s[0..n). */
static size_t count_line_feeds(const char *s, size_t n)
{
	size_t count = 0;
	for (const char *p = s, *end = s + n; (p = (const char *)memchr(p, '\n', (size_t)(end - p))) != NULL; p++)
		count++;
	return count;
}

/* Offset just after the wanted-th line feed counted back from the end, not before start;
 * -1 when the window holds fewer, or on a read error. */
static int64_t after_nth_line_feed_from_end(FILE *f, int64_t start, int64_t size, int32_t wanted)
{
	char block[BACK_BLOCK_SIZE];
	int64_t pos = size;
	size_t left = (size_t)wanted;
	while (pos > start) {
		size_t n = pos - start < BACK_BLOCK_SIZE ? (size_t)(pos - start) : (size_t)BACK_BLOCK_SIZE;
		pos -= (int64_t)n;
		if (plat_seek(f, pos) != 0 || fread(block, 1, n, f) != n)
			return -1;
		/* Blocks are searched forwards, as memchr goes: count them whole until the one that
		 * holds the line feed wanted, then skip the line feeds before it in that one. */
		size_t in_block = count_line_feeds(block, n);
		if (in_block < left) {
			left -= in_block;
			continue;
		}
		const char *p = block;
		for (size_t skip = in_block - left;; skip--, p++) {
			p = (const char *)memchr(p, '\n', (size_t)(block + n - p));
			if (skip == 0)
				return pos + (int64_t)(p - block) + 1;
		}
	}
	return -1;
}

/* Reads the lines after the wanted-th line feed from the end of the window into ring, as
 * read_log_file would read them. Returns the lines handled, or -1; *whole is set when that took
 * the window from its start, and read receives the forward read. */
static int32_t read_last_lines(FILE *f, const LogSpan *window, int32_t wanted, int multiline, EntryCollector *ring,
			       LogSpan *read, int *whole)
{
	int64_t start = window->from;
	int64_t end = window->stop >= 0 ? window->stop : window->size;
	int64_t from = after_nth_line_feed_from_end(f, start, end, wanted);
	if (from > start && window->cut) {
		/* In a cut window the forward reader drops chunks until one ends in a line feed;
		 * our lines must lie past that point for both to agree. */
		int64_t first_end = plat_seek(f, start) == 0 ? read_chunk_at_resync_end(f, start, from) : -1;
		if (first_end < 0 || first_end > from)
			from = -1;
	}
	*read = *window;
	*whole = from <= start;
	if (from > start) {
		/* Past the window's start, as past a file's: what comes before is unknown. */
		read->from = from;
		read->cut = 0;
		read->joins = 1;
	}
	if (plat_seek(f, read->from) != 0)
		return -1;
	collector_reset(ring);
	return read_log_span(f, read, multiline, ring);
}

int32_t tail_log_span(FILE *f, LogSpan *window, int whole_lines, int multiline, EntryCollector *ring,
		      int64_t *read_from)
{
	if (whole_lines) {
		/* A line still being written is left for a later read. */
		int64_t end = after_nth_line_feed_from_end(f, window->from, window->size, 1);
		window->stop = end >= 0 ? end : window->from;
	}
	/* Every line gives at least one entry, so the lines after the (capacity+1)-th line feed
	 * from the end are enough; a line feed is always where a chunk ends. Joined lines give
	 * fewer: then more lines are read, until the ring holds only entries that a stamped line
	 * began or that follow one (those before depend on where reading began), or until the
	 * window is read whole, as the forward reader reads it. */
	int64_t wanted = (int64_t)ring->capacity + 1;
	int32_t handled;
	int whole;
	LogSpan read;
	for (;;) {
		handled = read_last_lines(f, window, (int32_t)wanted, multiline, ring, &read, &whole);
		if (handled < 0 || whole)
			break;
		int short_of_stamped = multiline && !(ring->stamped_from >= 0 &&
						      ring->taken - ring->stamped_from >= ring->capacity);
		/* Lines outside a range give no entry: read further back for them too. */
		int short_of_range = window->range != NULL && ring->count < ring->capacity;
		if (!short_of_stamped && !short_of_range)
			break;
		wanted = wanted * 4 > INT32_MAX ? INT32_MAX : wanted * 4;
	}
	*read_from = read.from;
	window->line_end = read.line_end;
	window->last_start = read.last_start;
	window->last_joins = read.last_joins;
	return handled;
}

int32_t tail_log_file(const char *path, int multiline, EntryCollector *ring)
{
	int64_t start, size;
	FILE *f = open_log_window(path, &start, &size);
	if (f == NULL)
		return -1;
	LogSpan window = {start, size, -1, start > 0, start > 0, -1, -1, 0, NULL, 0};
	int64_t read_from;
	int32_t handled = tail_log_span(f, &window, 0, multiline, ring, &read_from);
	fclose(f);
	return handled;
}

int32_t tail_log_range(const char *path, int multiline, const TimeRange *range, EntryCollector *ring)
{
	TimeRange r = *range;
	RangeSpan span;
	FILE *f = open_log_range(path, &r, &span);
	if (f == NULL)
		return -1;
	/* The range's end is read back from as the file's end is; its start is a line start. */
	LogSpan window = {span.start, span.size, span.hi, span.start > span.lo, span.start > 0, -1, -1, 0, &r, span.lo};
	int64_t read_from;
	int32_t handled = tail_log_span(f, &window, 0, multiline, ring, &read_from);
	fclose(f);
	return handled;
}
