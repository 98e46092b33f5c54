/* The tail and search documents: one collector, the reader the id selects, then output. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <string.h>

/* The longest entry object: every text byte taking the longest escape, its keys, its event
 * id and a comma. */
enum {
	ENTRY_JSON_MAX = JSON_STR_ROOM(ENTRY_TS_MAX) + JSON_STR_ROOM(ENTRY_UNIT_MAX) + JSON_STR_ROOM(ENTRY_TEXT_MAX) + 96 +
			 3 * 16,
	/* Entries leave in batches: each write through the stream costs more than the bytes of
	 * a typical entry. */
	ENTRY_BATCH_SIZE = ENTRY_JSON_MAX + 16384
};

static size_t put(char *dst, const char *text, size_t len)
{
	memcpy(dst, text, len);
	return len;
}

#define PUT(dst, literal) put(dst, literal, sizeof(literal) - 1)

/* The room the object of e may take. */
static size_t entry_json_room(const StoredEntry *e)
{
	return JSON_STR_ROOM(e->ts_len) + JSON_STR_ROOM(e->unit_len) + JSON_STR_ROOM(e->text_len) + 96 + 3 * 16;
}

/* The length of the first line of text[0..len). */
static size_t first_line_len(const char *text, size_t len)
{
	const char *lf = (const char *)memchr(text, '\n', len);
	return lf != NULL ? (size_t)(lf - text) : len;
}

/* A field's literal: whole words at a time when it needs no escape. The arena holds the field,
 * so the bytes read past its end are the arena's while 16 of them are left before its end. */
static size_t field_json(char *dst, const EntryCollector *c, const char *s, size_t len)
{
	size_t n = 0;
	if ((size_t)(s - c->arena) + len + 16 <= ENTRY_ARENA_SIZE)
		n = json_plain_into(dst, s, len);
	return n != 0 ? n : json_str_into(dst, s, len);
}

/* Writes one entry object into dst, which holds entry_json_room(e) bytes, after a comma
 * unless it is the first. Returns its length. */
static size_t entry_json(char *dst, const EntryCollector *c, const StoredEntry *e, int first)
{
	const char *text = stored_text(c, e);
	/* An entry of several lines takes the level of its first. */
	int32_t sev = e->sev;
	if (sev == SEV_UNCLASSIFIED)
		sev = severity_of_bytes(text, e->lines > 1 ? first_line_len(text, e->text_len) : e->text_len);
	size_t n = first ? PUT(dst, "{\"ts\":") : PUT(dst, ",{\"ts\":");
	n += field_json(dst + n, c, stored_ts(c, e), e->ts_len);
	n += PUT(dst + n, ",\"unit\":");
	n += field_json(dst + n, c, stored_unit(c, e), e->unit_len);
	/* The names need no escape: they go between the quotes as they are. */
	if (sev == SEV_ERR)
		n += PUT(dst + n, ",\"sev\":\"err\",\"text\":");
	else if (sev == SEV_WARN)
		n += PUT(dst + n, ",\"sev\":\"warn\",\"text\":");
	else
		n += PUT(dst + n, ",\"sev\":\"info\",\"text\":");
	n += field_json(dst + n, c, text, e->text_len);
	if (e->event_id != EVENT_ID_NONE)
		n += (size_t)snprintf(dst + n, 32, ",\"event_id\":%d", (int)e->event_id);
	dst[n++] = '}';
	return n;
}

/* Writes the collector's entries comma-separated, in arrival order or the reverse. */
static void write_entries(const EntryCollector *c, int reversed)
{
	char batch[ENTRY_BATCH_SIZE];
	size_t n = 0;
	for (int32_t i = 0; i < c->count; i++) {
		const StoredEntry *e = collector_at(c, reversed ? c->count - 1 - i : i);
		if (sizeof(batch) - n < entry_json_room(e)) {
			out_write(batch, n);
			n = 0;
		}
		n += entry_json(batch + n, c, e, i == 0);
	}
	out_write(batch, n);
}

/* The range's bounds as the request gave them, each only when given. */
static void write_range_echo(const EntryRequest *req)
{
	const TimeRange *r = req->range;
	if (r == NULL)
		return;
	if (r->since.given) {
		out_printf(",\"since\":");
		json_str(r->since.text);
	}
	if (r->until.given) {
		out_printf(",\"until\":");
		json_str(r->until.text);
	}
}

static void write_out_of_memory(void)
{
	json_header();
	out_printf("{\"ok\":false,\"error\":\"out_of_memory\"}\n");
}

/* Runs the reader the identifier's prefix selects; a tail fills a ring, a search a hit list. */
static int32_t run_reader(const LogSource *row, EntryCollector *col, int32_t event_count, const EntryRequest *req,
			  int is_search)
{
	const char *q = is_search ? req->q : NULL;
	const TimeRange *range = time_range_active(req->range) ? req->range : NULL;
	if (strncmp(row->id, "event:", 6) == 0) {
		SinkContext ctx = {col};
		return stream_event_log_range(row->id + 6, event_count, range, q, req->multiline,
					      is_search ? hits_sink : shell_sink, &ctx);
	}
	if (strncmp(row->id, "file:", 5) == 0) {
		if (range != NULL)
			return is_search ? read_log_file_range(row->id + 5, q, req->multiline, range, col)
					 : tail_log_range(row->id + 5, req->multiline, range, col);
		if (is_search)
			return read_log_file(row->id + 5, q, req->multiline, col);
		return tail_log_file(row->id + 5, req->multiline, col);
	}
	return -1;
}

