// The tail ring and the search hit list over one text arena, directly and through their sinks.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "plugin_logs/plugin_logs.h"

namespace {

LogEntry numbered(int n)
{
	LogEntry e = {};
	snprintf(e.text, sizeof(e.text), "E%d", n);
	snprintf(e.ts, sizeof(e.ts), "T%d", n);
	snprintf(e.unit, sizeof(e.unit), "U%d", n);
	e.sev = n % 3;
	e.event_id = n;
	return e;
}

std::string text_of(const EntryCollector &c, int32_t k)
{
	const StoredEntry *e = collector_at(&c, k);
	return std::string(stored_text(&c, e), e->text_len);
}

std::vector<std::string> texts(const EntryCollector &c)
{
	std::vector<std::string> out;
	for (int32_t k = 0; k < c.count; k++)
		out.push_back(text_of(c, k));
	return out;
}

struct Collector {
	EntryCollector c;
	Collector(int32_t capacity, int is_ring) { EXPECT_EQ(collector_init(&c, capacity, is_ring), 1); }
	~Collector() { collector_free(&c); }
};

struct RingRow {
	int32_t capacity;
	int fed;
	int32_t want_start;
	int32_t want_count;
};

TEST(Ring, KeepsTheNewestInArrivalOrder)
{
	const RingRow rows[] = {
		{3, 5, 2, 3}, {3, 2, 0, 2}, {1, 4, 0, 1}, {200, 10000, 0, 200}, {3, 0, 0, 0}, {3, 3, 0, 3},
	};
	for (const RingRow &r : rows) {
		Collector ring(r.capacity, 1);
		SinkContext ctx = {&ring.c};
		for (int i = 1; i <= r.fed; i++) {
			LogEntry e = numbered(i);
			shell_sink(&ctx, &e);
		}
		EXPECT_EQ(ring.c.start, r.want_start) << r.capacity << "/" << r.fed;
		ASSERT_EQ(ring.c.count, r.want_count);
		EXPECT_EQ(ring.c.taken, r.fed);
		std::vector<std::string> order = texts(ring.c);
		for (int32_t k = 0; k < ring.c.count; k++)
			EXPECT_EQ(order[(size_t)k], "E" + std::to_string(r.fed - ring.c.count + 1 + k));
	}
}

TEST(Ring, CopiesEveryField)
{
	Collector ring(2, 1);
	SinkContext ctx = {&ring.c};
	LogEntry e = numbered(7);
	shell_sink(&ctx, &e);
	e.text[0] = 'X';
	const StoredEntry *s = collector_at(&ring.c, 0);
	EXPECT_EQ(text_of(ring.c, 0), "E7");
	EXPECT_EQ(std::string(stored_ts(&ring.c, s), s->ts_len), "T7");
	EXPECT_EQ(std::string(stored_unit(&ring.c, s), s->unit_len), "U7");
	EXPECT_EQ(s->sev, 1);
	EXPECT_EQ(s->event_id, 7);
	EXPECT_EQ(s->lines, 1);
}

TEST(HitList, KeepsTheFirstAndDropsTheRest)
{
	Collector hits(2, 0);
	SinkContext ctx = {&hits.c};
	for (int i = 1; i <= 3; i++) {
		LogEntry e = numbered(i);
		hits_sink(&ctx, &e);
	}
	EXPECT_EQ(hits.c.count, 2);
	EXPECT_EQ(hits.c.start, 0);
	EXPECT_EQ(texts(hits.c), (std::vector<std::string>{"E1", "E2"}));
}

TEST(Fields, AreCutBetweenCharactersToTheirBounds)
{
	Collector c(1, 0);
	std::string ts = std::string(38, 't') + "\xc3\xa9";  // 40 bytes: the é would end past 39
	std::string unit(200, 'u');
	std::string text = std::string(1022, 'x') + "\xe2\x82\xac"; // the euro sign spans 1023
	ASSERT_NE(collector_add(&c.c, ts.data(), ts.size(), unit.data(), unit.size(), text.data(), text.size(),
				ENTRY_LINE_TEXT_MAX, SEV_INFO, EVENT_ID_NONE),
		  nullptr);
	const StoredEntry *e = collector_at(&c.c, 0);
	EXPECT_EQ(e->ts_len, 38);
	EXPECT_EQ(e->unit_len, ENTRY_UNIT_MAX);
	EXPECT_EQ(e->text_len, 1022);
}

TEST(Extend, JoinsLinesWithinTheBounds)
{
	Collector c(4, 1);
	ASSERT_NE(collector_add(&c.c, "", 0, "", 0, "first", 5, ENTRY_TEXT_MAX, SEV_UNCLASSIFIED, EVENT_ID_NONE), nullptr);
	EXPECT_EQ(collector_extend(&c.c, "   at A()", 9, 1, ENTRY_TEXT_MAX), 1);
	EXPECT_EQ(collector_extend(&c.c, " and on", 7, 0, ENTRY_TEXT_MAX), 1);
	EXPECT_EQ(text_of(c.c, 0), "first\n   at A() and on");
	EXPECT_EQ(collector_at(&c.c, 0)->lines, 2);

	// At most ENTRY_LINES_MAX lines, and at most the bound of bytes; a refused piece changes nothing.
	for (int i = 2; i < ENTRY_LINES_MAX; i++)
		ASSERT_EQ(collector_extend(&c.c, "x", 1, 1, ENTRY_TEXT_MAX), 1) << i;
	EXPECT_EQ(collector_extend(&c.c, "x", 1, 1, ENTRY_TEXT_MAX), 0);
	EXPECT_EQ(collector_extend(&c.c, "y", 1, 0, ENTRY_TEXT_MAX), 1); // the same line goes on
	std::string before = text_of(c.c, 0);
	std::string big(ENTRY_TEXT_MAX, 'z');
	EXPECT_EQ(collector_extend(&c.c, big.data(), big.size(), 0, ENTRY_TEXT_MAX), 0);
	EXPECT_EQ(text_of(c.c, 0), before);

	Collector empty(1, 1);
	EXPECT_EQ(collector_extend(&empty.c, "x", 1, 1, ENTRY_TEXT_MAX), 0);
}

TEST(DropLast, TakesBackTheNewestEntryAndItsBytes)
{
	Collector hits(3, 0);
	collector_add(&hits.c, "", 0, "", 0, "kept", 4, ENTRY_TEXT_MAX, 0, EVENT_ID_NONE);
	size_t head = hits.c.head;
	collector_add(&hits.c, "", 0, "", 0, "tentative", 9, ENTRY_TEXT_MAX, 0, EVENT_ID_NONE);
	collector_extend(&hits.c, "more", 4, 1, ENTRY_TEXT_MAX);
	collector_drop_last(&hits.c);
	EXPECT_EQ(hits.c.count, 1);
	EXPECT_EQ(hits.c.head, head);
	collector_add(&hits.c, "", 0, "", 0, "next", 4, ENTRY_TEXT_MAX, 0, EVENT_ID_NONE);
	EXPECT_EQ(texts(hits.c), (std::vector<std::string>{"kept", "next"}));
}

// A ring keeps its texts in one run: when the arena's end is reached, the run moves to its
// start, and when the newest texts need more than the arena holds, the oldest entries go.
TEST(Arena, RingMovesItsTextsAndLetsTheOldestGoForRoom)
{
	Collector ring(2000, 1);
	std::string big(ENTRY_TEXT_MAX, 'b');
	size_t per = big.size();
	int32_t fit = (int32_t)(ENTRY_ARENA_SIZE / per);
	int fed = fit + 50;
	for (int i = 0; i < fed; i++) {
		big[0] = (char)('A' + i % 26);
		ASSERT_NE(collector_add(&ring.c, "", 0, "", 0, big.data(), big.size(), ENTRY_TEXT_MAX, 0, i), nullptr);
	}
	// An eighth of the arena stays free, so that full texts are not moved for every entry.
	EXPECT_GE(ring.c.count, fit * 7 / 8 - 1);
	EXPECT_LE(ring.c.count, fit);
	EXPECT_EQ(ring.c.taken, fed);
	for (int32_t k = 0; k < ring.c.count; k++) {
		const StoredEntry *e = collector_at(&ring.c, k);
		ASSERT_EQ(e->event_id, fed - ring.c.count + k);
		ASSERT_EQ(stored_text(&ring.c, e)[0], (char)('A' + e->event_id % 26));
	}

	// Small entries after it: the run moves to the arena's start, all of them still readable.
	Collector small(3, 1);
	std::string line(1000, 's');
	for (int i = 0; i < 20000; i++) {
		line[0] = (char)('a' + i % 26);
		collector_add(&small.c, "ts", 2, "u", 1, line.data(), line.size(), ENTRY_LINE_TEXT_MAX, 0, i);
	}
	ASSERT_EQ(small.c.count, 3);
	for (int32_t k = 0; k < 3; k++) {
		const StoredEntry *e = collector_at(&small.c, k);
		EXPECT_EQ(e->event_id, 19997 + k);
		EXPECT_EQ(std::string(stored_ts(&small.c, e), 2), "ts");
		EXPECT_EQ(stored_text(&small.c, e)[0], (char)('a' + (19997 + k) % 26));
	}
}

TEST(Arena, HitListStopsWhenItsTextsFillIt)
{
	Collector hits(2000, 0);
	std::string big(ENTRY_TEXT_MAX, 'h');
	int32_t fit = (int32_t)(ENTRY_ARENA_SIZE / big.size());
	for (int i = 0; i < fit; i++)
		ASSERT_NE(collector_add(&hits.c, "", 0, "", 0, big.data(), big.size(), ENTRY_TEXT_MAX, 0, i), nullptr);
	EXPECT_EQ(collector_add(&hits.c, "", 0, "", 0, big.data(), big.size(), ENTRY_TEXT_MAX, 0, 0), nullptr);
	EXPECT_EQ(hits.c.arena_full, 1);
	EXPECT_EQ(collector_add(&hits.c, "", 0, "", 0, "x", 1, ENTRY_TEXT_MAX, 0, 0), nullptr);
	EXPECT_EQ(hits.c.count, fit);
}

} // namespace
