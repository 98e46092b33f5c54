// ci_contains, trim_into, the UTF-8 routines and severity_of, one row per edge case.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string.h>
#include <vector>

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

/* The definition, one start position after the other. */
int ci_contains_by_definition(const std::string &hay, const std::string &needle)
{
	auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
	for (size_t p = 0; p + needle.size() <= hay.size(); p++) {
		size_t i = 0;
		while (i < needle.size() && fold((unsigned char)hay[p + i]) == fold((unsigned char)needle[i]))
			i++;
		if (i == needle.size())
			return 1;
	}
	return 0;
}

TEST(CiContainsBytes, AgreesWithTheDefinitionOnRandomTexts)
{
	/* Letters in both cases, the bytes that OR 0x20 joins with them, NUL and bytes beyond
	 * ASCII; haystacks around the eight-byte steps, needles cut out of them (then with cases
	 * changed) or made up. */
	const char alphabet[] = "aAbBzZ@`[{:\x1a \x00\x80\xc3\xe9";
	std::mt19937 rng(2024);
	for (int round = 0; round < 100000; round++) {
		std::string hay(rng() % 41, ' ');
		for (char &c : hay)
			c = alphabet[rng() % (sizeof(alphabet) - 1)];
		std::string needle;
		if (!hay.empty() && rng() % 2 == 0) {
			size_t at = rng() % hay.size();
			needle = hay.substr(at, 1 + rng() % 9);
			for (char &c : needle)
				c = rng() % 2 && c >= 'a' && c <= 'z' ? (char)(c - 32) : c;
		} else {
			needle.resize(rng() % 5);
			for (char &c : needle)
				c = alphabet[rng() % (sizeof(alphabet) - 1)];
		}
		ASSERT_EQ(ci_contains_bytes(hay.data(), hay.size(), needle.data(), needle.size()),
			  ci_contains_by_definition(hay, needle))
			<< testing::PrintToString(hay) << " / " << testing::PrintToString(needle);
		if (hay.find('\0') == std::string::npos && needle.find('\0') == std::string::npos && !needle.empty())
			ASSERT_EQ(ci_contains(hay.c_str(), needle.c_str()), ci_contains_by_definition(hay, needle));
	}
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
				      "re", "try", " ", "x", "\xc3\xa9", "e", "r",
				      // bytes that OR 0x20 joins with the letters and ':' of a keyword
				      "\x1a", "ERR\x1a", "@", "`", "\x14IME"};
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
	{"a\xc3\xa9" "b", 1, 1},              // cut before the lead byte
	{"a\xc3\xa9" "b", 2, 1},              // inside é: back to its lead byte
	{"a\xc3\xa9" "b", 3, 3},              // after é
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

TEST(TrimInto, CutsBetweenCharacters)
{
	// 38 x and é: the 40-byte field has room for 39 bytes, which would end inside é.
	std::string src = "  " + std::string(38, 'x') + "\xc3\xa9  ";
	char dst[40];
	trim_into(dst, sizeof(dst), src.data(), src.size());
	EXPECT_EQ(std::string(dst), std::string(38, 'x'));
}

// A bounded copy into a 64-byte buffer of dst_size: what it holds, and what the call returned.
struct CopyRow {
	std::string src;
	size_t dst_size;
	std::string want;
};

template <typename Copy> void check_copies(const std::vector<CopyRow> &rows, Copy copy)
{
	for (const CopyRow &r : rows) {
		char dst[64];
		memset(dst, '#', sizeof(dst));
		size_t n = copy(dst, r.dst_size, r.src);
		EXPECT_EQ(std::string(dst), r.want) << testing::PrintToString(r.src);
		EXPECT_EQ(n, r.want.size()) << testing::PrintToString(r.src);
		EXPECT_EQ(utf8_valid_len(dst, n), n);
	}
}

TEST(CopyTextCut, Table)
{
	check_copies({
			     {"abc", 4, "abc"},
			     {"abcd", 4, "abc"},
			     {"ab\xe2\x82\xac", 4, "ab"}, // € does not fit whole
			     {"ab\xe2\x82\xac", 6, "ab\xe2\x82\xac"},
			     {"\xf0\x9f\x98\x80", 4, ""},
			     {"x", 1, ""},
		     },
		     [](char *dst, size_t size, const std::string &src) {
			     return copy_text_cut(dst, size, src.data(), src.size());
		     });
}

