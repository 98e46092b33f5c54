// The tail ring and the search hit list, directly and through their sinks.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <vector>

#include "plugin_logs/plugin_logs.h"

namespace {

LogEntry numbered(int n)
{
	LogEntry e = {};
	snprintf(e.text, sizeof(e.text), "E%d", n);
	e.sev = n;
	return e;
}

std::vector<std::string> ring_order(const EntryCollector &c)
{
	std::vector<std::string> out;
	for (int32_t k = 0; k < c.count; k++)
		out.push_back(c.items[(c.start + k) % c.capacity].text);
	return out;
}

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
		std::vector<LogEntry> slots((size_t)r.capacity);
		EntryCollector ring = {slots.data(), r.capacity, 0, 0};
		SinkContext ctx = {&ring};
		for (int i = 1; i <= r.fed; i++) {
			LogEntry e = numbered(i);
			shell_sink(&ctx, &e);
		}
		EXPECT_EQ(ring.start, r.want_start) << r.capacity << "/" << r.fed;
		ASSERT_EQ(ring.count, r.want_count);
		std::vector<std::string> order = ring_order(ring);
		for (int32_t k = 0; k < ring.count; k++)
			EXPECT_EQ(order[(size_t)k], "E" + std::to_string(r.fed - ring.count + 1 + k));
	}
}

TEST(Ring, FiveIntoThreeLeavesTheSlotsAsDocumented)
{
	LogEntry slots[3] = {};
	EntryCollector ring = {slots, 3, 0, 0};
	for (int i = 1; i <= 5; i++) {
		LogEntry e = numbered(i);
		ring_push(&ring, &e);
	}
	EXPECT_STREQ(slots[0].text, "E4");
	EXPECT_STREQ(slots[1].text, "E5");
	EXPECT_STREQ(slots[2].text, "E3");
}

TEST(Ring, CopiesTheEntry)
{
	LogEntry slots[2] = {};
	EntryCollector ring = {slots, 2, 0, 0};
	LogEntry e = numbered(7);
	ring_push(&ring, &e);
	e.text[0] = 'X';
	EXPECT_STREQ(slots[0].text, "E7");
	EXPECT_EQ(slots[0].sev, 7);
}

TEST(HitList, KeepsTheFirstAndDropsTheRest)
{
	LogEntry slots[2] = {};
	EntryCollector hits = {slots, 2, 0, 0};
	SinkContext ctx = {&hits};
	for (int i = 1; i <= 3; i++) {
		LogEntry e = numbered(i);
		hits_sink(&ctx, &e);
	}
	EXPECT_EQ(hits.count, 2);
	EXPECT_EQ(hits.start, 0);
	EXPECT_STREQ(slots[0].text, "E1");
	EXPECT_STREQ(slots[1].text, "E2");
}

TEST(HitList, BoundBelowCapacityStopsEarlier)
{
	LogEntry slots[4] = {};
	EntryCollector hits = {slots, 4, 0, 0};
	for (int i = 1; i <= 4; i++) {
		LogEntry e = numbered(i);
		hits_push(&hits, &e, 2);
	}
	EXPECT_EQ(hits.count, 2);
	EXPECT_STREQ(slots[1].text, "E2");
	EXPECT_STREQ(slots[2].text, "");
}

TEST(HitList, BoundAboveCapacityNeverOverruns)
{
	LogEntry slots[2] = {};
	EntryCollector hits = {slots, 2, 0, 0};
	for (int i = 1; i <= 5; i++) {
		LogEntry e = numbered(i);
		hits_push(&hits, &e, 500);
	}
	EXPECT_EQ(hits.count, 2);
}

} // namespace
