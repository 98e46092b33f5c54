/* The tail and search documents: one collector, the reader the id selects, then output. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <string.h>

/* An entry object whose every text byte takes the longest escape, and its keys and comma. */
enum {
	ENTRY_JSON_SIZE = JSON_STR_ROOM(sizeof(((LogEntry *)0)->ts)) + JSON_STR_ROOM(sizeof(((LogEntry *)0)->unit)) +
			  JSON_STR_ROOM(sizeof(((LogEntry *)0)->text)) + 64,
	/* Entries leave in batches of this size: each write through the stream costs more than
	 * the bytes of a typical entry. */
	ENTRY_BATCH_SIZE = 2 * ENTRY_JSON_SIZE
};

static size_t put(char *dst, const char *text, size_t len)
{
	memcpy(dst, text, len);
	return len;
}

#define PUT(dst, literal) put(dst, literal, sizeof(literal) - 1)

/* Writes one entry object into dst, which holds ENTRY_JSON_SIZE bytes, after a comma unless it
 * is the first. Returns its length. */
static size_t entry_json(char *dst, const LogEntry *e, int first)
{
	int32_t sev = e->sev == SEV_UNCLASSIFIED ? severity_of(e->text) : e->sev;
	size_t n = first ? PUT(dst, "{\"ts\":") : PUT(dst, ",{\"ts\":");
	n += json_str_into(dst + n, e->ts, sizeof(e->ts));
	n += PUT(dst + n, ",\"unit\":");
	n += json_str_into(dst + n, e->unit, sizeof(e->unit));
	/* The names need no escape: they go between the quotes as they are. */
	if (sev == SEV_ERR)
		n += PUT(dst + n, ",\"sev\":\"err\",\"text\":");
	else if (sev == SEV_WARN)
		n += PUT(dst + n, ",\"sev\":\"warn\",\"text\":");
	else
		n += PUT(dst + n, ",\"sev\":\"info\",\"text\":");
	n += json_str_into(dst + n, e->text, sizeof(e->text));
	dst[n++] = '}';
	return n;
}

/* Writes the collector's entries, slot (start + i) mod capacity for the i-th, comma-separated. */
static void write_entries(const EntryCollector *c)
{
	enum { PREFETCH_AHEAD = 6 };
	char batch[ENTRY_BATCH_SIZE];
	size_t n = 0;
	for (int32_t i = 0; i < c->count; i++) {
		/* The entries were written well before, and 2000 of them reach beyond the second-level
		 * cache: ask for the lines of the fields a few entries ahead. */
		if (i + PREFETCH_AHEAD < c->count) {
			const LogEntry *ahead = &c->items[(c->start + i + PREFETCH_AHEAD) % c->capacity];
			__builtin_prefetch(ahead->ts);
			__builtin_prefetch(ahead->unit + sizeof(ahead->unit) / 2);
			__builtin_prefetch(ahead->text);
			__builtin_prefetch(ahead->text + 64);
		}
		if (sizeof(batch) - n < ENTRY_JSON_SIZE) {
			out_write(batch, n);
			n = 0;
		}
		n += entry_json(batch + n, &c->items[(c->start + i) % c->capacity], i == 0);
	}
	out_write(batch, n);
}

static void write_out_of_memory(void)
{
	json_header();
	out_printf("{\"ok\":false,\"error\":\"out_of_memory\"}\n");
}

/* Runs the reader the identifier's prefix selects; a tail fills a ring, a search a hit list. */
static int32_t run_reader(const LogSource *row, EntryCollector *col, int32_t event_count, const char *q,
			  int is_search)
{
	if (strncmp(row->id, "event:", 6) == 0) {
		SinkContext ctx = {col};
		return stream_event_log(row->id + 6, event_count, q, is_search ? hits_sink : shell_sink, &ctx);
	}
	if (strncmp(row->id, "file:", 5) == 0) {
		if (is_search)
			return read_log_file(row->id + 5, q, NULL, col, SEARCH_HITS_MAX);
		return tail_log_file(row->id + 5, col);
	}
	return -1;
}

void respond_tail(const LogSource *row, int32_t lines, const char *utc)
{
	EntryCollector ring = {NULL, lines, 0, 0};
	ring.items = (LogEntry *)plat_alloc_zeroed((size_t)lines, sizeof(LogEntry));
	if (ring.items == NULL) {
		write_out_of_memory();
		return;
	}
	/* Nothing is written before the reader returns, so a failure never leaves half a document. */
	int32_t result = run_reader(row, &ring, lines, NULL, 0);
	json_header();
	if (result < 0) {
		out_printf("{\"ok\":false,\"error\":\"unreadable_source\",\"message\":\"the source could not be "
			   "read on this node\",\"src\":");
		json_str(row->id);
		out_printf("}\n");
		plat_free_zeroed(ring.items, (size_t)lines, sizeof(LogEntry));
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
	out_printf(",\"requested\":%d,\"count\":%d,\"entries\":[", lines, ring.count);
	write_entries(&ring);
	out_printf("]}\n");
	plat_free_zeroed(ring.items, (size_t)lines, sizeof(LogEntry));
}

void respond_search(const LogSource *row, const char *q, const char *utc)
{
	if (q[0] == '\0') {
		json_header();
		out_printf("{\"ok\":false,\"error\":\"missing_query\",\"message\":\"action=search needs q=<text>\"}\n");
		return;
	}
	EntryCollector hits = {NULL, SEARCH_HITS_MAX, 0, 0};
	hits.items = (LogEntry *)plat_alloc_zeroed(SEARCH_HITS_MAX, sizeof(LogEntry));
	if (hits.items == NULL) {
		write_out_of_memory();
		return;
	}
	int32_t scanned = run_reader(row, &hits, EVENT_SEARCH_DEPTH, q, 1);
	json_header();
	if (scanned < 0) {
		out_printf("{\"ok\":false,\"error\":\"unreadable_source\",\"src\":");
		json_str(row->id);
		out_printf("}\n");
		plat_free_zeroed(hits.items, SEARCH_HITS_MAX, sizeof(LogEntry));
		return;
	}
	out_printf("{\"ok\":true,\"action\":\"search\",\"plugin\":\"%s\",\"utc\":", PL_IDENT);
	json_str(utc);
	out_printf(",\"src\":");
	json_str(row->id);
	out_printf(",\"label\":");
	json_str(row->label);
	out_printf(",\"q\":");
	json_str(q);
	out_printf(",\"scanned\":%d,\"count\":%d,\"max\":%d,\"truncated\":%s,\"hits\":[", scanned, hits.count,
		   SEARCH_HITS_MAX, hits.count >= SEARCH_HITS_MAX ? "true" : "false");
	/* A hit list starts at slot 0. */
	write_entries(&hits);
	out_printf("]}\n");
	plat_free_zeroed(hits.items, SEARCH_HITS_MAX, sizeof(LogEntry));
}