struct SeqRow {
	std::string bytes;
	int want; // length of the character, or minus the bytes one U+FFFD replaces
};

// The maximal-subpart rule: a lead byte and the continuation bytes that were right for it.
const SeqRow kSeqRows[] = {
	{"A", 1},
	{std::string("\0", 1), 1},
	{"\x7f", 1},
	{"\xc3\xa9", 2},
	{"\xe2\x82\xac", 3},
	{"\xf0\x9f\x98\x80", 4},
	{"\xf4\x8f\xbf\xbf", 4},       // U+10FFFF, the last code point
	{"\xef\xbf\xbd", 3},            // U+FFFD itself
	{"\x80", -1},                   // a continuation byte alone
	{"\xbf", -1},
	{"\xc0\x80", -1},               // overlong NUL: C0 never leads
	{"\xc1\xbf", -1},
	{"\xc3", -1},                   // cut short by the end
	{"\xc3" "A", -1},
	{"\xe2\x82", -2},               // a lead and one right continuation byte
	{"\xe2\x82" "A", -2},
	{"\xe0\x80\x80", -1},           // overlong: E0 needs A0..BF next
	{"\xe0\xa0\x80", 3},
	{"\xed\x9f\xbf", 3},            // U+D7FF
	{"\xed\xa0\x80", -1},           // a surrogate (U+D800): ED needs 80..9F next
	{"\xf0\x80\x80\x80", -1},       // overlong: F0 needs 90..BF next
	{"\xf0\x90\x80", -3},
	{"\xf4\x90\x80\x80", -1},       // past U+10FFFF
	{"\xf5\x80\x80\x80", -1},
	{"\xff", -1},
	{"\xfe", -1},
};

TEST(Utf8Seq, Table)
{
	for (const SeqRow &r : kSeqRows)
		EXPECT_EQ(utf8_seq(r.bytes.data(), r.bytes.size()), r.want) << testing::PrintToString(r.bytes);
}

TEST(Utf8Seq, ReadsNoFurtherThanAvailOrANul)
{
	// avail stops the look at the second byte; a NUL ends a terminated text the same way.
	EXPECT_EQ(utf8_seq("\xc3\xa9", 1), -1);
	EXPECT_EQ(utf8_seq("\xe2\x82\0\xac", 4), -2);
}

struct LenRow {
	std::string s;
	size_t want;
};

void check_lengths(size_t (*measure)(const char *, size_t), const std::vector<LenRow> &rows)
{
	for (const LenRow &r : rows)
		EXPECT_EQ(measure(r.s.data(), r.s.size()), r.want) << testing::PrintToString(r.s);
}

TEST(Utf8ValidLen, Table)
{
	check_lengths(utf8_valid_len, {
		{"", 0},
		{"plain ascii text", 16},
		{"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", 14},
		{"caf\xe9", 3},                          // Windows-1252 é
		{"abcdefgh\xff", 8},                     // the first byte after a whole word of ASCII
		{"abcdefghijklmno\x80xyz", 15},
		{"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3", 8}, // the end cuts the last character
		{"\xd0\xb6\xd0\xb6\xd0" "A", 4},            // a run of two-byte characters, then a bad one
		{"\xe6\x97\xa5\xe5\xbf\x97\xe6\x97", 6},      // three-byte ones, the last cut
		{"\xed\x9f\xbf\xed\xa0\x80", 3},            // ED: surrogates stop the walk
		{"\xe0\xa0\x80\xe0\x80\x80", 3},            // E0: overlong forms too
		{std::string("nul\0inside", 11), 11},     // length-bounded: NUL is a character
	});
}

TEST(Utf8ValidLen, FindsABadByteAtEveryOffset)
{
	// One bad byte at each position of a 40-byte run, so the word loop meets it everywhere.
	for (size_t at = 0; at < 40; at++) {
		std::string s(40, 'a');
		s[at] = '\xff';
		EXPECT_EQ(utf8_valid_len(s.data(), s.size()), at);
		s[at] = '\xd0';
		s.insert(at + 1, "\xb6");
		EXPECT_EQ(utf8_valid_len(s.data(), s.size()), s.size()) << at;
	}
}

