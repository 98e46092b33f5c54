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

int32_t tail_log_file(const char *path, EntryCollector *ring)
{
	int64_t start, size;
	FILE *f = open_log_window(path, &start, &size);
	if (f == NULL)
		return -1;
	/* Every line gives at least one entry, so the lines after the (capacity+1)-th line feed
	 * from the end are enough; a line feed is always where a chunk ends. */
	int64_t from = after_nth_line_feed_from_end(f, start, size, ring->capacity + 1);
	if (from > start && start > 0) {
		/* In a cut window the forward reader drops chunks until one ends in a line feed;
		 * our lines must lie past that point for both to agree. */
		int64_t first_end = plat_seek(f, start) == 0 ? read_chunk_at_resync_end(f, start, from) : -1;
		if (first_end < 0 || first_end > from)
			from = -1;
	}
	int cut = 0;
	if (from <= start) {
		from = start;
		cut = start > 0;
	}
	if (plat_seek(f, from) != 0) {
		fclose(f);
		return -1;
	}
	int32_t handled = read_log_lines(f, from, size, cut, NULL, ring, NULL, 0);
	fclose(f);
	return handled;
}
