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

static int has(const char *field, size_t len, const char *query, size_t query_len)
{
	return ci_contains_bytes(field, len, query, query_len);
}

/* A line with the query in one of its fields: a line that holds it elsewhere (a syslog host)
 * does not pass. */
static int shape_passes(const LineShape *s, const char *query, size_t query_len)
{
	return has(s->text, s->text_len, query, query_len) || has(s->unit, s->unit_len, query, query_len) ||
	       has(s->ts, s->ts_len, query, query_len);
}

/* What the entry being built may still take. */
enum {
	LINEAGE_LINE,     /* an entry of one line: only the rest of that line */
	LINEAGE_STAMPED,  /* begun by a stamped line (or the rest of one past the bounds): the
			   * lines without a timestamp that follow */
	LINEAGE_FRAGMENT  /* the lines before the first stamp of what is read: the rest of an entry
			   * that began earlier */
};

/* How lines become entries: each its own, or with multiline the lines without a timestamp
 * joined to a stamped entry before them. */
struct EntryBuilder {
	EntryCollector *col;
	const char *query;
	size_t query_len;
	int multiline;
	int current;   /* an entry is being built (kept or not) */
	int kept;      /* ... and the collector took it */
	int lineage;
	int matched;   /* with a query: the entry holds it, so it stays */
	int line_open; /* the last piece did not end its line */
	int started;   /* a line was read */
	int mid_file;  /* lines without a timestamp where reading began continue an entry before it */
	int64_t piece_at;   /* where the piece being handled begins, or -1 inside a line */
	int64_t last_start; /* where the entry kept last began, or -1 inside a line */
	int last_joins;     /* ... and whether lines without a timestamp after it join it */
	char scratch[SHAPE_SCRATCH_SIZE];
};

static void builder_init(EntryBuilder *b, EntryCollector *col, const char *query, int multiline, int mid_file)
{
	b->mid_file = mid_file;
	b->piece_at = -1;
	b->last_start = -1;
	b->last_joins = 0;
	b->col = col;
	b->query = query != NULL ? query : "";
	b->query_len = strlen(b->query);
	b->multiline = multiline;
	b->current = 0;
	b->kept = 0;
	b->lineage = LINEAGE_LINE;
	b->matched = 0;
	b->line_open = 0;
	b->started = 0;
	col->stamped_from = -1;
}

/* Ends the entry being built: one that does not hold the query is taken back. */
static void builder_close(EntryBuilder *b)
{
	if (b->kept && b->query_len != 0 && !b->matched)
		collector_drop_last(b->col);
	b->current = 0;
	b->kept = 0;
}

/* Starts an entry with the line shaped as s; line_has says whether the whole line holds the
 * query (its fields can hold it only then). */
static void builder_start(EntryBuilder *b, const LineShape *s, int lineage, int line_has)
{
	builder_close(b);
	/* Classified when printed: the severity never decides what is kept. */
	b->kept = collector_add(b->col, s->ts, s->ts_len, s->unit, s->unit_len, s->text, s->text_len, ENTRY_TEXT_MAX,
				s->sev, EVENT_ID_NONE) != NULL;
	b->current = 1;
	b->lineage = lineage;
	if (b->kept) {
		b->last_start = b->piece_at;
		b->last_joins = lineage != LINEAGE_LINE;
	}
	b->matched = b->query_len == 0 || (line_has && shape_passes(s, b->query, b->query_len));
	if (lineage == LINEAGE_STAMPED && s->has_ts && b->kept && b->col->stamped_from < 0)
		b->col->stamped_from = b->col->taken - 1;
}

/* Appends a piece to the entry being built; 0 when its bounds refuse it. */
static int builder_extend(EntryBuilder *b, const char *piece, size_t len, int new_line, int line_has)
{
	if (!b->kept)
		return 1; /* not kept: its lines go with it */
	if (!collector_extend(b->col, piece, len, new_line, ENTRY_TEXT_MAX))
		return 0;
	b->matched = b->matched || line_has;
	return 1;
}

/* One piece of a line, as the line reader cut it, up to a NUL in it; ends_line when the line
 * ended with it, not when the reader's bound cut it. */
