// The platform's environment reads, line text conversion, and zero-filled allocation below and
// above the size that asks for huge pages.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "plugin_logs/plugin_logs.h"
#include "platform.h"

namespace {

TEST(PlatGetenv, DefinedEmptyMissingAndTooLong)
{
	char dst[8];
	setenv("PL_TEST_VALUE", "seven77", 1);
	memset(dst, '#', sizeof(dst));
	EXPECT_EQ(plat_getenv("PL_TEST_VALUE", dst, sizeof(dst)), 1);
	EXPECT_STREQ(dst, "seven77");
	// One byte more than dst holds: refused whole, never cut.
	setenv("PL_TEST_VALUE", "eight888", 1);
	EXPECT_EQ(plat_getenv("PL_TEST_VALUE", dst, sizeof(dst)), -1);
	EXPECT_STREQ(dst, "");
	setenv("PL_TEST_VALUE", "", 1);
	memset(dst, '#', sizeof(dst));
	EXPECT_EQ(plat_getenv("PL_TEST_VALUE", dst, sizeof(dst)), 1);
	EXPECT_STREQ(dst, "");
	unsetenv("PL_TEST_VALUE");
	memset(dst, '#', sizeof(dst));
	EXPECT_EQ(plat_getenv("PL_TEST_VALUE", dst, sizeof(dst)), 0);
	EXPECT_STREQ(dst, "");
}

TEST(PlatTextToUtf8, ValidTextStaysWhereItIsAndTheRestIsRepaired)
{
	char dst[64];
	const char valid[] = "caf\xc3\xa9 ok";
	size_t len = strlen(valid);
	EXPECT_EQ(plat_text_to_utf8(valid, &len, dst, sizeof(dst)), valid);
	EXPECT_EQ(len, strlen(valid));
	const char ansi[] = "Caf\xe9!";
	len = strlen(ansi);
	const char *got = plat_text_to_utf8(ansi, &len, dst, sizeof(dst));
	EXPECT_EQ(got, dst);
	EXPECT_EQ(std::string(got, len), "Caf\xef\xbf\xbd!");
}

TEST(PlatAllocZeroed, ArraysAreZeroAndWritableToTheLastByte)
{
	/* A search list, a tail ring of 2000 (over one huge page), one not a huge-page multiple. */
	const size_t counts[] = {1, SEARCH_HITS_MAX, LINES_MAX, 1803};
	for (size_t count : counts) {
		SCOPED_TRACE(count);
		LogEntry *items = (LogEntry *)plat_alloc_zeroed(count, sizeof(LogEntry));
		ASSERT_NE(items, nullptr);
		const unsigned char *bytes = (const unsigned char *)items;
		size_t nonzero = 0;
		for (size_t i = 0; i < count * sizeof(LogEntry); i++)
			nonzero += bytes[i] != 0;
		EXPECT_EQ(nonzero, 0u);
		items[count - 1].text[sizeof(items[0].text) - 1] = 'x';
		free(items);
	}
}

TEST(PlatAllocZeroed, ASizeThatOverflowsIsRefused)
{
	EXPECT_EQ(plat_alloc_zeroed(SIZE_MAX / 2, 3), nullptr);
}

} // namespace
