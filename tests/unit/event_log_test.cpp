// The event record parser fed from memory, and stream_event_log against a fake wevtutil.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "plugin_logs/plugin_logs.h"

namespace {

struct Got {
	std::vector<LogEntry> entries;
};

void collect_sink(void *ctx, const LogEntry *entry)
{
	static_cast<Got *>(ctx)->entries.push_back(*entry);
}

// Feeds text the way the pipe reader does: pieces of at most 8191 bytes, each ending at
// the first line feed.
int32_t parse(const std::string &text, const char *log_name, const char *query, Got *got)
{
	EventParser p;
	event_parser_init(&p, log_name, query, collect_sink, got);
	size_t pos = 0;
	while (pos < text.size()) {
		size_t n = 0;
		while (n < 8191 && pos + n < text.size()) {
			if (text[pos + n++] == '\n')
				break;
		}
		event_parser_line(&p, text.data() + pos, n);
		pos += n;
	}
	return event_parser_finish(&p);
}

struct Want {
	std::string ts;
	std::string unit;
	int32_t sev;
	std::string text;
};

struct ParseRow {
	const char *name;
	std::string input;
	const char *query;
	int32_t finished;
	std::vector<Want> want;
};

const std::string kExample =
	"Event[0]:\n"
	"  Log Name: System\n"
	"  Source: Example Source\n"
	"  Date: 2024-01-15T10:30:00.1230000Z\n"
	"  Level: Information\n"
	"  Description: The print spooler service entered the running state.\n"
	"\n"
	"Event[1]:\n"
	"  Date: 2024-01-15T09:00:00.0000000Z\n"
	"  Level: Information\n"
	"  Description:\n"
	"Text on the following line\n"
	"\n"
	"Event[2]:\n"
	"  Date: 2024-01-15T08:00:00.0000000Z\n"
	"  Description: disk retry scheduled";

const Want kSpooler = {"2024-01-15T10:30:00.1230000Z", "System", 0,
		       "The print spooler service entered the running state."};
const Want kFollowing = {"2024-01-15T09:00:00.0000000Z", "System", 0, "Text on the following line"};
const Want kRetry = {"2024-01-15T08:00:00.0000000Z", "", 1, "disk retry scheduled"};

std::string crlf(const std::string &s)
{
	std::string out;
	for (char c : s) {
		if (c == '\n')
			out += '\r';
		out += c;
	}
	return out;
}

std::string rec(const char *level, const std::string &description)
{
	return std::string("Event[0]:\n  Date: d\n  Level: ") + level + "\n  Description: " + description + "\n\n";
}

std::vector<ParseRow> parse_rows()
{
	const std::string a1023(1023, 'a');
	return {
		{"three records, one with its text on the next line", kExample, nullptr, 3,
		 {kSpooler, kFollowing, kRetry}},
		{"CR LF line ends", crlf(kExample), nullptr, 3, {kSpooler, kFollowing, kRetry}},
		{"empty query is no filter", kExample, "", 3, {kSpooler, kFollowing, kRetry}},
		{"filter on the text, every record counted", kExample, "SPOOLER", 3, {kSpooler}},
		{"filter does not search ts", kExample, "2024", 3, {}},
		{"filter does not search unit", kExample, "System", 3, {}},
		{"empty output", "", nullptr, 0, {}},
		{"only blank lines", "\n\r\n \t\n\n", nullptr, 0, {}},
		{"leading and repeated blank lines finish nothing",
		 "\n\n  Description: one\n\n\n\n  Description: two\n\n", nullptr, 2,
		 {{"", "", 0, "one"}, {"", "", 0, "two"}}},
		{"no Description line: dropped, not counted",
		 "Event[0]:\n  Date: d\n  Level: Error\n\nEvent[1]:\n  Description: kept\n", nullptr, 1,
		 {{"", "", 0, "kept"}}},
		{"bare Description at the end of a record: dropped",
		 "  Date: d\n  Description:\n\n  Description:   \n", nullptr, 0, {}},
		{"description lines joined by one space, each trimmed",
		 "  Description: first\n\t second  \r\n   third\n", nullptr, 1,
		 {{"", "", 0, "first second third"}}},
		{"field lines after Description are text",
		 "  Level: Warning\n  Description:\n  Level: Information\n  Date: x\n", nullptr, 1,
		 {{"", "System", 1, "Level: Information Date: x"}}},
		{"blank line inside a description keeps the first paragraph",
		 "  Date: d\n  Description:\nfirst paragraph\n\nsecond paragraph\n\n  Description: next\n",
		 nullptr, 2, {{"d", "", 0, "first paragraph"}, {"", "", 0, "next"}}},
		{"the issue's example record",
		 "Event[0]:\n  Log Name: Application\n  Source: Example Source\n"
		 "  Date: 2020-12-14T17:09:08.940\n  Event ID: 100\n  Task: None\n  Level: Information\n"
		 "  Opcode: Info\n  Keyword: Classic\n  User: N/A\n  User Name: N/A\n  Computer: HOST-01\n"
		 "  Description:\nSuccessfully scheduled the service for restart.\n",
		 nullptr, 1,
		 {{"2020-12-14T17:09:08.940", "System", 0, "Successfully scheduled the service for restart."}}},
		{"Date remainder cut to 39 characters, then trimmed",
		 "  Date:   " + std::string(40, 'X') + "\n  Description: t\n", nullptr, 1,
		 {{std::string(36, 'X'), "", 0, "t"}}},
		{"later field of the same kind replaces the earlier",
		 "  Date: first\n  Level: Error\n  Date: second\n  Level: Information\n  Description: ok\n",
		 nullptr, 1, {{"second", "System", 0, "ok"}}},
		{"prefixes are case-sensitive",
		 "  date: d\n  LEVEL: Error\n  description: x\n  Description: y\n", nullptr, 1,
		 {{"", "", 0, "y"}}},
		{"prefix must start the trimmed line", "  The Date: d\n  xDescription: x\n", nullptr, 0, {}},
		{"a field line is cut to 1023 characters before its text is taken",
		 "  Description: " + std::string(1100, 'a') + "\n", nullptr, 1,
		 {{"", "", 0, std::string(1010, 'a')}}},
		{"description cut to 1023 characters", "  Description:\n" + a1023 + "bbb\n", nullptr, 1,
		 {{"", "", 0, a1023}}},
		{"joined description cut to 1023 characters",
		 "  Description:\n" + std::string(1020, 'a') + "\nbbbb\n", nullptr, 1,
		 {{"", "", 0, std::string(1020, 'a') + " bb"}}},
		{"a line of 8191 bytes does not split its record",
		 "  Date: d\n  Source: " + std::string(8181, 'x') + "\n  Level: Warning\n  Description: kept\n", nullptr, 1,
		 {{"d", "System", 1, "kept"}}},
		{"the rest of a long line is never a field line",
		 "  Source: " + std::string(8181, 'x') + "Level: Error\n  Description: plain\n", nullptr, 1,
		 {{"", "", 0, "plain"}}},
		{"CR LF that straddles the read buffer",
		 "  Date: d\n  Source: " + std::string(8180, 'x') + "\r\n  Description: kept\n", nullptr, 1,
		 {{"d", "", 0, "kept"}}},
		{"the rest of a long description line is dropped, the next line joins",
		 "  Description: " + std::string(20000, 'z') + "\nmore\n", nullptr, 1,
		 {{"", "", 0, std::string(1010, 'z') + " more"}}},
		{"a NUL byte does not end the record",
		 std::string("  Date: d\n", 10) + std::string("\0junk\n", 6) + "  Description: t\n", nullptr,
		 1, {{"d", "", 0, "t"}}},
		{"Error level", rec("Error", "all fine"), nullptr, 1, {{"d", "System", 2, "all fine"}}},
		{"Critical level", rec("Critical", "all fine"), nullptr, 1, {{"d", "System", 2, "all fine"}}},
		{"Warning level", rec("Warning", "all fine"), nullptr, 1, {{"d", "System", 1, "all fine"}}},
		{"level is case-insensitive", rec("warning", "all fine"), nullptr, 1,
		 {{"d", "System", 1, "all fine"}}},
		{"Warning level outranks an error keyword", rec("Warning", "disk error"), nullptr, 1,
		 {{"d", "System", 1, "disk error"}}},
		{"Information level leaves the keywords", rec("Information", "start failed"), nullptr, 1,
		 {{"d", "System", 2, "start failed"}}},
		{"Verbose level leaves the keywords", rec("Verbose", "timeout reached"), nullptr, 1,
		 {{"d", "System", 1, "timeout reached"}}},
		{"empty level", rec("", "fine"), nullptr, 1, {{"d", "System", 0, "fine"}}},
		{"level does not leak into the next record",
		 rec("Error", "one") + "  Description: two\n", nullptr, 2,
		 {{"d", "System", 2, "one"}, {"", "", 0, "two"}}},
	};
}

TEST(EventParser, Table)
{
	for (const ParseRow &row : parse_rows()) {
		Got got;
		int32_t finished = parse(row.input, "System", row.query, &got);
		EXPECT_EQ(finished, row.finished) << row.name;
		ASSERT_EQ(got.entries.size(), row.want.size()) << row.name;
		for (size_t i = 0; i < row.want.size(); i++) {
			const LogEntry &e = got.entries[i];
			EXPECT_EQ(std::string(e.ts), row.want[i].ts) << row.name << " #" << i;
			EXPECT_EQ(std::string(e.unit), row.want[i].unit) << row.name << " #" << i;
			EXPECT_EQ(e.sev, row.want[i].sev) << row.name << " #" << i;
			EXPECT_EQ(std::string(e.text), row.want[i].text) << row.name << " #" << i;
		}
	}
}

TEST(EventParser, UnitIsTheLogName)
{
	Got got;
	EXPECT_EQ(parse("  Level: Information\n  Description: x\n", "Application", nullptr, &got), 1);
	ASSERT_EQ(got.entries.size(), 1u);
	EXPECT_STREQ(got.entries[0].unit, "Application");
}

// A folder holding a fake wevtutil first on PATH: it records its arguments and where its
// error output goes, prints the canned output, and writes noise to its error output.
class FakeWevtutil : public ::testing::Test {
protected:
	std::string dir, saved_path;

