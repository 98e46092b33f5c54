// The backward tail against the forward reader: both must keep the same entries for any file.
#include <gtest/gtest.h>

#include <random>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "plugin_logs/plugin_logs.h"
#include "stored.h"

namespace {

const size_t kWindow = 4194304;

std::string random_line(std::mt19937 &rng)
{
	static const size_t lengths[] = {0, 1, 5, 17, 24, 80, 2045, 2046, 2047, 2048, 3000, 4094, 4095, 4096};
	static const char *const heads[] = {"Jan 05 10:00:00 host app[1]: ", "2024-01-15T10:30:00.123Z ", "",
					    "Mar 17 08:15:02 h :", "   "};
	std::string line = heads[rng() % 5];
	size_t len = lengths[rng() % (sizeof(lengths) / sizeof(lengths[0]))];
	while (line.size() < len) {
		unsigned r = rng() % 100;
		if (r < 6)
			line += "\xd0\xb6"; // ж: the chunk cuts must keep it whole in both readers
		else if (r < 8)
			line += '\xe9';      // é of Windows-1252: a line that is not UTF-8
		else
			line += r == 8 ? '\0' : r < 11 ? '\r' : (char)('a' + r % 26);
	}
	line.resize(len);
	unsigned end = rng() % 10;
	line += end == 0 ? "\r\n" : "\n";
	return line;
}

class LogTail : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/pl_tail_XXXXXX";
		int fd = mkstemp(tmpl);
		ASSERT_GE(fd, 0);
		close(fd);
		path_ = tmpl;
	}
	void TearDown() override { unlink(path_.c_str()); }

	void write(const std::string &content)
	{
		FILE *f = fopen(path_.c_str(), "wb");
		ASSERT_NE(f, nullptr);
		fwrite(content.data(), 1, content.size(), f);
		fclose(f);
	}

	// Compares the kept entries of both readers for one ring size, one entry a line and with
	// lines joined into entries.
	void expect_same(int32_t capacity, const std::string &what)
	{
		for (int multiline = 0; multiline <= 1; multiline++) {
			OwnedCollector forward(capacity, 1), backward(capacity, 1);
			ASSERT_GE(read_log_file(path_.c_str(), nullptr, multiline, &forward.c), 0) << what;
			ASSERT_GE(tail_log_file(path_.c_str(), multiline, &backward.c), 0) << what;
			std::vector<Kept> a = kept(forward.c), b = kept(backward.c);
			ASSERT_EQ(a.size(), b.size()) << what << " capacity " << capacity << " multiline " << multiline;
			for (size_t i = 0; i < a.size(); i++) {
				ASSERT_EQ(a[i].ts, b[i].ts) << what << " entry " << i;
				ASSERT_EQ(a[i].unit, b[i].unit) << what << " entry " << i;
				ASSERT_EQ(a[i].text, b[i].text) << what << " entry " << i << " multiline " << multiline;
				ASSERT_EQ(a[i].sev, b[i].sev) << what << " entry " << i;
				ASSERT_EQ(a[i].lines, b[i].lines) << what << " entry " << i;
			}
		}
	}

	std::string path_;
};

TEST_F(LogTail, AgreesWithTheForwardReaderOnSmallFiles)
{
	std::mt19937 rng(12345);
	for (int file = 0; file < 150; file++) {
		std::string content;
		int lines = (int)(rng() % 300);
		for (int i = 0; i < lines; i++)
			content += random_line(rng);
		if (rng() % 3 == 0 && !content.empty())
			content.pop_back(); // no final line feed
		write(content);
		for (int32_t capacity : {1, 3, 200})
			expect_same(capacity, "file " + std::to_string(file));
	}
}

TEST_F(LogTail, AgreesWithTheForwardReaderOnCutWindows)
{
	std::mt19937 rng(777);
	for (int file = 0; file < 12; file++) {
		std::string tail;
		int lines = file % 3 == 0 ? 2 : (int)(rng() % 400);
		for (int i = 0; i < lines; i++)
			tail += random_line(rng);
		// Where the window starts: inside a short line, a long one, or one holding a NUL.
		std::string head;
		while (head.size() < kWindow + 1 - std::min(tail.size(), kWindow)) {
			size_t len = (file % 4 == 1) ? 100000 : 1 + rng() % 5000;
			std::string line(len, 'x');
			for (size_t k = 0; file % 4 == 3 && k + 1 < len; k += 2)
				line.replace(k, 2, "\xd0\xb6"); // the window may start inside a character
			if (file % 4 == 2)
				line[rng() % len] = '\0';
			head += line + "\n";
		}
		head.resize(head.size() + (rng() % 3000));
		write(head + tail);
		for (int32_t capacity : {1, 3, 200, 2000})
			expect_same(capacity, "cut file " + std::to_string(file));
	}
}

TEST_F(LogTail, ResynchronisationThatOutlastsTheFirstLineFeed)
{
	// A NUL shortens a chunk, so the forward reader keeps dropping chunks past the first line
	// feed of a cut window; the backward tail must not start inside that stretch.
	std::string first(kWindow - 15, 'q');
	first[first.size() - 5] = '\0';
	write(std::string(10, 'p') + first + "\n" + std::string("s\0t\n", 4) + "last line\n");
	for (int32_t capacity : {1, 2, 3})
		expect_same(capacity, "long resynchronisation");
}

TEST_F(LogTail, WindowWithoutLineFeedsKeepsNothing)
{
	write(std::string(kWindow + 5000, 'z'));
	expect_same(200, "no line feed");
}

TEST_F(LogTail, FailsLikeTheForwardReader)
{
	OwnedCollector ring(2, 1);
	EXPECT_EQ(tail_log_file("/nonexistent/x.log", 0, &ring.c), -1);
	EXPECT_EQ(tail_log_file("/tmp", 1, &ring.c), -1);
	EXPECT_EQ(ring.c.count, 0);
}

}  // namespace
