// ts_fields: a recognised timestamp read back into its date and time, one row per layout.
#include <gtest/gtest.h>

#include <string>
#include <string.h>

#include "plugin_logs/plugin_logs.h"

namespace {

struct FieldsRow {
	const char *ts;
	int32_t year, month, day, hour, minute, second;
};

TEST(TsFields, EachLayout)
{
	const FieldsRow rows[] = {
		{"2024-01-15T10:30:00Z", 2024, 1, 15, 10, 30, 0},
		{"2024-01-15 10:31:00.123 +01:00", 2024, 1, 15, 10, 31, 0},
		{"2024-01-15T10:30:00.1234567+01:00", 2024, 1, 15, 10, 30, 0},
		{"2024-01-15T10:30:00-0500", 2024, 1, 15, 10, 30, 0},
		{"2024-01-15 10:30:00,123", 2024, 1, 15, 10, 30, 0},
		{"2024-12-31T23:59:60Z", 2024, 12, 31, 23, 59, 60},
		{"2024/01/15 10:30:00.1234567", 2024, 1, 15, 10, 30, 0},
		{"24/01/15 10:34:00", 2024, 1, 15, 10, 34, 0},
		{"15-Jan-2024 10:40:00.123", 2024, 1, 15, 10, 40, 0},
		{"20240115 103000", 2024, 1, 15, 10, 30, 0},
		{"20240115-10:30:00", 2024, 1, 15, 10, 30, 0},
		{"240115 10:30:00", 2024, 1, 15, 10, 30, 0},
		{"240115-103000", 2024, 1, 15, 10, 30, 0},
		{"Jan  5 09:12:44", 0, 1, 5, 9, 12, 44},
		{"Jan 05 09:12:44", 0, 1, 5, 9, 12, 44},
		{"dec 31 23:59:59", 0, 12, 31, 23, 59, 59},
		{"Mon Jan 15 10:38:00 2024", 2024, 1, 15, 10, 38, 0},
		{"Mon Jan 15 10:38:00.123456 2024", 2024, 1, 15, 10, 38, 0},
		{"01-15 10:30:00.123", 0, 1, 15, 10, 30, 0},
		{"1/15/2024 3:04:05 PM", 2024, 1, 15, 15, 4, 5},
		{"12/31/2024 12:00:00 AM", 2024, 12, 31, 0, 0, 0},
		{"12/31/2024 12:00:00 PM", 2024, 12, 31, 12, 0, 0},
		{"15/01/2024 15:04:05", 2024, 1, 15, 15, 4, 5},
		{"02/01/2024 15:04:05", 2024, 1, 2, 15, 4, 5}, // without AM/PM it is day first
		{"15.01.2024 15:04:05", 2024, 1, 15, 15, 4, 5},
		{"Jan 15, 2024 10:40:00 AM", 2024, 1, 15, 10, 40, 0},
	};
	for (const FieldsRow &r : rows) {
		TsFields f;
		memset(&f, 0x55, sizeof(f));
		ASSERT_EQ(ts_fields(r.ts, strlen(r.ts), &f), 1) << r.ts;
		EXPECT_EQ(f.year, r.year) << r.ts;
		EXPECT_EQ(f.month, r.month) << r.ts;
		EXPECT_EQ(f.day, r.day) << r.ts;
		EXPECT_EQ(f.hour, r.hour) << r.ts;
		EXPECT_EQ(f.minute, r.minute) << r.ts;
		EXPECT_EQ(f.second, r.second) << r.ts;
	}
}

TEST(TsFields, NotATimestamp)
{
	const char *const rows[] = {
		"", "2024-01-15", "2024-01-15T10:30:00 trailing", "2024-01-15T10:30:00Z ", "2024-00-15T10:30:00",
		"2024-01-00T10:30:00", "Foo  5 09:12:44", "Jan 32 09:12:44", "13/15/2024 3:04:05 PM", "[2024-01-15 10:30:00]",
		"t", "1705314600",
	};
	for (const char *ts : rows) {
		TsFields f;
		memset(&f, 0x55, sizeof(f));
		EXPECT_EQ(ts_fields(ts, strlen(ts), &f), 0) << ts;
		EXPECT_EQ(f.year, 0x55555555) << ts; // untouched
	}
}

// Every ts that shape_log_line finds reads back, JSON epoch times included.
TEST(TsFields, ReadsWhatShapingFinds)
{
	static char scratch[SHAPE_SCRATCH_SIZE];
	const std::string lines[] = {
		"[Mon Jan 15 10:38:00.123456 2024] [core:error] x",
		"time=\"2024-01-15T10:30:00Z\" level=error",
		"2024-01-15 10:30:31, Info CBS x",
		R"({"level":30,"time":1705314600123,"msg":"m"})",
		R"({"level":"info","ts":1705314600.5,"msg":"m"})",
	};
	for (const std::string &line : lines) {
		LineShape s;
		shape_log_line(&s, line.data(), line.size(), scratch);
		TsFields f;
		ASSERT_EQ(ts_fields(s.ts, s.ts_len, &f), 1) << line;
		EXPECT_EQ(f.month, 1) << line;
		EXPECT_EQ(f.day, 15) << line;
	}
}

} // namespace
