// get_query_val and json_str, one row per edge case.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <string.h>
#include <unistd.h>

#include "capture_stdout.h"
#include "plugin_logs/plugin_logs.h"

namespace {

struct QueryRow {
	const char *qs;
	const char *key;
	size_t size;
	int found;
	const char *value;
};

const QueryRow kQueryRows[] = {
	{"a=1&b=2", "b", 64, 1, "2"},
	{"b=", "b", 64, 1, ""},
	{"b", "b", 64, 0, ""},
	{"b=1&b=2", "b", 64, 1, "1"},
	{"&&b=2", "b", 64, 1, "2"},
	{"b=1&", "b", 64, 1, "1"},
	{"x=1&", "b", 64, 0, ""},
	{"b&b=2", "b", 64, 1, "2"},
	{"B=1", "b", 64, 0, ""},
	{"%62=1", "b", 64, 0, ""},
	{"bb=1", "b", 64, 0, ""},
	{"q=a=b", "q", 64, 1, "a=b"},
	{"b=a+b%2Bc", "b", 64, 1, "a b+c"},
	{"b=%41%62", "b", 64, 1, "Ab"},
	{"b=%4", "b", 64, 1, "%4"},
	{"b=%zz", "b", 64, 1, "%zz"},
	{"b=%%41", "b", 64, 1, "%A"},
	{"b=a%00b", "b", 64, 1, "a"},
	{"b=aaaaaaaaaaaaa%41", "b", 16, 1, "aaaaaaaaaaaaa%4"},
	{"b=%41%41%41%41%41%41", "b", 16, 1, "AAAAA"},
	{"b=xyz", "b", 1, 1, ""},
	{"", "b", 64, 0, ""},
	{nullptr, "b", 64, 0, ""},
	{"b=1", "", 64, 0, ""},
};

TEST(GetQueryVal, Table)
{
	for (const QueryRow &row : kQueryRows) {
		char buf[64];
		memset(buf, 'Z', sizeof(buf));
		int found = get_query_val(row.qs, row.key, buf, row.size);
		EXPECT_EQ(found, row.found) << (row.qs ? row.qs : "(null)");
		EXPECT_STREQ(buf, row.value) << (row.qs ? row.qs : "(null)");
	}
}

std::string capture_json_str(const char *s)
{
	return capture_stdout([&] { json_str(s); });
}

TEST(JsonStr, Escapes)
{
	EXPECT_EQ(capture_json_str(nullptr), "\"\"");
	EXPECT_EQ(capture_json_str(""), "\"\"");
	EXPECT_EQ(capture_json_str("a\tb\nc\"d\\e\r"), "\"a\\tb\\nc\\\"d\\\\e\\r\"");
	EXPECT_EQ(capture_json_str("\x1f\x08\x0c"), "\"\\u001f\\u0008\\u000c\"");
	EXPECT_EQ(capture_json_str("\x7f/\xc3\xa9"), "\"\x7f/\xc3\xa9\"");
}

TEST(JsonStr, BytesThatAreNotUtf8BecomeUFFFD)
{
	const std::string fffd = "\xef\xbf\xbd";
	const struct {
		const char *in;
		std::string want;
	} rows[] = {
		{"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
		{"\xff", fffd},
		{"Gr\xfc\xdf" "e", "Gr" + fffd + fffd + "e"},
		{"cut \xe2\x82", "cut " + fffd},           // one for the sequence the end cut
		{"\xe2\x82\"x", fffd + "\\\"x"},            // an escape right after one
		{"\xed\xa0\x80", fffd + fffd + fffd},       // an encoded surrogate
		{"\xc0\x80\n", fffd + fffd + "\\n"},
		{"\xf0\x9f\x98", fffd},
	};
	for (const auto &r : rows)
		EXPECT_EQ(capture_json_str(r.in), "\"" + r.want + "\"") << testing::PrintToString(std::string(r.in));
}

}  // namespace
