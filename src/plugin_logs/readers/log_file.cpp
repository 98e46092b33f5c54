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
	int mid_file;  /* reading began after the file's first byte */
	const TimeRange *range; /* entries kept, or null for all */
	int in_range;  /* the last timestamp read lies in the range */
	/* A search of whole entries finds the lines that hold its text, then reads each one's
	 * entry from the file: the lines without a hit cost no more than one entry a line. */
	FILE *f;
	int64_t size;
	int64_t from;       /* where reading began: no entry starts before */
	int64_t line_at;    /* where the line being read began */
	int64_t last_start; /* the entry kept last, or -1 */
	int failed;         /* the file could not be read back */
	/* For a follower, who reads on from where a tail stopped. */
	int64_t piece_at;   /* where the piece being handled begins, or -1 inside a line */
	int64_t kept_at;    /* where the entry kept last began, or -1 inside a line */
	int kept_joins;     /* ... and whether lines without a timestamp after it join it */
	int64_t line_end;   /* just past the last line feed read, or -1 */
	char scratch[SHAPE_SCRATCH_SIZE];
	char back[ENTRY_BACK_SIZE];
};

static void builder_init(EntryBuilder *b, EntryCollector *col, const char *query, int multiline, int mid_file)
{
	b->f = NULL;
	b->from = 0;
	b->last_start = -1;
	b->failed = 0;
	b->line_at = 0;
	b->piece_at = -1;
	b->kept_at = -1;
	b->kept_joins = 0;
	b->line_end = -1;
	b->mid_file = mid_file;
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
	b->range = NULL;
	b->in_range = 1;
	col->stamped_from = -1;
}

/* A line with a timestamp decides whether its entry, and the lines without one after it, lie
 * in the range. */
static void builder_note_key(EntryBuilder *b, int64_t key)
{
	if (key >= 0)
		b->in_range = time_range_holds(b->range, key);
}

