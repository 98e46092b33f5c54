/* The follower's cursor for any text: decoding never reads past the text, accepts exactly what
 * encoding writes (a decoded text encodes back to itself), and a tail after any text answers
 * with a cursor of its own and keeps within its ring. */
#include "plugin_logs/plugin_logs.h"

#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>

/* One small log for every run: a few stamped lines, a continuation and an unfinished line. */
static const char BODY[] = "2024-01-15T10:30:00Z one\n2024-01-15T10:30:01Z two\n\tat trace\n"
			   "plain\n2024-01-15T10:30:02Z unfin";

static const char *fixture(void)
{
	static char path[] = "/tmp/pl_fuzz_cursor_XXXXXX";
	static int made = 0;
	if (!made) {
		int fd = mkstemp(path);
		if (fd < 0)
			abort();
		if (write(fd, BODY, sizeof(BODY) - 1) != (ssize_t)(sizeof(BODY) - 1))
			abort();
		close(fd);
		made = 1;
	}
	return path;
}

/* A cursor of the fixture with the given flags and offset, its proof made right, so that reads
 * from any offset are tried, not only refusals. */
static std::string made_right(int32_t flags, int64_t offset)
{
	EntryCollector ring;
	if (!collector_init(&ring, 1, 1))
		abort();
	CursorAnswer ans;
	LogCursor c;
	if (tail_after_cursor(fixture(), "", 0, &ring, &ans) < 0 || !cursor_decode(ans.cursor, &c))
		abort();
	collector_free(&ring);
	c.flags = flags & CURSOR_FLAGS;
	c.offset = offset;
	size_t end = offset < (int64_t)sizeof(BODY) - 1 ? (size_t)offset : sizeof(BODY) - 1;
	size_t n = end < CURSOR_PROOF_BYTES ? end : (size_t)CURSOR_PROOF_BYTES;
	c.proof = cursor_proof(BODY + end - n, n);
	char text[CURSOR_TEXT_SIZE];
	cursor_encode(&c, text, sizeof(text));
	return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	int multiline = data[0] & 1;
	std::string text;
	if ((data[0] & 2) != 0 && size >= 3) {
		/* Layout: mode byte, flags byte, offset byte (0 .. a little past the end). */
		text = made_right(data[1], data[2] % (sizeof(BODY) + 4));
	} else {
		text.assign((const char *)data + 1, size - 1);
		text.resize(strlen(text.c_str()));
	}
	/* Exactly the text's bytes on the heap, so AddressSanitizer sees a read past its NUL. */
	char *copy = (char *)malloc(text.size() + 1);
	memcpy(copy, text.c_str(), text.size() + 1);

	LogCursor c;
	if (cursor_decode(copy, &c)) {
		char again[CURSOR_TEXT_SIZE];
		cursor_encode(&c, again, sizeof(again));
		if (strcmp(again, copy) != 0 || c.offset < 0 || (c.flags & ~CURSOR_FLAGS) != 0)
			abort();
	}

	EntryCollector ring;
	if (!collector_init(&ring, 3, 1))
		abort();
	CursorAnswer ans;
	int32_t handled = tail_after_cursor(fixture(), copy, multiline, &ring, &ans);
	LogCursor next;
	/* continues only with multiline, and never with a full tail. */
	if (handled < 0 || ring.count > 3 || !cursor_decode(ans.cursor, &next) ||
	    ans.continues > (multiline && !ans.reset))
		abort();
	/* No entry is the unfinished line. */
	for (int32_t k = 0; k < ring.count; k++) {
		const StoredEntry *e = collector_at(&ring, k);
		if (e->text_len == 5 && memcmp(stored_text(&ring, e), "unfin", 5) == 0)
			abort();
	}
	collector_free(&ring);
	free(copy);
	return 0;
}
