/* The two collector disciplines, a tail ring and a bounded search hit list, over one text arena. */
#include "plugin_logs/plugin_logs.h"

#include <stdlib.h>
#include <string.h>

int collector_init(EntryCollector *c, int32_t capacity, int is_ring)
{
	memset(c, 0, sizeof(*c));
	c->capacity = capacity;
	c->is_ring = is_ring;
	c->stamped_from = -1;
	c->items = (StoredEntry *)malloc((size_t)capacity * sizeof(StoredEntry));
	/* Not cleared: the system's fresh pages are zero already, and a page no text reaches is
	 * never touched, so a request pays for the texts it keeps, not for the bound. */
	c->arena = (char *)malloc(ENTRY_ARENA_SIZE);
	if (c->items == NULL || c->arena == NULL) {
		collector_free(c);
		return 0;
	}
	return 1;
}

void collector_reset(EntryCollector *c)
{
	c->count = 0;
	c->start = 0;
	c->head = 0;
	c->taken = 0;
	c->arena_full = 0;
	c->stamped_from = -1;
}

void collector_free(EntryCollector *c)
{
	free(c->items);
	free(c->arena);
	c->items = NULL;
	c->arena = NULL;
	c->count = 0;
}

static StoredEntry *slot(EntryCollector *c, int32_t k)
{
	return (StoredEntry *)collector_at(c, k);
}

static void let_oldest_go(EntryCollector *c)
{
	c->start = c->start + 1 == c->capacity ? 0 : c->start + 1;
	c->count--;
	if (c->count == 0)
		c->head = 0;
}

/* Moves the run of kept texts, which always lies from the oldest to the newest, to the
 * arena's start. */
static void move_to_start(EntryCollector *c, size_t base)
{
	memmove(c->arena, c->arena + base, c->head - base);
	c->head -= base;
	for (int32_t k = 0; k < c->count; k++)
		slot(c, k)->off -= (uint32_t)base;
}

/* Makes room for need more bytes at the arena's head, moving the kept texts to its start when
 * they have reached its end. A ring lets its oldest entries go (never keep_last, the entry
 * being extended) until an eighth of the arena is free besides: texts that nearly fill it
 * would otherwise be moved again for every entry. Returns 0 when the room cannot be had. */
static int make_room(EntryCollector *c, size_t need, int32_t keep_last)
{
	size_t slack = c->is_ring ? ENTRY_ARENA_SIZE / 8 : 0;
	for (;;) {
		size_t base = c->count > 0 ? slot(c, 0)->off : c->head;
		size_t live = c->head - base;
		if (live + need + slack <= ENTRY_ARENA_SIZE) {
			move_to_start(c, base);
			return 1;
		}
		if (c->is_ring && c->count > keep_last) {
			let_oldest_go(c);
			continue;
		}
		if (live + need > ENTRY_ARENA_SIZE)
			return 0;
		move_to_start(c, base);
		return 1;
	}
}

/* memcpy for a field: most timestamps and units are 8 to 15 bytes, which two overlapping words
 * copy without a call. */
static inline void copy_field(char *dst, const char *src, size_t n)
{
	if (n >= 8 && n <= 16) {
		uint64_t a, b;
		memcpy(&a, src, 8);
		memcpy(&b, src + n - 8, 8);
		memcpy(dst, &a, 8);
		memcpy(dst + n - 8, &b, 8);
	} else {
		memcpy(dst, src, n);
	}
}

StoredEntry *collector_add(EntryCollector *c, const char *ts, size_t ts_len, const char *unit, size_t unit_len,
			   const char *text, size_t text_len, size_t text_max, int32_t sev, int32_t event_id)
{
	if (!c->is_ring && (c->count >= c->capacity || c->arena_full))
		return NULL;
	if (ts_len > ENTRY_TS_MAX)
		ts_len = utf8_cut(ts, ENTRY_TS_MAX);
	if (unit_len > ENTRY_UNIT_MAX)
		unit_len = utf8_cut(unit, ENTRY_UNIT_MAX);
	if (text_len > text_max)
		text_len = utf8_cut(text, text_max);
	size_t need = ts_len + unit_len + text_len;
	if (c->is_ring && c->count == c->capacity)
		let_oldest_go(c);
	if (ENTRY_ARENA_SIZE - c->head < need && !make_room(c, need, 0)) {
		c->arena_full = 1;
		return NULL;
	}
	StoredEntry *e = slot(c, c->count);
	c->count++;
	c->taken++;
	e->off = (uint32_t)c->head;
	e->ts_len = (uint8_t)ts_len;
	e->unit_len = (uint8_t)unit_len;
	e->text_len = (uint16_t)text_len;
	e->sev = (int16_t)sev;
	e->lines = 1;
	e->event_id = event_id;
	char *p = c->arena + c->head;
	copy_field(p, ts, ts_len);
	copy_field(p + ts_len, unit, unit_len);
	memcpy(p + ts_len + unit_len, text, text_len);
	c->head += need;
	return e;
}

int collector_extend(EntryCollector *c, const char *piece, size_t len, int new_line, size_t text_max)
{
	if (c->count == 0)
		return 0;
	StoredEntry *e = slot(c, c->count - 1);
	size_t add = len + (new_line ? 1 : 0);
	if (e->text_len + add > text_max || (new_line && e->lines >= ENTRY_LINES_MAX))
		return 0;
	if (ENTRY_ARENA_SIZE - c->head < add && !make_room(c, add, 1))
		return 0;
	e = slot(c, c->count - 1);
	char *p = c->arena + c->head;
	if (new_line) {
		*p++ = '\n';
		e->lines++;
	}
	memcpy(p, piece, len);
	c->head += add;
	e->text_len = (uint16_t)(e->text_len + add);
	return 1;
}

void collector_drop_last(EntryCollector *c)
{
	if (c->count == 0)
		return;
	c->count--;
	c->taken--;
	c->head = slot(c, c->count)->off;
	c->arena_full = 0;
}

static void sink_add(EntryCollector *c, const LogEntry *e)
{
	collector_add(c, e->ts, strlen(e->ts), e->unit, strlen(e->unit), e->text, strlen(e->text), ENTRY_TEXT_MAX,
		      e->sev, e->event_id);
}

void shell_sink(void *ctx, const LogEntry *entry)
{
	sink_add(((SinkContext *)ctx)->collector, entry);
}

void hits_sink(void *ctx, const LogEntry *entry)
{
	sink_add(((SinkContext *)ctx)->collector, entry);
}
