// parse_log_line: the syslog, ISO 8601 and plain shapes, one row per line.
#include <gtest/gtest.h>

#include <string>
#include <string.h>

#include "plugin_logs/plugin_logs.h"

namespace {

struct ShapeRow {
	std::string line;
	const char *ts;
	std::string unit;
	std::string text;
	int32_t sev;
};

void check(const ShapeRow &r)
{
	LogEntry e;
	memset(&e, 'x', sizeof(e));
	parse_log_line(&e, r.line.data(), r.line.size());
	e.sev = severity_of(e.text);
	EXPECT_STREQ(e.ts, r.ts) << r.line;
	EXPECT_EQ(std::string(e.unit), r.unit) << r.line;
	EXPECT_EQ(std::string(e.text), r.text) << r.line;
	EXPECT_EQ(e.sev, r.sev) << r.line;
}

TEST(LineShape, Table)
{
	const std::string unit63(63, 'u');
	const std::string unit64(64, 'u');
	const ShapeRow rows[] = {
		// syslog
		{"Jan 05 10:00:00 myhost sshd[1234]: Accepted publickey for admin\n", "Jan 05 10:00:00",
		 "sshd[1234]", "Accepted publickey for admin", SEV_INFO},
		{"Mar 17 08:15:02 build-07 cron[881]:   job finished with error 3  \r\n", "Mar 17 08:15:02",
		 "cron[881]", "job finished with error 3", SEV_ERR},
		{"Mar 17 08:15:02 build-07 this line has no colon at all", "Mar 17 08:15:02", "",
		 "this line has no colon at all", SEV_INFO},
		{"Mar 17 08:15:02 build-07 :leading colon", "Mar 17 08:15:02", "", "leading colon", SEV_INFO},
		{"Jan 05 10:00:00 h", "Jan 05 10:00:00", "", "", SEV_INFO},
		{"Jan 05 10:00:00 h\tx y: z", "Jan 05 10:00:00", "y", "z", SEV_INFO}, // a tab is part of the host
		{"Jan 05 10:00:00  two spaces: t", "Jan 05 10:00:00", "two spaces", "t", SEV_INFO}, // empty host
		{"Jan 05 10:00:00 h " + unit63 + ": x", "Jan 05 10:00:00", unit63, "x", SEV_INFO},
		{"Jan 05 10:00:00 h " + unit64 + ": x", "Jan 05 10:00:00", "", unit64 + ": x", SEV_INFO},
		{"Jan 05 10:00:00 h myerror: fine", "Jan 05 10:00:00", "myerror", "fine", SEV_INFO}, // unit not classified
		{"x1Y 5Z ab:cdefghi h u: t", "x1Y 5Z ab:cdefg", "h u", "t", SEV_INFO}, // only indices 0,3,4,6,9 tested
		{"1an 05 10:00:00 h u: t", "", "", "1an 05 10:00:00 h u: t", SEV_INFO},
		{"\xc3\x84n 05 10:00:00 h u: t", "", "", "\xc3\x84n 05 10:00:00 h u: t", SEV_INFO},
		{"Jan  5 10:00:00 myhost kernel: oops", "", "", "Jan  5 10:00:00 myhost kernel: oops", SEV_INFO},
		{"Jan 05 10:00:00 ", "", "", "Jan 05 10:00:00 ", SEV_INFO}, // 16 characters: too short
		// ISO 8601
		{"2024-01-15T10:30:00.123Z ERROR something failed", "2024-01-15T10:30:00.123Z", "",
		 "ERROR something failed", SEV_ERR},
		{"2024-01-15 10:30:00,123 WARN retrying in 5s", "2024-01-15 10:30:00,123", "",
		 "WARN retrying in 5s", SEV_WARN},
		{"2024-01-15T10:30:00\tTab separated", "2024-01-15T10:30:00", "", "Tab separated", SEV_INFO},
		{"2024-01-15T10:30:00.123456+00:00 INFO ok", "2024-01-15T10:30:00.1234", "", "INFO ok", SEV_INFO},
		{"2024-01-15T10:30:00.1234567+00:00 INFO ok", "2024-01-15T10:30:00.1234", "", "0 INFO ok",
		 SEV_INFO},
		{"2024-01-15T10:30:00.000Z", "2024-01-15T10:30:00.000Z", "", "", SEV_INFO},
		{"2024-01-15T10:30:00.000Z \t text  ", "2024-01-15T10:30:00.000Z", "", "text  ", SEV_INFO},
		{"2024-01-15T10:30:00Z", "", "", "2024-01-15T10:30:00Z", SEV_INFO},
		{"2024-01-15x10:30:00 t", "", "", "2024-01-15x10:30:00 t", SEV_INFO},
		// plain
		{"[2024-01-15 10:30:00] bracketed", "", "", "[2024-01-15 10:30:00] bracketed", SEV_INFO},
		{"   indented line with Timeout   ", "", "", "   indented line with Timeout   ", SEV_WARN},
		{"\n", "", "", "", SEV_INFO},
		{"\r\n", "", "", "", SEV_INFO},
		{"\r", "", "", "", SEV_INFO},
		{"", "", "", "", SEV_INFO},
		{"mid\rline\r\r\n\n", "", "", "mid\rline", SEV_INFO},
		{std::string(2047, 'p'), "", "", std::string(1023, 'p'), SEV_INFO},
	};
	for (const ShapeRow &r : rows)
		check(r);
}

TEST(LineShape, FieldsAreCutBetweenCharacters)
{
	const std::string e = "\xc3\xa9"; // é, two bytes
	const ShapeRow rows[] = {
		// The syslog ts is 15 bytes; é at index 14 would be split by it (and the host, from
		// index 16, is empty).
		{"Jan 05 10:00:0" + e + " h u: t", "Jan 05 10:00:0", "h u", "t", SEV_INFO},
		// The ISO ts is at most 24 bytes; é at index 23 would be split by it.
		{"2024-01-15T10:30:00.123" + e + " x", "2024-01-15T10:30:00.123", "", "x", SEV_INFO},
		// The end-of-ts scan stops at index 32, inside é: the text begins after it.
		{"2024-01-15T10:30:00.12345678901" + e + "rest", "2024-01-15T10:30:00.1234", "", "rest",
		 SEV_INFO},
		// 1023 bytes of text: 1022 a and é do not fit, so é goes.
		{std::string(1022, 'a') + e + "zz", "", "", std::string(1022, 'a'), SEV_INFO},
		{"2024-01-15T10:30:00 " + std::string(1022, 'a') + e, "2024-01-15T10:30:00", "",
		 std::string(1022, 'a'), SEV_INFO},
		{"Jan 05 10:00:00 h u:" + std::string(1022, 'a') + e, "Jan 05 10:00:00", "u",
		 std::string(1022, 'a'), SEV_INFO},
		{"Jan 05 10:00:00 h \xd1\x81\xd0\xbb\xd1\x83\xd0\xb6\xd0\xb1\xd0\xb0: " + e, "Jan 05 10:00:00",
		 "\xd1\x81\xd0\xbb\xd1\x83\xd0\xb6\xd0\xb1\xd0\xb0", e, SEV_INFO},
	};
	for (const ShapeRow &r : rows)
		check(r);
}

TEST(LineShape, SyslogTextIsCutBeforeItIsTrimmed)
{
	// 1023 characters after the colon: a blank at the cut edge is trimmed with the rest.
	std::string text = " " + std::string(1021, 'a') + " bbb";
	std::string line = "Jan 05 10:00:00 h u:" + text;
	LogEntry e;
	parse_log_line(&e, line.data(), line.size());
	EXPECT_EQ(std::string(e.text), std::string(1021, 'a'));
}

TEST(LineShape, IsoTextIsCutTo1023)
{
	std::string line = "2024-01-15T10:30:00 " + std::string(1500, 'z');
	LogEntry e;
	parse_log_line(&e, line.data(), line.size());
	EXPECT_EQ(std::string(e.text), std::string(1023, 'z'));
}

} // namespace
