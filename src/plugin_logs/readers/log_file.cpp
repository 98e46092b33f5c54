/* The log file reader: the last 4 MiB of a file, line by line, into the collectors. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

/* A chunk, and room for it as UTF-8 when each of its bytes turns into three. */
enum { LINE_BUF_SIZE = 2048, LINE_UTF8_SIZE = 3 * (LINE_BUF_SIZE - 1) + 1 };

static const int64_t TAIL_WINDOW = 4194304;

/* A file that grows while it is read is followed this far past its window, so that a writer
 * faster than the reader cannot keep a request running forever. */
static const int64_t GROWTH_ALLOWANCE = 4194304;

static int passes(const LogEntry *e, const char *query)
{
	return ci_contains(e->text, query) || ci_contains(e->unit, query) || ci_contains(e->ts, query);
}

FILE *open_log_window(const char *path, int64_t *start, int64_t *size)
{
	PlatFileInfo info;
	if (!plat_file_info(path, &info) || info.is_dir)
		return NULL;
	FILE *f = plat_log_open(path);
	if (f == NULL)
		return NULL;
	/* 64-bit throughout: the window is the last 4 MiB whatever the file's size. */
	*size = info.size;
	*start = info.size > TAIL_WINDOW ? info.size - TAIL_WINDOW : 0;
	if (*start > 0 && plat_seek(f, *start) != 0) {
		fclose(f);
		return NULL;
	}
	return f;
}

int64_t read_chunk_at_resync_end(FILE *f, int64_t from, int64_t limit)
{
	char line[LINE_BUF_SIZE];
	int64_t pos = from;
	size_t got;
	while (pos <= limit && (got = plat_read_line(f, line, sizeof(line))) != 0) {
		pos += (int64_t)got;
		size_t len = strlen(line);
		if (len == 0 || line[len - 1] == '\n')
			return pos;
	}
	return -1;
}

/* Leading continuation bytes of a chunk that starts where the window cut a character, when
 * dropping them leaves valid UTF-8; 0 otherwise (text in another encoding keeps them). */
static size_t cut_character_rest(const char *line, size_t len)
{
	size_t n = 0;
	while (n < 3 && n < len && ((unsigned char)line[n] & 0xC0) == 0x80)
		n++;
	return n > 0 && utf8_valid_len(line + n, len - n) == len - n ? n : 0;
}

int32_t read_log_lines(FILE *f, int64_t from, int64_t size, int cut, const char *query,
		       EntryCollector *ring, EntryCollector *hits, int32_t hit_capacity)
{
	int64_t budget = (size - from) + GROWTH_ALLOWANCE;
	int filter = query != NULL && query[0] != '\0';
	char line[LINE_BUF_SIZE];
	char utf8_line[LINE_UTF8_SIZE];
	LogEntry entry;
	int32_t handled = 0;
	size_t carried = 0;
	while (budget > 0) {
		size_t got = plat_read_line(f, line + carried, sizeof(line) - carried);
		/* At the end, bytes carried over are the last piece of the file. */
		if (got == 0 && carried == 0)
			break;
		budget -= (int64_t)got;
		/* Bytes after a NUL inside a chunk are not part of the line. */
		size_t len = carried + strlen(line + carried);
		/* A chunk the buffer cut, not a line feed, ends on a whole character: the bytes of
		 * one it splits begin the next chunk, so neither piece shows half a character. */
		size_t keep = len;
		if (got != 0 && len == sizeof(line) - 1 && line[len - 1] != '\n')
			keep = utf8_whole_len(line, len);
		carried = len - keep;
		/* The window began inside a line: drop chunks up to its first line end. */
		if (cut && handled == 0 && len != 0 && line[len - 1] != '\n') {
			carried = 0;
			continue;
		}
		if (hits != NULL && handled >= SEARCH_SCAN_MAX)
			break;
		const char *piece = line;
		size_t piece_len = keep;
		if (cut && handled == 0) {
			size_t rest = cut_character_rest(line, keep);
			piece += rest;
			piece_len -= rest;
		}
		piece = plat_text_to_utf8(piece, &piece_len, utf8_line, sizeof(utf8_line));
		parse_log_line(&entry, piece, piece_len);
		if (carried != 0)
			memmove(line, line + keep, carried);
		/* Classified when printed: the severity never decides what is kept. */
		entry.sev = SEV_UNCLASSIFIED;
		handled++;
		if (filter && !passes(&entry, query))
			continue;
		if (ring != NULL)
			ring_push(ring, &entry);
		if (hits != NULL)
			hits_push(hits, &entry, hit_capacity);
	}
	return handled;
}

int32_t read_log_file(const char *path, const char *query, EntryCollector *ring,
		      EntryCollector *hits, int32_t hit_capacity)
{
	int64_t start, size;
	FILE *f = open_log_window(path, &start, &size);
	if (f == NULL)
		return -1;
	int32_t handled = read_log_lines(f, start, size, start > 0, query, ring, hits, hit_capacity);
	fclose(f);
	return handled;
}
