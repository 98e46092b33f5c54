/* The two collector disciplines: a tail ring and a bounded search hit list. */
#include "plugin_logs/plugin_logs.h"

LogEntry *ring_next_slot(EntryCollector *ring)
{
	if (ring->count < ring->capacity)
		return &ring->items[(ring->start + ring->count) % ring->capacity];
	return &ring->items[ring->start];
}

void ring_keep_next(EntryCollector *ring)
{
	if (ring->count < ring->capacity)
		ring->count++;
	else
		ring->start = (ring->start + 1) % ring->capacity;
}

void ring_push(EntryCollector *ring, const LogEntry *entry)
{
	*ring_next_slot(ring) = *entry;
	ring_keep_next(ring);
}

LogEntry *hits_next_slot(EntryCollector *hits, int32_t bound)
{
	if (hits->count < bound && hits->count < hits->capacity)
		return &hits->items[hits->count];
	return NULL;
}

void hits_keep_next(EntryCollector *hits)
{
	hits->count++;
}

void hits_push(EntryCollector *hits, const LogEntry *entry, int32_t bound)
{
	LogEntry *slot = hits_next_slot(hits, bound);
	if (slot != NULL) {
		*slot = *entry;
		hits_keep_next(hits);
	}
}

void shell_sink(void *ctx, const LogEntry *entry)
{
	ring_push(((SinkContext *)ctx)->collector, entry);
}

void hits_sink(void *ctx, const LogEntry *entry)
{
	EntryCollector *hits = ((SinkContext *)ctx)->collector;
	hits_push(hits, entry, hits->capacity);
}
