/* Shared records and the prototypes that cross subsystem borders, grouped by defining file. */
#ifndef PLUGIN_LOGS_H
#define PLUGIN_LOGS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#define PL_IDENT "plugin_logs"
#define PL_VERSION "1.0.0"

/* Severity of an entry: printed as "info", "warn", "err". */
enum { SEV_INFO = 0, SEV_WARN = 1, SEV_ERR = 2 };

enum {
	LINES_DEFAULT = 200,
	LINES_MAX = 2000,
	SEARCH_HITS_MAX = 500,
	SEARCH_SCAN_MAX = 8000,
	EVENT_SEARCH_DEPTH = 600
};

/* Bounds of an entry's fields. A file entry of one line keeps at most ENTRY_LINE_TEXT_MAX
 * bytes of text; an entry of several lines, or an event description read with its line breaks,
 * at most ENTRY_TEXT_MAX in at most ENTRY_LINES_MAX lines. */
enum {
	ENTRY_TS_MAX = 39,
	ENTRY_UNIT_MAX = 95,
	ENTRY_LINE_TEXT_MAX = 1023,
	ENTRY_TEXT_MAX = 16383,
	ENTRY_LINES_MAX = 200
};

/* An entry's event_id when its record names none (and every file entry's). */
enum { EVENT_ID_NONE = -1 };

/* One parsed log entry as a reader builds it; every text field is NUL-terminated and may be
 * empty. */
struct LogEntry {
	char ts[ENTRY_TS_MAX + 1];
	char unit[ENTRY_UNIT_MAX + 1];
	int32_t sev;
	char text[ENTRY_TEXT_MAX + 1];
	int32_t event_id;
};

enum {
	CATALOGUE_ROWS = 256,
	WALK_BUDGET = 40000,
	WALK_DEPTH = 4,
	PATH_BUF = 1024,
	/* A walked path joined to a resolved root, as the file calls take it: the root's final
	 * path may be longer than the text its variable gave. */
	CALL_PATH_BUF = 2048,
	SRC_ID_SIZE = 600,
	SRC_LABEL_SIZE = 96,
	SRC_KIND_SIZE = 10
};

/* One allowed source: "event:" + log name, or "file:" + the path as the walk formed it. */
struct LogSource {
	char id[SRC_ID_SIZE];
	char label[SRC_LABEL_SIZE];
	char kind[SRC_KIND_SIZE];
	int64_t size;
	int64_t mtime; /* seconds since 1970-01-01 UTC; 0 for event rows */
};

/* The read allowlist of one request; rows 0 .. count-1 are valid, the rest unused. */
struct SourceCatalogue {
	int32_t journal_available;
	LogSource sources[CATALOGUE_ROWS];
	int32_t count;
	int32_t truncated;
};

/* One kept entry: its ts, unit and text lie one after another in the collector's arena. */
struct StoredEntry {
	uint32_t off;
	uint16_t text_len;
	uint8_t ts_len;
	uint8_t unit_len;
	int16_t sev;        /* SEV_*, or SEV_UNCLASSIFIED: classified when printed */
	uint16_t lines;     /* the lines its text joins */
	int32_t event_id;   /* EVENT_ID_NONE when none */
};

/* Entries gathered for printing: a tail ring, which keeps the newest (uses start), or a search
 * hit list, which keeps the first. Records are fixed and small; the texts they hold, whatever
 * their size, share one arena, so a request costs by what its entries hold. */
struct EntryCollector {
	StoredEntry *items;
	int32_t capacity;
	int32_t count;
	int32_t start;
	int32_t is_ring;
	int32_t arena_full; /* a hit list had no room for an entry's text: it keeps no more */
	char *arena;
	size_t head;        /* the arena is used up to here, from the oldest kept entry's off */
	int64_t taken;      /* entries ever added, including those a ring let go */
	int64_t stamped_from; /* a log file's: the taken count before the first entry a stamped
			       * line began, or -1 */
};

/* Room for every kept text: a search's 500 entries of the longest kind, or the texts of a
 * tail's window and more. */
#define ENTRY_ARENA_SIZE ((size_t)9 << 20)

struct TimeRange;

/* An entry as the request wants it read. */
struct EntryRequest {
	int32_t lines;      /* a tail's entries, 1 .. LINES_MAX */
	const char *q;      /* a search's text; empty for none */
	int32_t multiline;  /* 1: lines without a timestamp continue the entry before them */
	int32_t scope_file; /* a search of a log file reads it whole, newest first */
	int64_t before;     /* ... from this offset back; -1: from its end */
	int32_t before_bad; /* before was given and is not a byte offset */
	const char *before_text; /* as given */
	const char *after;  /* a log file tail's cursor ("" for the first); null: not following */
	const TimeRange *range; /* since and until; null for all time */
};

/* Receives one finished entry; the sink copies it. */
typedef void (*EntrySink)(void *ctx, const LogEntry *entry);