void respond_tail(const LogSource *row, const EntryRequest *req, const char *utc)
{
	EntryCollector ring;
	if (!collector_init(&ring, req->lines, 1)) {
		write_out_of_memory();
		return;
	}
	/* Nothing is written before the reader returns, so a failure never leaves half a document. */
	int following = req->after != NULL && strncmp(row->id, "file:", 5) == 0;
	CursorAnswer cursor;
	int32_t result = following ? tail_after_cursor(row->id + 5, req->after, req->multiline, &ring, &cursor)
				   : run_reader(row, &ring, req->lines, req, 0);
	json_header();
	if (result < 0) {
		out_printf("{\"ok\":false,\"error\":\"unreadable_source\",\"message\":\"the source could not be "
			   "read on this node\",\"src\":");
		json_str(row->id);
		out_printf("}\n");
		collector_free(&ring);
		return;
	}
	out_printf("{\"ok\":true,\"action\":\"tail\",\"plugin\":\"%s\",\"utc\":", PL_IDENT);
	json_str(utc);
	out_printf(",\"src\":");
	json_str(row->id);
	out_printf(",\"label\":");
	json_str(row->label);
	out_printf(",\"kind\":");
	json_str(row->kind);
	write_range_echo(req);
	out_printf(",\"requested\":%d,\"count\":%d", req->lines, ring.count);
	if (following) {
		/* The cursor's characters need no escape. */
		out_printf(",\"cursor\":\"%s\",\"reset\":%s%s", cursor.cursor, cursor.reset ? "true" : "false",
			   cursor.continues ? ",\"continues\":true" : "");
	}
	out_text(",\"entries\":[");
	write_entries(&ring, 0);
	out_printf("]}\n");
	collector_free(&ring);
}

static void write_invalid_before(const char *before)
{
	char echo[REQUESTED_ECHO_SIZE];
	echo_requested(echo, sizeof(echo), before);
	json_header();
	out_printf("{\"ok\":false,\"error\":\"invalid_before\",\"message\":\"before must be a byte offset within "
		   "the file\",\"before\":");
	json_str(echo);
	out_printf("}\n");
}

void respond_search(const LogSource *row, const EntryRequest *req, const char *utc)
{
	if (req->q[0] == '\0') {
		json_header();
		out_printf("{\"ok\":false,\"error\":\"missing_query\",\"message\":\"action=search needs q=<text>\"}\n");
		return;
	}
	/* An event log has no file to read whole: it ignores scope and before. */
	int whole_file = req->scope_file && strncmp(row->id, "file:", 5) == 0;
	if (whole_file && req->before_bad) {
		write_invalid_before(req->before_text);
		return;
	}
	EntryCollector hits;
	if (!collector_init(&hits, SEARCH_HITS_MAX, 0)) {
		write_out_of_memory();
		return;
	}
	int64_t scanned;
	FileSearch fs;
	if (whole_file) {
		int rc = search_log_file_range(row->id + 5, req->q, req->multiline, req->before, req->range, &hits, &fs);
		if (rc == SEARCH_BAD_BEFORE) {
			collector_free(&hits);
			write_invalid_before(req->before_text);
			return;
		}
		scanned = rc < 0 ? -1 : fs.lines;
	} else {
		scanned = run_reader(row, &hits, EVENT_SEARCH_DEPTH, req, 1);
	}
	json_header();
	if (scanned < 0) {
		out_printf("{\"ok\":false,\"error\":\"unreadable_source\",\"src\":");
		json_str(row->id);
		out_printf("}\n");
		collector_free(&hits);
		return;
	}
	out_printf("{\"ok\":true,\"action\":\"search\",\"plugin\":\"%s\",\"utc\":", PL_IDENT);
	json_str(utc);
	out_printf(",\"src\":");
	json_str(row->id);
	out_printf(",\"label\":");
	json_str(row->label);
	out_printf(",\"q\":");
	json_str(req->q);
	write_range_echo(req);
	/* A hit list whose texts filled the arena keeps no more: it is cut short like a full one. */
	int truncated = hits.count >= SEARCH_HITS_MAX || hits.arena_full;
	out_printf(",\"scanned\":%lld,\"count\":%d,\"max\":%d,\"truncated\":%s", (long long)scanned, hits.count,
		   SEARCH_HITS_MAX, truncated ? "true" : "false");
	if (whole_file)
		out_printf(",\"scope\":\"file\",\"searched_bytes\":%lld,\"next_before\":%lld",
			   (long long)fs.searched_bytes, (long long)fs.next_before);
	out_printf(",\"hits\":[");
	/* A whole-file search finds the newest first; its hits are shown in file order. */
	write_entries(&hits, whole_file);
	out_printf("]}\n");
	collector_free(&hits);
}