	void SetUp() override
	{
		char tmpl[] = "/tmp/pl_event_XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir = tmpl;
		std::string script = "#!/bin/sh\n"
				     "printf '%s\\n' \"$@\" > '" + dir + "/args'\n"
				     "readlink /proc/$$/fd/2 >> '" + dir + "/args'\n"
				     "cat '" + dir + "/out' 2>/dev/null\n"
				     "echo noise >&2\n";
		write_file("wevtutil", script);
		chmod((dir + "/wevtutil").c_str(), 0755);
		const char *path = getenv("PATH");
		saved_path = path ? path : "";
		setenv("PATH", (dir + ":" + saved_path).c_str(), 1);
	}

	void TearDown() override
	{
		setenv("PATH", saved_path.c_str(), 1);
		for (const char *name : {"wevtutil", "args", "out"})
			unlink((dir + "/" + name).c_str());
		rmdir(dir.c_str());
	}

	void write_file(const char *name, const std::string &text)
	{
		FILE *f = fopen((dir + "/" + name).c_str(), "wb");
		ASSERT_NE(f, nullptr);
		fwrite(text.data(), 1, text.size(), f);
		fclose(f);
	}

	std::string args()
	{
		std::string out;
		FILE *f = fopen((dir + "/args").c_str(), "rb");
		if (f == nullptr)
			return "(not run)";
		int c;
		while ((c = fgetc(f)) != EOF)
			out += (char)c;
		fclose(f);
		return out;
	}
};

TEST_F(FakeWevtutil, RefusedNamesStartNoCommand)
{
	for (const char *name : {"system", "Security", "System ", " System", "", "Application;ls",
				 "SystemX"}) {
		Got got;
		EXPECT_EQ(stream_event_log(name, 200, nullptr, collect_sink, &got), -1) << name;
		EXPECT_EQ(args(), "(not run)") << name;
	}
	Got got;
	EXPECT_EQ(stream_event_log(nullptr, 200, nullptr, collect_sink, &got), -1);
	EXPECT_EQ(args(), "(not run)");
}

TEST_F(FakeWevtutil, CommandLineAndErrorOutput)
{
	write_file("out", kExample);
	Got got;
	EXPECT_EQ(stream_event_log("System", 200, nullptr, collect_sink, &got), 3);
	EXPECT_EQ(got.entries.size(), 3u);
	EXPECT_EQ(args(), "qe\nSystem\n/c:200\n/rd:true\n/f:text\n/dev/null\n");
	Got hits;
	EXPECT_EQ(stream_event_log("Application", 600, "disk", collect_sink, &hits), 3);
	ASSERT_EQ(hits.entries.size(), 1u);
	EXPECT_STREQ(hits.entries[0].unit, "");
	EXPECT_EQ(args(), "qe\nApplication\n/c:600\n/rd:true\n/f:text\n/dev/null\n");
}

TEST_F(FakeWevtutil, NoMoreRecordsThanAskedFor)
{
	std::string out;
	for (int i = 0; i < 5000; i++)
		out += "  Description: record " + std::to_string(i) + "\n\n";
	write_file("out", out);
	Got got;
	EXPECT_EQ(stream_event_log("System", 3, nullptr, collect_sink, &got), 3);
	ASSERT_EQ(got.entries.size(), 3u);
	EXPECT_STREQ(got.entries[0].text, "record 0");
	EXPECT_STREQ(got.entries[2].text, "record 2");
}

TEST_F(FakeWevtutil, SilentOrMissingProducer)
{
	Got got;
	EXPECT_EQ(stream_event_log("System", 200, nullptr, collect_sink, &got), 0);
	EXPECT_NE(args(), "(not run)");
	setenv("PATH", "/nonexistent", 1);
	EXPECT_EQ(stream_event_log("System", 200, nullptr, collect_sink, &got), 0);
	EXPECT_TRUE(got.entries.empty());
}

}  // namespace
