/* The log file reader: the last 4 MiB of a file, line by line, into the collectors. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

/* The longest chunk, and room for it as UTF-8 when each of its bytes turns into three. */
enum { LINE_PIECE_MAX = 2047, LINE_UTF8_SIZE = 3 * LINE_PIECE_MAX + 1 };

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
	LineReader reader;
	line_reader_init(&reader, f);
	const char *piece;
	int64_t pos = from;
	size_t got;
	size_t len;
	while (pos <= limit && (got = line_reader_next(&reader, &piece, &len, LINE_PIECE_MAX)) != 0) {
		pos += (int64_t)got;
		if (len == 0 || piece[len - 1] == '\n')
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
	size_t query_len = query != NULL ? strlen(query) : 0;
	LineReader reader;
	char utf8_line[LINE_UTF8_SIZE];
	LogEntry entry;
	int32_t handled = 0;
	size_t carried = 0;
	line_reader_init(&reader, f);
	while (budget > 0) {
		const char *line;
		/* Bytes after a NUL inside a chunk are not part of the line. */
		size_t len;
		size_t got = line_reader_next(&reader, &line, &len, LINE_PIECE_MAX);
		if (got == 0)
			break;
		/* Bytes given back count once, when first read. */
		budget -= (int64_t)(got - carried);
		/* A chunk the buffer cut, not a line feed, ends on a whole character: the bytes of
		 * one it splits begin the next chunk, so neither piece shows half a character. */
		size_t keep = len;
		if (len == LINE_PIECE_MAX && line[len - 1] != '\n')
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
		/* Most lines are UTF-8 already, and the platform's conversion checks it again. */
		if (utf8_valid_len(piece, piece_len) != piece_len)
			piece = plat_text_to_utf8(piece, &piece_len, utf8_line, sizeof(utf8_line));
		handled++;
		if (carried != 0)
			line_reader_unread(&reader, carried);
		/* Every field is a piece of the line: a line without the query holds no hit and
		 * needs no parsing. */
		if (query_len != 0 && !ci_contains_bytes(piece, piece_len, query, query_len))
			continue;
		/* Built in the slot that keeps it when one collector takes it: only its fields are
		 * written then, not a whole record copied. A full hit list would drop it. */
		LogEntry *e = &entry;
		if (ring != NULL && hits == NULL)
			e = ring_next_slot(ring);
		else if (hits != NULL && ring == NULL && (e = hits_next_slot(hits, hit_capacity)) == NULL)
			continue;
		parse_log_line(e, piece, piece_len);
		if (query_len != 0 && !passes(e, query))
			continue;
		/* Classified when printed: the severity never decides what is kept. */
		e->sev = SEV_UNCLASSIFIED;
		if (e != &entry) {
			if (ring != NULL)
				ring_keep_next(ring);
			else
				hits_keep_next(hits);
			continue;
		}
		if (ring != NULL)
			ring_push(ring, e);
		if (hits != NULL)
			hits_push(hits, e, hit_capacity);
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