static void builder_note_time(EntryBuilder *b, const LineShape *s)
{
	if (b->range != NULL)
		builder_note_key(b, time_range_key(b->range, s->ts, s->ts_len));
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
	if (!b->in_range) {
		/* Outside the range: it goes, and the lines that join it with it. */
		b->current = 1;
		b->kept = 0;
		b->lineage = lineage;
		b->matched = 0;
		return;
	}
	/* Classified when printed: the severity never decides what is kept. */
	b->kept = collector_add(b->col, s->ts, s->ts_len, s->unit, s->unit_len, s->text, s->text_len, ENTRY_TEXT_MAX,
				s->sev, EVENT_ID_NONE) != NULL;
	b->current = 1;
	b->lineage = lineage;
	if (b->kept) {
		b->kept_at = b->piece_at;
		b->kept_joins = lineage != LINEAGE_LINE;
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

/* A line whose raw bytes may lack a text its fields hold: a JSON line's values are decoded. */
static int decoded_fields(const char *piece, size_t len)
{
	size_t i = 0;
	while (i < len && (piece[i] == ' ' || piece[i] == '\t'))
		i++;
	return i < len && piece[i] == '{';
}

/* 1 when a timestamp begins the line at offset of b's file. */
static int stamped_at(EntryBuilder *b, int64_t offset)
{
	size_t n = (size_t)(b->size - offset < 256 ? b->size - offset : 256);
	if (plat_seek(b->f, offset) != 0 || fread(b->back, 1, n, b->f) != n)
		return 0;
	LineShape s;
	shape_log_line(&s, b->back, n, b->scratch);
	return s.has_ts;
}

/* A piece at offset piece_at that holds the query: its entry, read from the file, once.
 * resume is the offset the line reader's file stands at, and stands at again after. */
static void entry_hit(EntryBuilder *b, const char *piece, size_t len, int continued, int64_t resume)
{
	int stamped;
	if (continued) {
		stamped = stamped_at(b, b->line_at);
	} else {
		LineShape s;
		shape_log_line(&s, piece, len, b->scratch);
		stamped = s.has_ts;
	}
	if (!b->failed && read_hit_entry(b->f, b->size, b->line_at, stamped, b->from, &b->last_start, b->col, b->back,
					 b->scratch) < 0)
		b->failed = 1;
	if (plat_seek(b->f, resume) != 0)
		b->failed = 1;
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
		 * needs no parsing, but for its timestamp, which places the lines after it in a
		 * range or outside. */
		if (b->query_len != 0 && !ci_contains_bytes(piece, len, b->query, b->query_len) &&
		    !decoded_fields(piece, len)) {
			if (b->range != NULL && !continued)
				builder_note_key(b, time_range_line_key(b->range, piece, len, b->scratch));
			return;
		}
		LineShape s;
		shape_log_line(&s, piece, len, b->scratch);
		if (!continued && s.has_ts)
			builder_note_time(b, &s);
		if (!b->in_range)
			return;
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
		builder_note_time(b, &s);
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

/* Opens path when it is a file a log can be read from; info receives what the system says of it. */
static FILE *open_log(const char *path, PlatFileInfo *info)
{
	if (!plat_file_info(path, info) || info->is_dir)
		return NULL;
	return plat_log_open(path);
}

FILE *open_log_window(const char *path, int64_t *start, int64_t *size)
{
	PlatFileInfo info;
	FILE *f = open_log(path, &info);
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

int64_t entry_start(FILE *f, int64_t offset, int64_t floor, char *back, char *scratch)
{
	int64_t from = offset - floor > ENTRY_BACK_SIZE ? offset - ENTRY_BACK_SIZE : floor;
	size_t n = (size_t)(offset - from);
	if (n == 0 || plat_seek(f, from) != 0 || fread(back, 1, n, f) != n)
		return offset;
	/* back[0..n) ends with the line feed of the line before; walk the lines backwards. */
	size_t end = n - 1;
	for (int32_t lines = 1; lines < ENTRY_LINES_MAX; lines++) {
		size_t start = end;
		while (start > 0 && back[start - 1] != '\n')
			start--;
		if (start == 0 && from > floor)
			break; /* a line that began before what was read: past the bounds */
		LineShape s;
		shape_log_line(&s, back + start, end - start, scratch);
		if (s.has_ts)
			return from + (int64_t)start;
		/* At a cut window's start: the rest of an entry that began before it is one of its
		 * own. At the file's start nothing began before: the line is its own entry. */
		if (start == 0)
			return floor > 0 ? floor : offset;
		end = start - 1;
	}
	return offset;
}

/* Where a run of lines read into a builder stops. */
struct FeedLimits {
	int64_t budget;    /* bytes */
	int32_t max_lines; /* lines handled */
	int64_t taken_max; /* entries the collector may have taken; more: the last is taken back */
	int64_t stop;      /* no line at or past this offset is read; -1 for none */
};

/* Reads f from its position into b, chunk by chunk (2047 bytes at most, ending after a line
 * feed); cut drops the chunks of the line reading began in. Returns the lines handled. */
static int32_t feed_lines(FILE *f, int cut, EntryBuilder *b, const FeedLimits *limits)
{
	int64_t budget = limits->budget;
	LineReader reader;
	char utf8_line[LINE_UTF8_SIZE];
	int32_t handled = 0;
	size_t carried = 0;
	int64_t at = b->from; /* where the next piece begins */
	line_reader_init(&reader, f);
	while (budget > 0) {
		const char *line;
		/* Bytes after a NUL inside a chunk are not part of the line. */
		size_t len;
		size_t got = line_reader_next(&reader, &line, &len, LINE_PIECE_MAX);
		if (got == 0)
			break;
		/* A file changed under the reader may put a line across the stop: it ends there. */
		if (limits->stop >= 0 && at + (int64_t)got > limits->stop)
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
			b->line_end = at;
		/* The window began inside a line: drop chunks up to its first line end. */
		if (cut && handled == 0 && len != 0 && line[len - 1] != '\n') {
			carried = 0;
			at = piece_at + (int64_t)got;
			continue;
		}
		if (handled >= limits->max_lines)
			break;
		const char *piece = line;
		size_t piece_len = keep;
		b->piece_at = piece_at;
		if (cut && handled == 0) {
			size_t rest = cut_character_rest(line, keep);
			piece += rest;
			piece_len -= rest;
			b->piece_at = -1;
		}
		/* Most lines are UTF-8 already, and the platform's conversion checks it again. */
		if (utf8_valid_len(piece, piece_len) != piece_len)
			piece = plat_text_to_utf8(piece, &piece_len, utf8_line, sizeof(utf8_line));
		handled++;
		if (carried != 0)
			line_reader_unread(&reader, carried);
		int ends_line = line[got - 1] == '\n' && carried == 0;
		if (b->f != NULL) {
			int continued = b->line_open;
			b->line_open = !ends_line;
			if (!continued)
				b->line_at = piece_at;
			if (ci_contains_bytes(piece, piece_len, b->query, b->query_len) || decoded_fields(piece, piece_len))
				entry_hit(b, piece, piece_len, continued, at + (int64_t)(reader.end - reader.pos));
			if (b->failed)
				break;
			continue;
		}
		builder_line(b, piece, piece_len, ends_line);
		if (b->col->taken > limits->taken_max) {
			collector_drop_last(b->col);
			b->current = 0;
			b->kept = 0;
			break;
		}
	}
	builder_close(b);
	return handled;
}

int32_t read_log_lines(FILE *f, int64_t from, int64_t size, int cut, const char *query, int multiline,
		       EntryCollector *col)
{
	EntryBuilder builder;
	builder_init(&builder, col, query, multiline, from > 0);
	builder.from = from;
	if (multiline && builder.query_len != 0) {
		builder.f = f;
		builder.size = size;
	}
	FeedLimits limits = {(size - from) + GROWTH_ALLOWANCE, col->is_ring ? INT32_MAX : SEARCH_SCAN_MAX,
			     INT64_MAX, -1};
	return feed_lines(f, cut, &builder, &limits);
}

int32_t read_log_range(FILE *f, int64_t from, int64_t end, int cut, const TimeRange *r, int in_range,
		       const char *query, int multiline, EntryCollector *col)
{
	EntryBuilder builder;
	builder_init(&builder, col, query, multiline, from > 0);
	builder.from = from;
	if (time_range_active(r)) {
		builder.range = r;
		builder.in_range = in_range;
	}
	/* Whole entries are built line by line, as a tail builds them, so that each is judged by
	 * its own timestamp. The range's end is a line start: reading stops there, also in a
	 * growing file. */
	FeedLimits limits = {end - from, col->is_ring ? INT32_MAX : SEARCH_SCAN_MAX, INT64_MAX, -1};
	return feed_lines(f, cut, &builder, &limits);
}

FILE *open_log_range(const char *path, TimeRange *r, RangeSpan *span)
{
	PlatFileInfo info;
	FILE *f = open_log(path, &info);
	if (f == NULL)
		return NULL;
	time_range_set_file_time(r, info.mtime);
	span->size = info.size;
	if (!log_range_bounds(f, info.size, r, &span->lo, &span->hi)) {
		fclose(f);
		return NULL;
	}
	span->start = span->hi - TAIL_WINDOW > span->lo ? span->hi - TAIL_WINDOW : span->lo;
	if (span->start > span->hi)
		span->start = span->hi; /* since after until: nothing between */
	if (plat_seek(f, span->start) != 0) {
		fclose(f);
		return NULL;
	}
	return f;
}

int32_t read_log_file_range(const char *path, const char *query, int multiline, const TimeRange *range,
			    EntryCollector *col)
{
	TimeRange r = *range;
	RangeSpan span;
	FILE *f = open_log_range(path, &r, &span);
	if (f == NULL)
		return -1;
	/* The range's start is a line start; a window cut short of it is not. */
	int inside = span.start > span.lo;
	int32_t handled = read_log_range(f, span.start, span.hi, inside, &r, inside, query, multiline, col);
	fclose(f);
	return handled;
}

int32_t read_log_span(FILE *f, LogSpan *span, int multiline, EntryCollector *ring)
{
	EntryBuilder builder;
	builder_init(&builder, ring, NULL, multiline, span->joins);
	builder.from = span->from;
	if (time_range_active(span->range)) {
		builder.range = span->range;
		builder.in_range = span->from > span->range_lo;
	}
	FeedLimits limits = {(span->size - span->from) + GROWTH_ALLOWANCE, INT32_MAX, INT64_MAX, span->stop};
	int32_t handled = feed_lines(f, span->cut, &builder, &limits);
	span->line_end = builder.line_end;
	span->last_start = builder.kept_at;
	span->last_joins = builder.kept_joins;
	return handled;
}

int read_hit_entry(FILE *f, int64_t size, int64_t line_at, int stamped, int64_t floor, int64_t *last_start,
		   EntryCollector *col, char *back, char *scratch)
{
	int64_t start = stamped ? line_at : entry_start(f, line_at, floor, back, scratch);
	if (start == *last_start)
		return 0;
	int took = read_entry_at(f, start, size, col);
	if (took > 0)
		*last_start = start;
	return took;
}

int read_entry_at(FILE *f, int64_t start, int64_t size, EntryCollector *col)
{
	if (plat_seek(f, start) != 0)
		return -1;
	int64_t taken = col->taken;
	EntryBuilder builder;
	builder_init(&builder, col, NULL, 1, start > 0);
	builder.from = start;
	/* One entry: its lines, each perhaps in parts, and the line that begins the next. */
	FeedLimits limits = {size - start, ENTRY_TEXT_MAX + 2 * ENTRY_LINES_MAX + 1, taken + 1, -1};
	feed_lines(f, 0, &builder, &limits);
	return col->taken > taken;
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