/* The context that goes with shell_sink and hits_sink. */
struct SinkContext {
	EntryCollector *collector;
};

/* front/query.cpp */
/* Finds key in the raw query string and URL-decodes its value into dst (cut to dst_size-1
 * raw bytes first). Returns 1 when a segment with that key exists, else 0; dst is always
 * terminated and empty when nothing was found. */
int get_query_val(const char *qs, const char *key, char *dst, size_t dst_size);

/* front/json_out.cpp */
/* Writes the 107-byte CGI header block of every JSON document. */
void json_header(void);
/* Writes s as one JSON string literal; null or empty gives "". Each sequence that is not
 * UTF-8 is written as U+FFFD, so the literal is always valid UTF-8. */
void json_str(const char *s);
/* The room json_str_into needs for a text of size bytes: a byte gives at most a six-byte
 * escape, then the quotes, and 8 bytes that a copy of a whole word may write past its end. */
#define JSON_STR_ROOM(size) (6 * (size_t)(size) + 2 + 8)
/* Writes the text s, which ends at its first NUL or after size bytes, into dst, which holds
 * JSON_STR_ROOM(size) bytes, as the literal json_str writes for it. All size bytes may be read:
 * a field is passed with the size of its array, which saves measuring it. Returns the length. */
size_t json_str_into(char *dst, const char *s, size_t size);
/* json_str_into for a short text none of whose bytes needs an escape or a check (no control
 * byte, quote, backslash or byte of 0x80 and above), the common case of an entry's fields:
 * returns the literal's length, or 0 when json_str_into must write it. It loads 16 bytes at a
 * time, so up to 15 bytes past s + len are read (the caller vouches that they are readable) and
 * up to 16 past the literal written (dst holds JSON_STR_ROOM(len) + 16 bytes). */