/* The length of the valid prefix by the definition: each character decoded to its code point,
 * which must need exactly the bytes used, be no surrogate and not pass U+10FFFF. */
size_t valid_prefix_by_definition(const std::string &s)
{
	size_t i = 0;
	while (i < s.size()) {
		unsigned char b = (unsigned char)s[i];
		size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
		if (n == 0 || i + n > s.size())
			return i;
		uint32_t cp = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
		for (size_t k = 1; k < n; k++) {
			unsigned char c = (unsigned char)s[i + k];
			if ((c & 0xC0) != 0x80)
				return i;
			cp = cp << 6 | (c & 0x3F);
		}
		const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
		if (cp < least[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
			return i;
		i += n;
	}
	return i;
}

TEST(Utf8ValidLen, AgreesWithAReferenceDecoderOnRandomBytes)
{
	/* Runs of ASCII around the sixteen- and eight-byte steps, whole characters of every
	 * length and edge, and single bytes from anywhere. */
	const char *const pieces[] = {"a", "0123456789abcdef", "xyz", "\xc3\xa9", "\xd0\xb6", "\xe2\x82\xac",
				      "\xe0\xa0\x80", "\xed\x9f\xbf", "\xef\xbf\xbd", "\xf0\x9f\x98\x80",
				      "\xf4\x8f\xbf\xbf", "\xc2\x80"};
	std::mt19937 rng(99);
	for (int round = 0; round < 100000; round++) {
		std::string s;
		int n = (int)(rng() % 12);
		for (int i = 0; i < n; i++) {
			if (rng() % 4 == 0)
				s += (char)(rng() % 256);
			else
				s += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
		}
		ASSERT_EQ(utf8_valid_len(s.data(), s.size()), valid_prefix_by_definition(s)) << testing::PrintToString(s);
	}
}

TEST(Utf8WholeLen, Table)
{
	check_lengths(utf8_whole_len, {
		{"abc", 3},
		{"ab\xc3", 2},                // a lead byte alone
		{"ab\xe2\x82", 2},            // two of three bytes
		{"ab\xf0\x9f\x98", 2},        // three of four
		{"ab\xf0\x9f\x98\x80", 6},    // whole
		{"ab\xe2\x82\xac", 5},
		{"ab\x80", 3},                // a stray continuation byte: not a character begun
		{"ab\xe0\x80", 4},            // a wrong second byte: no character either
		{"caf\xe9", 3},               // 1252 é looks like a lead byte and is carried
		{"ab\xff", 3},
		{"\xc3", 0},
		{"", 0},
	});
}

const std::string kFffd = "\xef\xbf\xbd";

TEST(Utf8Repair, Table)
{
	check_copies({
			     {"valid caf\xc3\xa9", 64, "valid caf\xc3\xa9"},
			     {"Gr\xfc\xdf" "e", 64, "Gr" + kFffd + kFffd + "e"}, // Windows-1252 "Grüße"
			     {"\xe2\x82!", 64, kFffd + "!"},                 // one U+FFFD for a cut sequence
			     {"\xed\xa0\x80", 64, kFffd + kFffd + kFffd},    // a surrogate: three
			     {"\xc0\x80", 64, kFffd + kFffd},
			     {"\xf0\x90\x80", 64, kFffd},
			     {"a\xff", 4, "a"},                              // U+FFFD does not fit: stop
			     {"a\xff", 5, "a" + kFffd},
			     {"ab\xc3\xa9", 4, "ab"},                        // nor does é
			     {"", 1, ""},
		     },
		     [](char *dst, size_t size, const std::string &src) {
			     return utf8_repair(src.data(), src.size(), dst, size);
		     });
}

TEST(Utf8Repair, ThreeBytesPerInputByteAlwaysSuffice)
{
	std::string src(200, '\xff');
	std::vector<char> dst(3 * src.size() + 1);
	size_t n = utf8_repair(src.data(), src.size(), dst.data(), dst.size());
	EXPECT_EQ(n, 3 * src.size());
}

} // namespace
