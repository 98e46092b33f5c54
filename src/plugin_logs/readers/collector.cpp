/* The two collector disciplines: a tail ring and a bounded search hit list. */
#include "plugin_logs/plugin_logs.h"

void ring_push(EntryCollector *ring, const LogEntry *entry)
{
	if (ring->count < ring->capacity) {
		ring->items[(ring->start + ring->count) % ring->capacity] = *entry;
		ring->count++;
		return;
	}
	ring->items[ring->start] = *entry;
	ring->start = (ring->start + 1) % ring->capacity;
}

void hits_push(EntryCollector *hits, const LogEntry *entry, int32_t bound)
{
	if (hits->count < bound && hits->count < hits->capacity) {
		hits->items[hits->count] = *entry;
		hits->count++;
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