static void builder_line(EntryBuilder *b, const char *piece, size_t len, int ends_line)
{
	int continued = b->line_open;
	b->line_open = !ends_line;
	if (continued)
		b->piece_at = -1;
	if (!b->multiline) {
		/* Every field is a piece of the line: a line without the query holds no hit and
		 * needs no parsing. */
		if (b->query_len != 0 && !ci_contains_bytes(piece, len, b->query, b->query_len))
			return;
		LineShape s;
		shape_log_line(&s, piece, len, b->scratch);
		if (b->query_len != 0 && !shape_passes(&s, b->query, b->query_len))
			return;
		collector_add(b->col, s.ts, s.ts_len, s.unit, s.unit_len, s.text, s.text_len, ENTRY_LINE_TEXT_MAX,
			      s.sev, EVENT_ID_NONE);
		return;
	}
	size_t bare = len;
	while (bare > 0 && (piece[bare - 1] == '\n' || piece[bare - 1] == '\r'))
		bare--;
	int first = !b->started;
	b->started = 1;
	int line_has = b->query_len != 0 && ci_contains_bytes(piece, bare, b->query, b->query_len);
	/* The rest of a line read in parts stays with it, within the bounds. */
	if (continued && b->current && builder_extend(b, piece, bare, 0, line_has))
		return;
	LineShape s;
	shape_log_line(&s, piece, len, b->scratch);
	if (!continued && s.has_ts) {
		builder_start(b, &s, LINEAGE_STAMPED, line_has);
		return;
	}
	if (b->current && b->lineage != LINEAGE_LINE && !continued && builder_extend(b, piece, bare, 1, line_has))
		return;
	/* Past the bounds the rest of a stamped entry goes on in one of its own, so nothing is
	 * lost; other lines without a timestamp are entries of one line. */
	int lineage = LINEAGE_LINE;
	if (first && b->mid_file)
		lineage = LINEAGE_FRAGMENT;
	else if (b->current && b->lineage == LINEAGE_STAMPED)
		lineage = LINEAGE_STAMPED;
	else if (continued && b->current)
		lineage = b->lineage;
	builder_start(b, &s, lineage, line_has);
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

int32_t read_log_span(FILE *f, LogSpan *span, const char *query, int multiline, EntryCollector *col)
{
	int64_t budget = (span->size - span->from) + GROWTH_ALLOWANCE;
	int cut = span->cut;
	LineReader reader;
	char utf8_line[LINE_UTF8_SIZE];
	EntryBuilder builder;
	int32_t handled = 0;
	size_t carried = 0;
	int64_t at = span->from; /* where the next piece begins */
	span->line_end = -1;
	line_reader_init(&reader, f);
	builder_init(&builder, col, query, multiline, span->joins);
	while (budget > 0) {
		const char *line;
		/* Bytes after a NUL inside a chunk are not part of the line. */
		size_t len;
		size_t got = line_reader_next(&reader, &line, &len, LINE_PIECE_MAX);
		if (got == 0)
			break;
		/* A file changed under the reader may put a line across the stop: it ends there. */
		if (span->stop >= 0 && at + (int64_t)got > span->stop)
			break;
		/* Bytes given back count once, when first read. */
		budget -= (int64_t)(got - carried);
		/* A chunk the buffer cut, not a line feed, ends on a whole character: the bytes of
		 * one it splits begin the next chunk, so neither piece shows half a character. */
		size_t keep = len;
		if (len == LINE_PIECE_MAX && line[len - 1] != '\n')
			keep = utf8_whole_len(line, len);
		carried = len - keep;
		int64_t piece_at = at;
		at += (int64_t)(got - carried);
		if (line[got - 1] == '\n' && carried == 0)
			span->line_end = at;
		/* The window began inside a line: drop chunks up to its first line end. */
		if (cut && handled == 0 && len != 0 && line[len - 1] != '\n') {
			at += (int64_t)carried;
			carried = 0;
			continue;
		}
		if (!col->is_ring && handled >= SEARCH_SCAN_MAX)
			break;
		const char *piece = line;
		size_t piece_len = keep;
		builder.piece_at = piece_at;
		if (cut && handled == 0) {
			size_t rest = cut_character_rest(line, keep);
			piece += rest;
			piece_len -= rest;
			builder.piece_at = -1;
		}
		/* Most lines are UTF-8 already, and the platform's conversion checks it again. */
		if (utf8_valid_len(piece, piece_len) != piece_len)
			piece = plat_text_to_utf8(piece, &piece_len, utf8_line, sizeof(utf8_line));
		handled++;
		if (carried != 0)
			line_reader_unread(&reader, carried);
		builder_line(&builder, piece, piece_len, line[got - 1] == '\n' && carried == 0);
	}
	builder_close(&builder);
	span->last_start = builder.last_start;
	span->last_joins = builder.last_joins;
	return handled;
}

int32_t read_log_lines(FILE *f, int64_t from, int64_t size, int cut, const char *query, int multiline,
		       EntryCollector *col)
{
	LogSpan span = {from, size, -1, cut, from > 0, -1, -1, 0};
	return read_log_span(f, &span, query, multiline, col);
}

int32_t read_log_file(const char *path, const char *query, int multiline, EntryCollector *col)
{
	int64_t start, size;
	FILE *f = open_log_window(path, &start, &size);
	if (f == NULL)
		return -1;
	int32_t handled = read_log_lines(f, start, size, start > 0, query, multiline, col);
	fclose(f);
	return handled;
}
