// get_query_val and json_str, one row per edge case.
#include <gtest/gtest.h>

#include <random>
#include <stdio.h>
#include <string>
#include <string.h>
#include <unistd.h>
#include <vector>

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

/* The literal by the table, one byte after the other; a byte from 0x80 begins a character
 * when utf8_seq says so, and stands for U+FFFD with the bytes it names otherwise. */
std::string json_by_definition(const std::string &s)
{
	std::string out = "\"";
	for (size_t i = 0; i < s.size() && s[i] != '\0';) {
		unsigned char c = (unsigned char)s[i];
		if (c >= 0x80) {
			int k = utf8_seq(s.data() + i, s.size() - i);
			out += k > 0 ? s.substr(i, (size_t)k) : "\xef\xbf\xbd";
			i += (size_t)(k > 0 ? k : -k);
			continue;
		}
		char esc[8];
		if (c == '"' || c == '\\')
			out += std::string("\\") + (char)c;
		else if (c == '\n')
			out += "\\n";
		else if (c == '\r')
			out += "\\r";
		else if (c == '\t')
			out += "\\t";
		else if (c < 0x20)
			out += (snprintf(esc, sizeof(esc), "\\u%04x", c), esc);
		else
			out += (char)c;
		i++;
	}
	return out + "\"";
}

TEST(JsonStr, CharactersAcrossTheWritePiecesStayWhole)
{
	/* json_str writes a long text in pieces of 512 bytes: a character or broken sequence
	 * that reaches over a piece's end is written as in the whole text. */
	const char *const around[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xe2\x82", "\xf0\x9f\x98",
				      "\x80\x80\x80\x80\x80"};
	for (const char *piece : around) {
		for (size_t before = 505; before <= 512; before++) {
			std::string s = std::string(before, 'x') + piece + "!" + std::string(600, 'y') + piece;
			EXPECT_EQ(capture_json_str(s.c_str()), json_by_definition(s)) << before << " " << piece;
		}
	}
}

TEST(JsonStr, AgreesWithTheTableOnRandomTexts)
{
	/* Plain runs around the eight-byte steps, every kind of escape, characters and broken
	 * sequences, and texts past the pieces json_str writes in (512 bytes). */
	const std::string long_run(300, 'x');
	const char *const pieces[] = {"a", "plain text", "\"", "\\", "\n", "\r", "\t", "\x01", "\x1f", "\x7f",
				      "/", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xe2\x82", "\xff",
				      "\xed\xa0\x80", "\x80", long_run.c_str()};
	std::mt19937 rng(4242);
	for (int round = 0; round < 3000; round++) {
		std::string s;
		int n = (int)(rng() % 12);
		for (int i = 0; i < n; i++)
			s += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
		std::string want = json_by_definition(s);
		ASSERT_EQ(capture_json_str(s.c_str()), want) << testing::PrintToString(s);
		std::vector<char> out(JSON_STR_ROOM(s.size()));
		ASSERT_EQ(std::string(out.data(), json_str_into(out.data(), s.data(), s.size())), want)
			<< testing::PrintToString(s);
		/* As a field: the text, its NUL and whatever the array held after it. */
		std::string field = s + '\0' + std::string(rng() % 20, '"');
		std::vector<char> room(JSON_STR_ROOM(field.size()));
		ASSERT_EQ(std::string(room.data(), json_str_into(room.data(), field.data(), field.size())), want)
			<< testing::PrintToString(field);
	}
}

}  // namespace
