// The block line reader against a byte loop over the same bytes.
#include <gtest/gtest.h>

#include <random>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <string.h>
#include <unistd.h>

#include "plugin_logs/plugin_logs.h"

namespace {

/* The next piece by the definition: from pos, the bytes up to and including the first line
 * feed, at most max of them; its text ends at its first NUL. */
size_t piece_by_definition(const std::string &data, size_t pos, size_t max, size_t *text_len)
{
	size_t n = 0;
	while (pos + n < data.size() && n < max) {
		if (data[pos + n++] == '\n')
			break;
	}
	size_t nul = data.find('\0', pos);
	*text_len = nul != std::string::npos && nul < pos + n ? nul - pos : n;
	return n;
}

std::string random_content(std::mt19937 &rng)
{
	/* Lines of every length up to past a block, some empty, some with NUL bytes, some files
	 * without a last line feed. */
	std::string data;
	int lines = (int)(rng() % 60);
	for (int i = 0; i < lines; i++) {
		size_t len = rng() % 4 == 0 ? rng() % (2 * LINE_BLOCK_SIZE) : rng() % 120;
		std::string line(len, 'l');
		for (char &c : line)
			c = rng() % 50 == 0 ? '\0' : (char)('a' + rng() % 26);
		data += line + "\n";
	}
	if (rng() % 3 == 0)
		data += std::string(rng() % 3000, 'e');
	return data;
}

TEST(LineReader, AgreesWithAByteLoopOnRandomFiles)
{
	std::mt19937 rng(31337);
	for (int file = 0; file < 300; file++) {
		std::string data = random_content(rng);
		char path[] = "/tmp/pl_line_reader_XXXXXX";
		int fd = mkstemp(path);
		ASSERT_GE(fd, 0);
		ASSERT_EQ(write(fd, data.data(), data.size()), (ssize_t)data.size());
		close(fd);
		FILE *f = fopen(path, "rb");
		unlink(path);
		ASSERT_NE(f, nullptr);
		/* Unbuffered, as plat_log_open gives it, or with a stream buffer of any size: the
		 * pieces must not depend on how the reads come. */
		if (file % 3 == 0)
			setvbuf(f, NULL, _IONBF, 0);
		else if (file % 3 == 1)
			setvbuf(f, NULL, _IOFBF, 1 + rng() % 9000);
		LineReader r;
		line_reader_init(&r, f);
		size_t pos = 0;
		for (int call = 0;; call++) {
			/* The reader's own piece size most of the time, any other below a block too. */
			size_t max = rng() % 4 == 0 ? 1 + rng() % (LINE_BLOCK_SIZE - 1) : 2047;
			const char *piece;
			size_t text_len, want_text_len;
			size_t got = line_reader_next(&r, &piece, &text_len, max);
			size_t want = piece_by_definition(data, pos, max, &want_text_len);
			ASSERT_EQ(got, want) << "file " << file << " call " << call << " at " << pos;
			if (got == 0)
				break;
			ASSERT_EQ(text_len, want_text_len) << "file " << file << " call " << call;
			ASSERT_EQ(std::string(piece, got), data.substr(pos, got)) << "file " << file << " call " << call;
			pos += got;
			/* Now and then a few bytes given back, as a chunk cut inside a character is. */
			if (rng() % 8 == 0) {
				size_t back = rng() % (got < 4 ? got + 1 : 4);
				line_reader_unread(&r, back);
				pos -= back;
			}
		}
		EXPECT_EQ(pos, data.size()) << "file " << file;
		fclose(f);
	}
}

}  // namespace
