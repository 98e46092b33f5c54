// A collector the test owns, and its kept entries as plain values.
#ifndef PL_TEST_STORED_H
#define PL_TEST_STORED_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_logs/plugin_logs.h"

struct OwnedCollector {
	EntryCollector c;
	OwnedCollector(int32_t capacity, int is_ring) { EXPECT_EQ(collector_init(&c, capacity, is_ring), 1); }
	~OwnedCollector() { collector_free(&c); }
	OwnedCollector(const OwnedCollector &) = delete;
	OwnedCollector &operator=(const OwnedCollector &) = delete;
};

struct Kept {
	std::string ts, unit, text;
	int32_t sev;
	int32_t event_id;
	int32_t lines;
};

// The kept entries in arrival order.
inline std::vector<Kept> kept(const EntryCollector &c)
{
	std::vector<Kept> out;
	for (int32_t k = 0; k < c.count; k++) {
		const StoredEntry *e = collector_at(&c, k);
		out.push_back({std::string(stored_ts(&c, e), e->ts_len), std::string(stored_unit(&c, e), e->unit_len),
			       std::string(stored_text(&c, e), e->text_len), e->sev, e->event_id, e->lines});
	}
	return out;
}

inline std::vector<std::string> kept_texts(const EntryCollector &c)
{
	std::vector<std::string> out;
	for (const Kept &k : kept(c))
		out.push_back(k.text);
	return out;
}

#endif
