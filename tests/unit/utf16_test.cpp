// The Windows border's UTF-16 conversions: surrogate pairs, unpaired surrogates, bounds.
#include <gtest/gtest.h>

#include <random>
#include <string.h>
#include <string>
#include <vector>

#include "plugin_logs/plugin_logs.h"
#include "platform/utf16.h"

namespace {

typedef std::vector<uint16_t> Units;

struct ToUtf8Row {
	Units src;
	size_t dst_size;
	std::string want;
	int exact;
};

const std::string kFffd = "\xef\xbf\xbd";

TEST(Utf16ToUtf8, Table)
{
	const ToUtf8Row rows[] = {
		{{}, 16, "", 1},
		{{'J', 'o', 's', 0xE9}, 16, "Jos\xc3\xa9", 1},
		{{0x041F, 0x0451}, 16, "\xd0\x9f\xd1\x91", 1},                   // Пё
		{{0x674E, 0x96F7}, 16, "\xe6\x9d\x8e\xe9\x9b\xb7", 1},           // 李雷
		{{0xFF3C, 0xFF0E}, 16, "\xef\xbc\xbc\xef\xbc\x8e", 1},           // fullwidth \ and .: letters
		{{0xD83D, 0xDE00}, 16, "\xf0\x9f\x98\x80", 1},                   // a surrogate pair
		{{0xDBFF, 0xDFFF}, 16, "\xf4\x8f\xbf\xbf", 1},                   // U+10FFFF
		{{'a', 0xD83D}, 16, "a" + kFffd, 0},                             // a high surrogate at the end
		{{0xD83D, 'b'}, 16, kFffd + "b", 0},                             // not followed by a low one
		{{0xDE00, 0xD83D}, 16, kFffd + kFffd, 0},                        // the pair reversed
		{{0xDC00}, 16, kFffd, 0},                                        // a low surrogate alone
		{{0xD83D, 0xD83D, 0xDE00}, 16, kFffd + "\xf0\x9f\x98\x80", 0},   // a stray high, then a pair
		{{0xFFFD}, 16, kFffd, 1},                                        // U+FFFD itself is a character
		{{'a', 'b', 'c'}, 3, "ab", 0},                                   // does not fit
		{{'a', 0x20AC}, 4, "a", 0},                                      // € needs three bytes
		{{'a', 0x20AC}, 5, "a\xe2\x82\xac", 1},
		{{0xD83D, 0xDE00}, 4, "", 0},                                    // a pair is cut whole
	};
	for (const ToUtf8Row &r : rows) {
		char dst[16];
		memset(dst, '#', sizeof(dst));
		int exact = -1;
		size_t n = utf16_to_utf8(r.src.data(), r.src.size(), dst, r.dst_size, &exact);
		EXPECT_EQ(std::string(dst), r.want) << testing::PrintToString(r.src);
		EXPECT_EQ(n, r.want.size());
		EXPECT_EQ(exact, r.exact) << testing::PrintToString(r.src);
	}
}

TEST(Utf16ToUtf8, ThreeBytesAUnitAlwaysSuffice)
{
	Units src(259, 0xD800); // the worst a Windows name can be: unpaired surrogates throughout
	std::vector<char> dst(3 * src.size() + 1);
	int exact;
	EXPECT_EQ(utf16_to_utf8(src.data(), src.size(), dst.data(), dst.size(), &exact), 3 * src.size());
	EXPECT_EQ(exact, 0);
}

struct ToUtf16Row {
	std::string src;
	size_t dst_size;
	Units want;
	bool fails;
};

TEST(Utf8ToUtf16, Table)
{
	const ToUtf16Row rows[] = {
		{"", 8, {}, false},
		{"Jos\xc3\xa9", 8, {'J', 'o', 's', 0xE9}, false},
		{"\xe6\x97\xa5\xe5\xbf\x97", 8, {0x65E5, 0x5FD7}, false},      // 日志
		{"\xf0\x9f\x98\x80", 8, {0xD83D, 0xDE00}, false},               // a pair
		{"\xf0\x9f\x98\x80", 3, {0xD83D, 0xDE00}, false},
		{"\xf0\x9f\x98\x80", 2, {}, true},                              // a pair fits whole or not
		{"abc", 3, {}, true},
		{"caf\xe9", 8, {}, true},                                       // not UTF-8
		{"\xed\xa0\x80", 8, {}, true},                                  // an encoded surrogate
		{"\xe2\x82", 8, {}, true},
	};
	for (const ToUtf16Row &r : rows) {
		uint16_t dst[8];
		size_t n = utf8_to_utf16(r.src.data(), r.src.size(), dst, r.dst_size);
		if (r.fails) {
			EXPECT_EQ(n, UTF16_FAILED) << testing::PrintToString(r.src);
			EXPECT_EQ(dst[0], 0);
			continue;
		}
		ASSERT_EQ(n, r.want.size()) << testing::PrintToString(r.src);
		EXPECT_EQ(Units(dst, dst + n), r.want);
		EXPECT_EQ(dst[n], 0);
	}
}

TEST(Utf16, EveryValidTextComesBackUnchanged)
{
	// Random code points from every range, surrogates excluded: UTF-8 -> UTF-16 -> UTF-8 and
	// UTF-16 -> UTF-8 -> UTF-16 are both the identity.
	std::mt19937 rng(7);
	const uint32_t tops[] = {0x80, 0x800, 0x10000, 0x110000};
	for (int round = 0; round < 2000; round++) {
		Units units;
		for (int k = rng() % 12; k > 0; k--) {
			uint32_t cp = rng() % tops[rng() % 4];
			if (cp >= 0xD800 && cp <= 0xDFFF)
				cp = 0xE000;
			if (cp >= 0x10000) {
				units.push_back((uint16_t)(0xD800 + ((cp - 0x10000) >> 10)));
				units.push_back((uint16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF)));
			} else {
				units.push_back((uint16_t)(cp == 0 ? 1 : cp));
			}
		}
		char utf8[128];
		int exact;
		size_t n = utf16_to_utf8(units.data(), units.size(), utf8, sizeof(utf8), &exact);
		ASSERT_EQ(exact, 1);
		ASSERT_EQ(utf8_valid_len(utf8, n), n);
		uint16_t back[64];
		size_t m = utf8_to_utf16(utf8, n, back, 64);
		ASSERT_EQ(Units(back, back + m), units);
	}
}

} // namespace
