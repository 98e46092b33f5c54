// Time ranges: the since and until values, a timestamp against them, the year syslog leaves
// out, and the event query they become.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>
#include <time.h>

#include "plugin_logs/plugin_logs.h"

namespace {

// Runs the test body in a time zone, restoring the one before.
class InZone {
public:
	explicit InZone(const char *tz)
	{
		const char *old = getenv("TZ");
		had_ = old != nullptr;
		if (had_)
			old_ = old;
		setenv("TZ", tz, 1);
		tzset();
	}
	~InZone()
	{
		if (had_)
			setenv("TZ", old_.c_str(), 1);
		else
			unsetenv("TZ");
		tzset();
	}

private:
	bool had_ = false;
	std::string old_;
};

TEST(TimeRange, AcceptedValues)
{
	struct Row {
		const char *text;
		int64_t since_key, until_key;
	};
	const Row rows[] = {
		{"2024-01-15T10:05", 20240115100500, 20240115100560},
		{"2024-01-15T10:05:07", 20240115100507, 20240115100507},
		{"2024-02-29T23:59:59", 20240229235959, 20240229235959}, // a leap year's day
		{"2000-02-29T00:00", 20000229000000, 20000229000060},    // 2000 is a leap year
		{"0001-01-01T00:00", 10101000000, 10101000060},
		{"9999-12-31T23:59:59", 99991231235959, 99991231235959},
	};
	for (const Row &r : rows) {
		TimeRange range;
		ASSERT_EQ(time_range_parse(&range, r.text, r.text), nullptr) << r.text;
		EXPECT_TRUE(range.since.given && range.until.given) << r.text;
		EXPECT_EQ(range.since.key, r.since_key) << r.text;
		EXPECT_EQ(range.until.key, r.until_key) << r.text;
		EXPECT_STREQ(range.since.text, r.text);
		EXPECT_TRUE(time_range_active(&range));
	}
}

TEST(TimeRange, RefusedValues)
{
	const char *const rows[] = {
		"2024-02-30T10:00",     // no such day
		"2023-02-29T10:00",     // not a leap year
		"1900-02-29T10:00",     // nor is 1900
		"2024-04-31T10:00",
		"2024-13-01T10:00",
		"2024-00-10T10:00",
		"2024-01-00T10:00",
		"2024-01-15T24:00",     // hour 24
		"2024-01-15T10:60",
		"2024-01-15T10:05:60",  // a leap second is not asked for
		"2024-01-15t10:05",
		"2024-01-15 10:05",
		"2024-01-15T10:05Z",
		"2024-01-15T10:05:07.123",
		"2024-01-15T10:05+01:00",
		"2024-01-15",
		"2024-1-15T10:05",
		"2024-01-15T1:05",
		"+2024-01-15T10:05",
		" 2024-01-15T10:05",
		"2024-01-15T10:05 ",
		"２０２４-01-15T10:05", // full-width digits
		"2024-01-15T10:0５",
		"yesterday",
		"1705313100",
	};
	for (const char *text : rows) {
		TimeRange range;
		EXPECT_STREQ(time_range_parse(&range, text, ""), "since") << text;
		EXPECT_STREQ(time_range_parse(&range, "", text), "until") << text;
	}
}

TEST(TimeRange, SinceIsCheckedFirstAndEmptyIsNotGiven)
{
	TimeRange range;
	EXPECT_STREQ(time_range_parse(&range, "bad", "worse"), "since");
	EXPECT_STREQ(time_range_parse(&range, "2024-01-15T10:05", "worse"), "until");
	ASSERT_EQ(time_range_parse(&range, "", ""), nullptr);
	EXPECT_FALSE(time_range_active(&range));
	EXPECT_FALSE(time_range_active(nullptr));
	ASSERT_EQ(time_range_parse(&range, "", "2024-01-15T10:05"), nullptr);
	EXPECT_FALSE(range.since.given);
	EXPECT_TRUE(time_range_active(&range));
}

// Timestamps as real writers put them, compared as written: the zone suffix is not applied,
// fractions count with their second.
TEST(TimeRange, TimestampsAgainstARange)
{
	TimeRange r;
	ASSERT_EQ(time_range_parse(&r, "2024-01-15T10:00:30", "2024-01-15T10:05"), nullptr);
	time_range_set_file_time(&r, 1705320000); // 2024-01-15T12:00:00Z
	struct Row {
		const char *ts;
		int in;
	};
	const Row rows[] = {
		{"2024-01-15T10:00:29.999Z", 0},
		{"2024-01-15T10:00:30Z", 1},               // since is inclusive
		{"2024-01-15 10:00:30,001", 1},            // log4j, Python
		{"2024-01-15T10:05:59.9999999+01:00", 1},  // .NET round trip: the last instant of until
		{"2024-01-15T10:05:59-05:00", 1},          // as written, not moved to UTC
		{"2024-01-15T10:06:00.000+00:00", 0},
		{"2024-01-15T10:05:60Z", 1},               // a leap second belongs to its minute
		{"2024/01/15 10:03:00", 1},                // nginx error log
		{"15-Jan-2024 10:04:00.123", 1},           // Tomcat
		{"15.01.2024 10:01:00", 1},                // .NET de-DE
		{"1/15/2024 10:02:00 AM", 1},              // .NET en-US
		{"1/15/2024 10:02:00 PM", 0},
		{"Mon Jan 15 10:04:00 2024", 1},           // Apache error log
		{"Jan 15 10:04:00", 1},                    // syslog: the year from the file
		{"01-15 10:04:00.123", 1},                 // logcat
		{"2023-01-15T10:03:00Z", 0},
		{"2025-01-15T10:03:00Z", 0},
	};
	for (const Row &row : rows) {
		int64_t key = time_range_key(&r, row.ts, strlen(row.ts));
		ASSERT_GE(key, 0) << row.ts;
		EXPECT_EQ(time_range_holds(&r, key), row.in) << row.ts;
	}
	EXPECT_EQ(time_range_key(&r, "", 0), -1);
	EXPECT_EQ(time_range_key(&r, "not a time", 10), -1);
}

TEST(TimeRange, OpenEndsAndAnEmptyRange)
{
	TimeRange since_only, until_only, backwards;
	ASSERT_EQ(time_range_parse(&since_only, "2024-01-15T10:00", ""), nullptr);
	ASSERT_EQ(time_range_parse(&until_only, "", "2024-01-15T10:00"), nullptr);
	ASSERT_EQ(time_range_parse(&backwards, "2024-01-15T11:00", "2024-01-15T10:00"), nullptr);
	const char *early = "2000-01-01T00:00:00", *late = "2099-01-01T00:00:00";
	EXPECT_FALSE(time_range_holds(&since_only, time_range_key(&since_only, early, strlen(early))));
	EXPECT_TRUE(time_range_holds(&since_only, time_range_key(&since_only, late, strlen(late))));
	EXPECT_TRUE(time_range_holds(&until_only, time_range_key(&until_only, early, strlen(early))));
	EXPECT_FALSE(time_range_holds(&until_only, time_range_key(&until_only, late, strlen(late))));
	const char *between = "2024-01-15T10:30:00";
	EXPECT_FALSE(time_range_holds(&backwards, time_range_key(&backwards, between, strlen(between))));
}

// Syslog and logcat leave out the year: the one that puts the line last at or before the
// file's modification, on the node's clock.
TEST(TimeRange, YearOfTimestampsWithoutOne)
{
	InZone zone("UTC0");
	struct Row {
		int64_t mtime;
		const char *ts;
		int64_t key;
	};
	const Row rows[] = {
		{1704196800, "Dec 31 23:59:59", 20231231235959}, // mtime 2024-01-02T12:00Z
		{1704196800, "Jan  2 12:00:00", 20240102120000}, // the same second
		{1704196800, "Jan  2 12:00:01", 20230102120001}, // one past: a year back
		{1704196800, "Jan  1 08:00:00", 20240101080000},
		{1709208000, "Feb 29 12:00:00", 20240229120000}, // mtime 2024-02-29T12:00Z
		{1704196800, "12-31 23:00:00.000", 20231231230000},
	};
	for (const Row &row : rows) {
		TimeRange r;
		ASSERT_EQ(time_range_parse(&r, "", ""), nullptr);
		EXPECT_EQ(time_range_key(&r, row.ts, strlen(row.ts)), -1) << "no file time yet";
		time_range_set_file_time(&r, row.mtime);
		EXPECT_EQ(time_range_key(&r, row.ts, strlen(row.ts)), row.key) << row.ts;
	}
	// The file's time is taken on the node's clock: 23:30 UTC is already the next year
	// two hours east.
	InZone east("EET-2");
	TimeRange r;
	ASSERT_EQ(time_range_parse(&r, "", ""), nullptr);
	time_range_set_file_time(&r, 1704065400); // 2023-12-31T23:30:00Z, 01:30 local
	EXPECT_EQ(time_range_key(&r, "Jan  1 01:00:00", 15), 20240101010000);
	EXPECT_EQ(time_range_key(&r, "Jan  1 02:00:00", 15), 20230101020000);
}

TEST(TimeRange, EventQueryInUtc)
{
	struct Row {
		const char *zone, *since, *until, *query;
	};
	const Row rows[] = {
		{"UTC0", "2024-01-15T09:05", "2024-01-15T10:05",
		 "*[System[TimeCreated[@SystemTime>='2024-01-15T09:05:00.000Z' and "
		 "@SystemTime<='2024-01-15T10:05:59.999Z']]]"},
		{"UTC0", "2024-01-15T09:05:07", "", "*[System[TimeCreated[@SystemTime>='2024-01-15T09:05:07.000Z']]]"},
		{"UTC0", "", "2024-01-15T10:05:07", "*[System[TimeCreated[@SystemTime<='2024-01-15T10:05:07.999Z']]]"},
		// Five hours west: local 21:30 on New Year's Eve is 02:30 UTC of the new year.
		{"EST5", "2023-12-31T21:30", "", "*[System[TimeCreated[@SystemTime>='2024-01-01T02:30:00.000Z']]]"},
		// Summer time by the zone's rules for that date.
		{"CET-1CEST,M3.5.0,M10.5.0/3", "2024-07-01T12:00", "2024-01-01T12:00",
		 "*[System[TimeCreated[@SystemTime>='2024-07-01T10:00:00.000Z' and "
		 "@SystemTime<='2024-01-01T11:00:59.999Z']]]"},
	};
	for (const Row &row : rows) {
		InZone zone(row.zone);
		TimeRange r;
		ASSERT_EQ(time_range_parse(&r, row.since, row.until), nullptr);
		char query[200];
		ASSERT_EQ(event_time_query(&r, query, sizeof(query)), 1) << row.since;
		EXPECT_STREQ(query, row.query);
	}
	TimeRange none;
	ASSERT_EQ(time_range_parse(&none, "", ""), nullptr);
	char query[200];
	EXPECT_EQ(event_time_query(&none, query, sizeof(query)), 0);
	EXPECT_STREQ(query, "");
	EXPECT_EQ(event_time_query(nullptr, query, sizeof(query)), 0);
	TimeRange both;
	ASSERT_EQ(time_range_parse(&both, "2024-01-15T09:05", "2024-01-15T10:05"), nullptr);
	char small[40];
	EXPECT_EQ(event_time_query(&both, small, sizeof(small)), 0);
	EXPECT_STREQ(small, "");
}

} // namespace