size_t json_plain_into(char *dst, const char *s, size_t len);
/* printf to standard output; write errors are ignored. */
void out_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* Writes text unchanged, without the cost of a format. */
void out_text(const char *text);
/* Writes len bytes to standard output. */
void out_write(const char *data, size_t len);
/* Bounded snprintf that always terminates dst. Returns 1 when the whole text fit, 0 when cut. */
int fmt_into(char *dst, size_t dst_size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

/* front/auth.cpp */
/* Returns 1 when ZUN_PASSWORD is defined and not empty. */
int node_auth_enabled(void);
/* Returns only when the request may proceed; otherwise writes the 401 response and exits 0. */
void require_node_auth(void);

/* api/mode_json.cpp */
/* Serves one JSON API request from the raw query string; always returns 0. */
int mode_json(const char *qs);

/* api/sources.cpp */
enum { REQUESTED_ECHO_SIZE = 32 };
/* The "requested" echo of a request value: valid UTF-8 (each invalid sequence one U+FFFD),
 * cut before a character that would pass dst_size-1 bytes. */
void echo_requested(char *dst, size_t dst_size, const char *value);
/* Writes the sources document for the built catalogue. */
void write_sources(const SourceCatalogue *cat, const char *utc);
/* Returns the row whose id equals src byte for byte; otherwise writes the
 * "source_not_allowed" document and returns null. */
const LogSource *lookup_source(const SourceCatalogue *cat, const char *src);

/* api/download.cpp */
/* Writes the row's log file whole as an attachment, or the JSON error document when it cannot
 * be opened or the row is not a file. */
void respond_download(const LogSource *row);

/* api/entries.cpp */
/* Runs the reader for a tail of req->lines entries and writes the tail or error document. */
void respond_tail(const LogSource *row, const EntryRequest *req, const char *utc);
/* Runs the reader for a search of req->q and writes the search or error document. */
void respond_search(const LogSource *row, const EntryRequest *req, const char *utc);

/* catalogue/catalogue.cpp */
/* Appends one row unless the table is full (sets truncated) or the id is present. */
void add_src(SourceCatalogue *cat, const char *id, const char *label, const char *kind, int64_t size,
	     int64_t mtime);
/* Empties cat and fills it: the two event logs, then the .log files under both roots (the
 * second is skipped when its text is byte-identical to the first). With want non-null the
 * build stops once the row whose id is want has been added (a tail or search needs only
 * that row); null builds the whole table. */
void build_catalogue(SourceCatalogue *cat, const char *want);

/* catalogue/roots.cpp */
/* The roots of the walk as this process's environment names them. */
struct LogRoots {
	int32_t defined;                /* a root variable gave a root text */
	int32_t count;                  /* texts in text[], 0 to 2 */
	char text[2][PATH_BUF];         /* as ids are formed: "<LOCALAPPDATA>\wendquil", ... */
	char real[2][CALL_PATH_BUF];    /* its final path; empty when it cannot be resolved */
};
/* Forms the roots from LOCALAPPDATA and USERPROFILE (the second left out when its text equals
 * the first) and resolves each. */
void log_roots(LogRoots *r);
/* The file path names under one of the roots (its text, then a separator), joined to that
 * root's final path so the names below it are taken literally. Returns 1 with dst filled; 0
 * (dst empty) when path lies under no resolved root or the result does not fit. */
int log_roots_call_path(const LogRoots *r, const char *path, char *dst, size_t dst_size);
/* 1 when real, a final path, is one of the resolved roots or lies inside one; also when no
 * root variable is defined at all: then nothing is listed, and there is no root to hold a
 * path to. */
int log_roots_allow(const LogRoots *r, const char *real);

/* catalogue/scan_root.cpp */
/* Adds every qualifying .log file under dir, entering subdirectories while depth > 0 and
 * spending one unit of *budget per entry met; sets truncated when a file finds the table
 * full or the budget runs out. dir is its own root: nothing is listed or entered whose final
 * path lies outside it. A dir that cannot be resolved adds nothing. */
void scan_root(SourceCatalogue *cat, const char *dir, int32_t depth, int32_t *budget);
/* scan_root for a root whose final path real is known: ids are formed from dir, file calls
 * from real. With want non-null, sets *budget to 0 and stops every level once it has added the
 * row whose id is want (truncated is not set for that stop). */
void scan_root_within(SourceCatalogue *cat, const char *dir, const char *real, int32_t depth, int32_t *budget,
		      const char *want);

/* readers/text.cpp */
/* 1 when needle occurs in hay under ASCII case folding, or when either is absent/empty needle. */
int ci_contains(const char *hay, const char *needle);
/* 1 when needle[0..needle_len) occurs in hay[0..hay_len) under ASCII case folding, or when the
 * needle is empty; NUL is a byte like any other. */
int ci_contains_bytes(const char *hay, size_t hay_len, const char *needle, size_t needle_len);
/* Copies src[0..src_len) without leading/trailing tab, LF, CR, space into dst, cut as
 * copy_text_cut cuts; overlap-safe. */
void trim_into(char *dst, size_t dst_size, const char *src, size_t src_len);
/* The length to cut s at, at most n, that does not end inside a UTF-8 sequence: n backed off
 * over the continuation bytes (at most three) that would start s[n]. s must hold more than n
 * bytes; a cut of valid UTF-8 stays valid. */
size_t utf8_cut(const char *s, size_t n);
/* Copies src[0..len) into dst, cut to at most dst_size-1 bytes where utf8_cut allows, and
 * terminates it; overlap-safe. Returns the bytes copied. */
size_t copy_text_cut(char *dst, size_t dst_size, const char *src, size_t len);

/* The replacement character U+FFFD, which stands for each invalid sequence in a document. */
#define UTF8_REPLACEMENT "\xEF\xBF\xBD"
/* The sequence that begins s, of which avail bytes may be read (avail >= 1): its length, 1 to
 * 4, when it is one valid character; otherwise minus the length of its maximal subpart, the 1
 * to 3 bytes one U+FFFD replaces (a lead byte and the continuation bytes that were right for
 * it). A NUL-terminated s may be passed with avail 4: no byte after a NUL is read. */
int utf8_seq(const char *s, size_t avail);
/* The length of the longest prefix of s[0..len) that is valid UTF-8 (len when all of it is). */
size_t utf8_valid_len(const char *s, size_t len);
/* len, less the bytes of a character cut off at the end of s[0..len) (its lead byte and the
 * right continuation bytes that follow, but fewer than it announces). */
size_t utf8_whole_len(const char *s, size_t len);
/* Writes the UTF-8 form of code point cp (at most U+10FFFF, not a surrogate) to out, which has
 * room for 4 bytes. Returns its length. */
size_t utf8_put(uint32_t cp, char *out);
/* Copies src[0..len) into dst as valid UTF-8, each invalid sequence (as utf8_seq measures it)
 * written as one U+FFFD; stops before a character that does not fit in dst_size-1 bytes and
 * terminates dst. dst_size of 3 * len + 1 always suffices. Returns the bytes written. */
size_t utf8_repair(const char *src, size_t len, char *dst, size_t dst_size);
/* Keyword classification of a message text: SEV_ERR, SEV_WARN or SEV_INFO. */
int32_t severity_of(const char *text);
/* severity_of for text[0..len), which need not be terminated. */
int32_t severity_of_bytes(const char *text, size_t len);
/* LogEntry.sev of a file line not yet classified; the printer classifies it. */
enum { SEV_UNCLASSIFIED = -1 };

/* readers/collector.cpp */
/* Sets c up empty: a ring of capacity entries when is_ring, else a hit list. Returns 1, or 0
 * when its storage cannot be had (c then holds nothing to free). */
int collector_init(EntryCollector *c, int32_t capacity, int is_ring);
/* Empties c, keeping its storage. */
void collector_reset(EntryCollector *c);
void collector_free(EntryCollector *c);
/* Takes a new entry; each field is cut between characters to its bound (the text to
 * text_max). A full ring lets its oldest entry go, and its oldest texts when the arena needs
 * the room; a full hit list takes nothing. Returns the kept record, or null when not kept. */
StoredEntry *collector_add(EntryCollector *c, const char *ts, size_t ts_len, const char *unit, size_t unit_len,
			   const char *text, size_t text_len, size_t text_max, int32_t sev, int32_t event_id);
/* Appends piece to the text of the entry added last, after a line feed when new_line (a new
 * line of it, counted) and else directly (the rest of a line read in parts). Returns 1, or 0
 * with nothing appended when the text would pass text_max bytes or ENTRY_LINES_MAX lines, or
 * the arena is out of room. */
int collector_extend(EntryCollector *c, const char *piece, size_t len, int new_line, size_t text_max);
/* Takes back the entry added last (a ring then holds what it held before, less any entry the
 * add let go). */
void collector_drop_last(EntryCollector *c);
/* The k-th kept entry in arrival order, 0 <= k < count. */
static inline const StoredEntry *collector_at(const EntryCollector *c, int32_t k)
{
	int32_t i = c->start + k;
	return &c->items[i >= c->capacity ? i - c->capacity : i];
}
/* The fields of e, kept in c. */
static inline const char *stored_ts(const EntryCollector *c, const StoredEntry *e)
{
	return c->arena + e->off;
}
static inline const char *stored_unit(const EntryCollector *c, const StoredEntry *e)
{
	return c->arena + e->off + e->ts_len;
}
static inline const char *stored_text(const EntryCollector *c, const StoredEntry *e)
{
	return c->arena + e->off + e->ts_len + e->unit_len;
}
/* Adds a reader's entry (shell_sink for a ring, hits_sink for a hit list: the collector's
 * own kind decides); ctx is a SinkContext. Event descriptions may use ENTRY_TEXT_MAX. */
void shell_sink(void *ctx, const LogEntry *entry);
void hits_sink(void *ctx, const LogEntry *entry);

/* readers/line_reader.cpp */
/* A log read in blocks and handed out in pieces; the fields are the reader's own. */
enum { LINE_BLOCK_SIZE = 16384 };
struct LineReader {
	FILE *f;
	size_t pos, end; /* block[pos .. end) is read and not yet handed out */
	size_t nul;      /* the first NUL in it, or end */
	int at_end;      /* the file ended or failed: nothing more is read */
	int failed;      /* it failed: what is left without a line feed is dropped */
	char block[LINE_BLOCK_SIZE];
};
void line_reader_init(LineReader *r, FILE *f);
/* The next piece, from where the last one ended: the bytes up to and including the next line
 * feed, or max bytes (max < LINE_BLOCK_SIZE) when none comes sooner, or the last bytes of the
 * file. *piece points into r until the next call; *text_len gets the length of the piece
 * before its first NUL. Returns the whole length; 0 at the end, or after a read error, which
 * drops a piece it cut short. */
size_t line_reader_next(LineReader *r, const char **piece, size_t *text_len, size_t max);
/* Gives back the last n bytes of the piece just handed out: the next piece begins with them. */
void line_reader_unread(LineReader *r, size_t n);

/* readers/line_shape.cpp */
enum { SHAPE_TS_MAX = 39 };
/* The parts of one log line. Each field points into the line, or into the caller's scratch for
 * a JSON line's decoded values; lengths are in bytes, and a field may be empty (len 0). */
struct LineShape {
	const char *ts;   size_t ts_len;   /* as written, without brackets; at most SHAPE_TS_MAX */
	const char *unit; size_t unit_len; /* not cut: the caller cuts to its own room */
	const char *text; size_t text_len; /* not cut */
	int32_t sev;      /* the writer's level as SEV_*, or SEV_UNCLASSIFIED when it names none */
	int32_t has_ts;   /* 1 when a recognised timestamp (or a JSON time) begins the line */
};
enum { SHAPE_SCRATCH_SIZE = 16384 + 256 };
/* Shapes one line of len bytes (trailing CR and LF ignored; may hold any bytes, NUL included).
 * scratch (SHAPE_SCRATCH_SIZE bytes) receives decoded JSON values, cut between characters. */
void shape_log_line(LineShape *s, const char *line, size_t len, char *scratch);
/* The fields of e from one line: ts, unit and text copied and cut between characters to their
 * arrays; sev as shape_log_line gives it. Nothing else of e is written. */
void parse_log_line(LogEntry *e, const char *line, size_t len);
/* The date and time a timestamp as shape_log_line returns it names. */
struct TsFields { int32_t year; /* 0: the layout has none (syslog, logcat) */ int32_t month, day, hour, minute, second; };
/* Returns 1 and fills f when ts[0..len) is one of the recognised layouts, else 0. */
int ts_fields(const char *ts, size_t len, TsFields *f);

/* readers/time_range.cpp */
/* A request's since or until value, raw, is cut to this before it is decoded: room for the
 * 31 bytes a refusal echoes with each byte percent-encoded. The accepted forms have 16 or 19
 * characters. */
enum { TIME_PARAM_SIZE = 3 * (REQUESTED_ECHO_SIZE - 1) + 1, TIME_TEXT_SIZE = 20 };
/* One end of a time range, as given: YYYY-MM-DDTHH:MM or YYYY-MM-DDTHH:MM:SS. */
struct TimeBound {
	int32_t given;
	int32_t has_seconds;
	TsFields at;        /* an until without seconds stands for its minute's last second */
	int64_t key;        /* YYYYMMDDhhmmss, ordered as the moments are */
	char text[TIME_TEXT_SIZE];
};
/* since and until, both inclusive, compared with an entry's timestamp as written (its date and
 * time digits; a zone suffix is not applied). A timestamp without a year takes the year that
 * puts it last at or before the file's modification (ref_*, in the node's local time). */
struct TimeRange {
	TimeBound since, until;
	int32_t ref_year;   /* 0: not set, a timestamp without a year has no key */
	int64_t ref_rest;   /* MMDDhhmmss of that moment */
};
/* Reads the since and until values (empty means not given) into r. Returns null, or the name
 * of the first one that is not a valid moment ("since" is checked first). */
const char *time_range_parse(TimeRange *r, const char *since, const char *until);
/* 1 when r bounds anything (since or until given). */
int time_range_active(const TimeRange *r);
/* Sets the moment yearless timestamps are placed before: mtime, seconds since 1970 UTC. */
void time_range_set_file_time(TimeRange *r, int64_t mtime);
/* The key of the timestamp ts[0..len) as r compares it, or -1 when it is not a recognised
 * timestamp. */
int64_t time_range_key(const TimeRange *r, const char *ts, size_t len);
/* The key of the timestamp that begins line[0..len) (a line as shape_log_line takes it), or
 * -1 when it has none: shape_log_line's ts, found without reading the rest of the line.
 * scratch as for shape_log_line. */
int64_t time_range_line_key(const TimeRange *r, const char *line, size_t len, char *scratch);
/* 1 when key lies within r. */
int time_range_holds(const TimeRange *r, int64_t key);
/* The event query for r's bounds, the node's local time turned into the UTC of SystemTime:
 * *[System[TimeCreated[@SystemTime>='...' and @SystemTime<='...']]]. Returns 1, or 0 when r is
 * not active or dst is too small (dst empty). */
int event_time_query(const TimeRange *r, char *dst, size_t dst_size);

/* readers/log_bisect.cpp */
/* Finds the ends of r in the log f of size bytes by bisection on the lines' timestamps (each
 * probe reads a few small blocks; lines without a timestamp are skipped): *lo the offset of the
 * first timestamped line at or after since (0 without since), *hi the offset of the first after
 * until (size without until), both line starts. Lines between them may still lie outside r
 * when the log is not in order: filter them. r must have its file time set
 * (time_range_set_file_time). Returns 1, or 0 on a read error (*lo, *hi then 0 and size). */
int log_range_bounds(FILE *f, int64_t size, const TimeRange *r, int64_t *lo, int64_t *hi);

/* readers/log_file.cpp */
/* Reads the last 4 MiB of path into col: every entry for a ring, those that hold query for a
 * hit list (one entry a line, or with multiline the lines without a timestamp joined to the
 * entry before them). Returns the lines handled, or -1 when the file is missing, a directory,
 * or cannot be opened or positioned. */
int32_t read_log_file(const char *path, const char *query, int multiline, EntryCollector *col);
/* Opens a log and positions it at the start of its window, at most 4 MiB before its end;
 * start and size receive both offsets. Null when the path is missing, a directory, or
 * cannot be opened or positioned. */
FILE *open_log_window(const char *path, int64_t *start, int64_t *size);
/* Reads f, positioned at offset from of a file that measured size bytes, chunk by chunk
 * (2047 bytes at most, ending after a line feed) into col as read_log_file does; cut drops
 * the chunks of the line the window began in. A hit list stops after SEARCH_SCAN_MAX lines.
 * Returns the lines handled. */
int32_t read_log_lines(FILE *f, int64_t from, int64_t size, int cut, const char *query, int multiline,
		       EntryCollector *col);
/* Bytes looked at before a line for the timestamp that begins its entry: an entry's bound. */
enum { ENTRY_BACK_SIZE = ENTRY_TEXT_MAX + 1 };
/* The start of the entry the line at offset of f belongs to: the nearest line at or before it,
 * within an entry's bounds and not before floor, that a timestamp begins; offset itself when
 * there is none. back holds ENTRY_BACK_SIZE bytes, scratch SHAPE_SCRATCH_SIZE. */
int64_t entry_start(FILE *f, int64_t offset, int64_t floor, char *back, char *scratch);
/* Reads into col the entry a hit holds, the line at line_at of f (a file of size bytes, a
 * timestamp beginning that line when stamped), unless it began at *last_start, the entry kept
 * last; entries begin no earlier than floor. Returns 1 when col took it (*last_start is then
 * its start), 0 when not, -1 when f cannot be read back. */
int read_hit_entry(FILE *f, int64_t size, int64_t line_at, int stamped, int64_t floor, int64_t *last_start,
		   EntryCollector *col, char *back, char *scratch);
/* Reads into col the one entry that begins at offset start of f, a file of size bytes, as
 * multiline reading joins it: its first line and the lines without a timestamp after it.
 * Returns 1 when col took it, 0 when not (a full hit list), -1 when f cannot be positioned. */
int read_entry_at(FILE *f, int64_t start, int64_t size, EntryCollector *col);
/* A stretch of a log read forwards, and what the read found in it. */
struct LogSpan {
	int64_t from;       /* the offset f stands at */
	int64_t size;       /* the size the file measured; a file that grows is read somewhat past it */
	int64_t stop;       /* no line at or past this offset is read; -1 for none */
	int cut;            /* from may lie inside a line: the chunks up to its end are dropped */
	int joins;          /* with multiline, lines without a timestamp at from continue an entry
			     * begun before it (set whenever from is past the file's start) */
	int64_t line_end;   /* out: just past the last line feed read, or -1 */
	int64_t last_start; /* out: where the entry kept last began, or -1 when it began inside a
			     * line or none was kept (multiline only) */
	int last_joins;     /* out: lines without a timestamp that follow it would join it */
	const TimeRange *range; /* entries kept, or null for all */
	int64_t range_lo;   /* where the range's first entry begins: lines before the first
			     * timestamp read lie in the range when from is past it */
};
/* Reads the lines of span into ring as read_log_lines does, and completes span. Returns the
 * lines handled. */
int32_t read_log_span(FILE *f, LogSpan *span, int multiline, EntryCollector *ring);
/* Reads chunks from offset `from` (f positioned there) the way a cut window is resynchronised
 * and returns the offset just after the first chunk that would be handled, or -1 when none
 * ends at or before limit. */
int64_t read_chunk_at_resync_end(FILE *f, int64_t from, int64_t limit);

/* A log opened for a read within a time range: the offsets that bound it. */
struct RangeSpan {
	int64_t size;
	int64_t lo, hi;     /* the range's ends (log_range_bounds) */
	int64_t start;      /* the window: at most 4 MiB before hi, not before lo */
};
/* Opens a log as open_log_window does, sets r's file time from it and finds the range's ends.
 * Null when the path is missing, a directory, or cannot be opened or read. */
FILE *open_log_range(const char *path, TimeRange *r, RangeSpan *span);
/* Reads [from, end) of f (positioned at from) into col as read_log_lines does, keeping only
 * the entries whose timestamp r holds; lines without one go with the entry before them, and
 * those before the first timestamp read with in_range. Returns the lines handled. */
int32_t read_log_range(FILE *f, int64_t from, int64_t end, int cut, const TimeRange *r, int in_range,
		       const char *query, int multiline, EntryCollector *col);
/* read_log_file within r: the window before the range's end. Returns as read_log_file. */
int32_t read_log_file_range(const char *path, const char *query, int multiline, const TimeRange *r,
			    EntryCollector *col);

/* readers/log_tail.cpp */
/* A tail of the last ring->capacity entries, the same entries read_log_file would keep, found
 * by reading backwards from the end. Returns -1 as read_log_file does, else 0 or more. */
int32_t tail_log_file(const char *path, int multiline, EntryCollector *ring);
/* tail_log_file within r: the newest entries r holds, read backwards from the range's end. */
int32_t tail_log_range(const char *path, int multiline, const TimeRange *r, EntryCollector *ring);
/* tail_log_file over the window of f that begins at window->from (cut and joins say how) and
 * ends with the file, or at window->stop when that is set (0 or more), or with its last line
 * feed when whole_lines; with window->range only the entries it holds are kept. window's out fields get those
 * of the last forward read, which began at *read_from. Returns the lines handled, or -1. */
int32_t tail_log_span(FILE *f, LogSpan *window, int whole_lines, int multiline, EntryCollector *ring,
		      int64_t *read_from);

/* readers/log_cursor.cpp */
/* Where a follower of a log file stands: the file, by what tells it from every other, and the
 * offset its next read starts at, with the hash of the bytes before that offset as a proof
 * that the file still holds what was read. Sent as CURSOR_TEXT_LEN characters of base64url. */
struct LogCursor {
	int32_t flags;     /* CURSOR_* */
	uint64_t volume;   /* PlatFileId.volume */
	uint64_t index;    /* PlatFileId.index */
	int64_t offset;    /* a line start, at most the file's size */
	uint32_t proof;    /* cursor_proof of the CURSOR_PROOF_BYTES (fewer at the start) before offset */
};
enum {
	CURSOR_MULTILINE = 1, /* made for a tail with multiline: the other kind is not one of ours */
	CURSOR_RESEND = 2,    /* offset is where the last entry sent begins: it is read again */
	CURSOR_JOINS = 4,     /* lines without a timestamp at offset continue an entry begun before */
	CURSOR_FLAGS = 7
};
enum { CURSOR_TEXT_LEN = 40, CURSOR_TEXT_SIZE = CURSOR_TEXT_LEN + 1, CURSOR_PROOF_BYTES = 32 };
/* Writes c as CURSOR_TEXT_LEN characters of [A-Za-z0-9_-] into dst (dst_size >= CURSOR_TEXT_SIZE,
 * else dst is left empty). */
void cursor_encode(const LogCursor *c, char *dst, size_t dst_size);
/* Reads a text cursor_encode wrote. Returns 1, or 0 (c then zero) for any other text: another
 * length, another alphabet, version or flag, CURSOR_RESEND or CURSOR_JOINS without
 * CURSOR_MULTILINE, or a negative offset. */
int cursor_decode(const char *text, LogCursor *c);
/* The proof of the bytes p[0..len). */
uint32_t cursor_proof(const char *p, size_t len);

/* What a tail after a cursor answers besides its entries. */
struct CursorAnswer {
	char cursor[CURSOR_TEXT_SIZE]; /* where the next tail goes on */
	int reset;                     /* the entries are a full tail, not what followed the cursor */
	int continues;                 /* the first entry is the last one sent before, grown */
};
/* A tail of at most ring->capacity entries of path that follow the cursor text after: those
 * written since it was made (the newest when more), or a full tail (reset) when after is empty
 * or not a valid cursor of this file as it is now. Only lines ended by a line feed are read.
 * Returns the lines handled, or -1 as tail_log_file does (ans then empty). */
int32_t tail_after_cursor(const char *path, const char *after, int multiline, EntryCollector *ring,
			  CursorAnswer *ans);

/* readers/log_scan_back.cpp */
/* SCAN_BLOCK_SIZE: bytes read at a time. SCAN_LINE_MAX: a hit's line is handed over cut to its
 * first SCAN_LINE_MAX bytes. SCAN_BUDGET: the bytes a whole-file search may scan per request. */
enum { SCAN_BLOCK_SIZE = 1 << 20, SCAN_LINE_MAX = 16384, SCAN_BUDGET = 1 << 30 };
/* Why a scan ended: it reached the floor, the hit callback asked to stop, or the budget ran out. */
enum { SCAN_AT_FLOOR = 0, SCAN_STOPPED = 1, SCAN_OUT_OF_BUDGET = 2 };
/* Failures of scan_back: a block could not be read (the file shrank, an I/O error), or no
 * memory for the block. */
enum { SCAN_READ_ERROR = -1, SCAN_NO_MEMORY = -2 };
/* One hit: the line's bytes without its line feed, cut to SCAN_LINE_MAX, valid until the
 * callback returns, and the offset of the line's first byte. Returns 0 to stop after this line. */
typedef int (*ScanHit)(void *ctx, const char *line, size_t len, int64_t offset);
struct ScanResult {
	int64_t next_before;    /* where a scan for older lines goes on (the start of the oldest
				 * line examined), or -1 when nothing older is left */
	int64_t searched_bytes; /* from next_before, or the floor, up to before */
	int64_t lines;          /* lines whose bytes were examined */
	int32_t stopped;        /* SCAN_AT_FLOOR, SCAN_STOPPED or SCAN_OUT_OF_BUDGET */
};
/* Scans f backwards from offset before (the file's size or an earlier next_before; a value
 * inside a line is taken as that line's end) down to floor (taken as a line start), handing
 * hit every line that holds needle[0..needle_len) under ASCII case folding (an empty needle:
 * every line), newest first. Stops when hit returns 0, or once budget bytes were searched, at
 * the oldest line start of the block it was in (a line longer than the budget that holds no
 * hit is left at a next_before inside it; one that does is read to its start). Returns 0
 * with *out filled, else SCAN_READ_ERROR or SCAN_NO_MEMORY (hits handed over stand; *out is
 * zero with next_before -1). */
int scan_back(FILE *f, int64_t floor, int64_t before, const char *needle, size_t needle_len,
	      int64_t budget, ScanHit hit, void *ctx, ScanResult *out);
/* scan_back reading block_size bytes at a time (raised to needle_len + 1 when smaller). */
int scan_back_blocks(FILE *f, int64_t floor, int64_t before, const char *needle, size_t needle_len,
		     int64_t budget, ScanHit hit, void *ctx, ScanResult *out, size_t block_size);

/* readers/log_search.cpp */
/* How far a whole-file search looked. */
struct FileSearch {
	int64_t size;           /* the file's size when the search began */
	int64_t searched_bytes;
	int64_t lines;          /* lines examined */
	int64_t next_before;    /* where older hits are looked for next, or -1 at the file's start */
};
enum { SEARCH_UNREADABLE = -1, SEARCH_BAD_BEFORE = -2 };
/* Scans path back from offset before (-1: its end) for the entries that hold query (one a
 * line, or with multiline each hit's whole entry, once) into the hit list hits, newest first,
 * until it is full or SCAN_BUDGET bytes were searched. Returns 0 with *out filled,
 * SEARCH_BAD_BEFORE when before lies past the file's end, or SEARCH_UNREADABLE. */
int search_log_file(const char *path, const char *query, int multiline, int64_t before, EntryCollector *hits,
		    FileSearch *out);
/* search_log_file within r (null: all time): from the range's end (or before, when earlier)
 * back to its start, found by log_range_bounds; each hit's entry is kept when its timestamp
 * (or that of the line its entry begins with) lies in r. next_before is -1 at the range's start. */
int search_log_file_range(const char *path, const char *query, int multiline, int64_t before,
			  const TimeRange *range, EntryCollector *hits, FileSearch *out);

/* readers/tool_output.cpp */
/* A command's output turned into UTF-8 as it streams in. Output that starts with a UTF-16LE
 * byte-order mark (dropped) or has a NUL as its second byte is UTF-16LE and decoded, a code
 * unit or surrogate pair split between pieces included, an unpaired surrogate or a lone last
 * byte becoming U+FFFD; any other output passes as bytes. */
struct OutputDecoder {
	int32_t form;         /* undecided, bytes or UTF-16LE */
	int32_t held_count;   /* 0 or 1: the first byte of a code unit not yet complete */
	unsigned char held;
	uint16_t high;        /* a high surrogate waiting for its pair, or 0 */
};
/* The room output_decode needs in dst for in_len bytes of input. */
#define OUTPUT_DECODE_ROOM(in_len) (2 * (size_t)(in_len) + 8)
void output_decoder_init(OutputDecoder *d);
/* Decodes the next in_len bytes of output into dst, which holds OUTPUT_DECODE_ROOM(in_len)
 * bytes; returns how many it wrote. */
size_t output_decode(OutputDecoder *d, const char *in, size_t in_len, char *dst);
/* What the end of the output leaves: at most 8 bytes into dst; returns how many. */
size_t output_decode_end(OutputDecoder *d, char *dst);

/* readers/event_log.cpp */
/* Record grouping of the event query's text output, fed one line at a time. */
struct EventParser {
	const char *log_name;
	const char *query;
	EntrySink sink;
	void *ctx;
	int multiline;      /* descriptions keep their line breaks */
	LogEntry record;    /* the record under construction */
	size_t text_len;    /* of record.text */
	int32_t breaks;     /* blank lines seen since the description's last line */
	int32_t level_sev;  /* severity named by its "Level:" line, or -1 */
	int in_description; /* lines after "Description:" continue the text */
	int from_header;    /* it began with an "Event[N]" line: only the next one ends it */
	int line_open;      /* the last piece did not end in a line feed */
	int32_t finished;
};
void event_parser_init(EventParser *p, const char *log_name, const char *query, int multiline, EntrySink sink,
		       void *ctx);
/* Handles one piece of output as the line reader returns it: a whole line with its line
 * feed, or part of a longer one, which the next piece continues. */
void event_parser_line(EventParser *p, const char *raw, size_t raw_len);
/* Finishes the last record; returns the number of records finished. */
int32_t event_parser_finish(EventParser *p);

enum { EVENT_LINE_SIZE = 8192 };

/* The command's raw output on its way to the parser: decoded, then cut into lines of at most
 * EVENT_LINE_SIZE-1 bytes (a longer line arrives in pieces, each ending at its line feed). */
struct EventStream {
	OutputDecoder decoder;
	EventParser parser;
	int32_t limit;      /* records wanted; 0 or less: no limit */
	size_t line_len;
	char line[EVENT_LINE_SIZE];
};
void event_stream_init(EventStream *s, const char *log_name, int32_t limit, const char *query, int multiline,
		       EntrySink sink, void *ctx);
/* Takes the next raw_len bytes of output. Returns 0 once limit records are finished (the rest
 * is not looked at, now or later), else 1. */
int event_stream_feed(EventStream *s, const char *raw, size_t raw_len);
/* The end of the output: its last line and record. Returns the records finished. */
int32_t event_stream_finish(EventStream *s);

/* Runs the event query for count events of "System" or "Application" and delivers each
 * finished record that passes query (its unit the record's Source, its event_id the record's
 * Event ID; with multiline its description keeps its lines). Returns the records finished (at most count), or -1
 * when the name is refused, the command cannot start, fails before it finished a record,
 * or runs past its time limit (it is then ended; records it delivered before are void). */
int32_t stream_event_log(const char *log_name, int32_t count, const char *query, int multiline, EntrySink sink,
			 void *ctx);
/* stream_event_log for the events r holds (null: all), asked of the tool as an event query. */
int32_t stream_event_log_range(const char *log_name, int32_t count, const TimeRange *r, const char *query,
			       int multiline, EntrySink sink, void *ctx);

/* viewer/mode_html.cpp */
/* Writes the complete viewer page; embedded != 0 leaves out the back link. Returns 0. */
int mode_html(int embedded);

#endif
