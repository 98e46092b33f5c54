// ci_contains, trim_into and severity_of, one row per edge case.
#include <gtest/gtest.h>

#include <string>
#include <string.h>

#include "plugin_logs/plugin_logs.h"

namespace {

struct ContainsRow {
	const char *hay;
	const char *needle;
	int want;
};

const ContainsRow kContainsRows[] = {
	{"Disk ERROR on sda", "error", 1},
	{"abc", "", 1},
	{"abc", nullptr, 1},
	{nullptr, "x", 1},
	{"", "x", 0},
	{"ab", "abc", 0},
	{"\xc3\x84rger", "\xc3\xa4", 0}, // UTF-8 letters are bytes and do not fold
	{"\xc3\x84rger", "\xc3\x84R", 1},
	{"aaab", "aab", 1},               // a failed partial match restarts one byte later
	{"xyz", "XYZ", 1},
	{"a[b", "[B", 1},                 // '[' and '{' are not capitals of anything
	{"a{b", "[b", 0},
	{"@", "`", 0},
	{"tail", "l", 1},
};

TEST(CiContains, Table)
{
	for (const ContainsRow &r : kContainsRows)
		EXPECT_EQ(ci_contains(r.hay, r.needle), r.want)
			<< (r.hay ? r.hay : "(null)") << " / " << (r.needle ? r.needle : "(null)");
}

struct SeverityRow {
	const char *text;
	int32_t want;
};

const SeverityRow kSeverityRows[] = {
	{"Terrorist alert", SEV_ERR},
	{"stderr: closed", SEV_ERR},
	{"3 errors found", SEV_ERR},
	{"interrupted by user", SEV_INFO},
	{"Access DENIED", SEV_ERR},
	{"prewarning issued", SEV_WARN},
	{"Retrying in 5s", SEV_WARN},
	{"timed out", SEV_INFO},
	{"retry failed", SEV_ERR},
	{"PANIC", SEV_ERR},
	{"", SEV_INFO},
	{"Kernel panic", SEV_ERR},
	{"fatal", SEV_ERR},
	{"CRITICAL section", SEV_ERR},
	{"segfault at 0", SEV_ERR},
	{"Traceback (most recent call last)", SEV_ERR},
	{"job failure", SEV_ERR},
	{"API deprecated", SEV_WARN},
	{"connect TIMEOUT", SEV_WARN},
	{"deprecated, then error", SEV_ERR}, // err keywords come first whatever their place
	{"all good", SEV_INFO},
};

TEST(SeverityOf, Table)
{
	for (const SeverityRow &r : kSeverityRows)
		EXPECT_EQ(severity_of(r.text), r.want) << r.text;
}

/* The classification by definition: the first keyword of the list found anywhere decides. */
int32_t severity_by_definition(const char *text)
{
	static const char *const err_words[] = {"panic", "fatal", "critical", "segfault", "traceback",
						"error", "err:", "failed", "failure", "denied"};
	static const char *const warn_words[] = {"warn", "deprecated", "timeout", "retry"};
	for (const char *w : err_words) {
		if (ci_contains(text, w))
			return SEV_ERR;
	}
	for (const char *w : warn_words) {
		if (ci_contains(text, w))
			return SEV_WARN;
	}
	return SEV_INFO;
}

TEST(SeverityOf, AgreesWithTheKeywordListOnRandomTexts)
{
	/* Pieces of keywords, whole keywords in mixed case and filler, so texts hold near-misses,
	 * overlaps and several keywords in either order. */
	const char *const pieces[] = {"pan", "ic", "PANIC", "Fatal", "crit", "ical", "SegFault", "trace",
				      "back", "ERROR", "err", ":", "ErR:", "fail", "ed", "ure", "denied",
				      "warn", "WaRn", "deprecat", "DEPRECATED", "time", "out", "Retry",
				      "re", "try", " ", "x", "\xc3\xa9", "e", "r"};
	uint32_t seed = 12345;
	for (int round = 0; round < 20000; round++) {
		std::string text;
		seed = seed * 1103515245u + 12345u;
		int n = (int)(seed >> 16) % 9;
		for (int i = 0; i < n; i++) {
			seed = seed * 1103515245u + 12345u;
			text += pieces[(seed >> 16) % (sizeof(pieces) / sizeof(pieces[0]))];
		}
		ASSERT_EQ(severity_of(text.c_str()), severity_by_definition(text.c_str())) << text;
	}
}

struct TrimRow {
	std::string src;
	size_t dst_size;
	std::string want;
};

TEST(TrimInto, Table)
{
	const TrimRow rows[] = {
		{"\t hello world \r\n", 1024, "hello world"},
		{" \t\r\n  ", 1024, ""},
		{"", 1024, ""},
		{"\fx\f", 1024, "\fx\f"},          // form feed is not blank
		{"\vx ", 1024, "\vx"},             // nor vertical tab
		{"a \t b", 1024, "a \t b"},        // inner blanks stay
		{std::string(60, 'x'), 40, std::string(39, 'x')},
		{std::string(39, 'y') + std::string(10, ' '), 40, std::string(39, 'y')},
		{"  ab  cd", 4, "ab "},            // a cut ending in a blank keeps it
		{"abc", 1, ""},
		{std::string("a\0b", 3), 1024, std::string("a", 1)}, // dst ends at its NUL
	};
	for (const TrimRow &r : rows) {
		char dst[1024];
		memset(dst, '#', sizeof(dst));
		trim_into(dst, r.dst_size, r.src.data(), r.src.size());
		EXPECT_EQ(std::string(dst), r.want) << "[" << r.src << "]";
	}
}

TEST(TrimInto, ReadsOnlySrcLen)
{
	char dst[16];
	trim_into(dst, sizeof(dst), " abc def", 5);
	EXPECT_STREQ(dst, "abc");
}

TEST(TrimInto, InPlaceShiftsToTheStart)
{
	char buf[32] = "   moved text  ";
	trim_into(buf, sizeof(buf), buf, strlen(buf));
	EXPECT_STREQ(buf, "moved text");
}


struct CutRow {
	const char *text;
	size_t n;
	size_t want;
};

// "\xc3\xa9" is é (2 bytes), "\xe2\x82\xac" is € (3), "\xf0\x9f\x98\x80" an emoji (4).
const CutRow kCutRows[] = {
	{"abc", 2, 2},
	{"a\xc3\xa9b", 1, 1},                 // cut before the lead byte
	{"a\xc3\xa9b", 2, 1},                 // inside é: back to its lead byte
	{"a\xc3\xa9b", 3, 3},                 // after é
	{"\xe2\x82\xac!", 2, 0},
	{"\xe2\x82\xac!", 1, 0},
	{"x\xf0\x9f\x98\x80!", 4, 1},
	{"x\xf0\x9f\x98\x80!", 5, 5},
	{"\x80\x80\x80\x80\x80z", 4, 1},     // stray continuation bytes: at most three back
	{"\xc3\xa9", 0, 0},
};

TEST(Utf8Cut, Table)
{
	for (const CutRow &r : kCutRows)
		EXPECT_EQ(utf8_cut(r.text, r.n), r.want) << r.text << " at " << r.n;
}

} // namespace
