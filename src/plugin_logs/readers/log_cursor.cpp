/* Following a log file: the cursor a tail hands out, and the tail of what was written after one. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

/* The cursor's bytes: version, flags, volume, index, offset, proof (big-endian), which base64url
 * carries in exactly CURSOR_TEXT_LEN characters. */
enum { CURSOR_VERSION = 1, CURSOR_BYTES = 1 + 1 + 8 + 8 + 8 + 4 };

static const char BASE64URL[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

static void put_be(unsigned char *p, uint64_t v, int n)
{
	for (int i = n - 1; i >= 0; i--, v >>= 8)
		p[i] = (unsigned char)v;
}

static uint64_t get_be(const unsigned char *p, int n)
{
	uint64_t v = 0;
	for (int i = 0; i < n; i++)
		v = v << 8 | p[i];
	return v;
}

/* The value of one base64url character, or -1. */
static int base64url_value(char ch)
{
	const char *at = ch != '\0' ? strchr(BASE64URL, ch) : NULL;
	return at != NULL ? (int)(at - BASE64URL) : -1;
}

uint32_t cursor_proof(const char *p, size_t len)
{
	/* FNV-1a: a cheap, well-spread hash; the proof guards against a file changed in place,
	 * not against someone who can read the file anyway. */
	uint32_t h = 2166136261u;
	for (size_t i = 0; i < len; i++)
		h = (h ^ (unsigned char)p[i]) * 16777619u;
	return h;
}

void cursor_encode(const LogCursor *c, char *dst, size_t dst_size)
{
	if (dst_size < CURSOR_TEXT_SIZE) {
		if (dst_size > 0)
			dst[0] = '\0';
		return;
	}
	unsigned char raw[CURSOR_BYTES];
	raw[0] = CURSOR_VERSION;
	raw[1] = (unsigned char)(c->flags & CURSOR_FLAGS);
	put_be(raw + 2, c->volume, 8);
	put_be(raw + 10, c->index, 8);
	put_be(raw + 18, (uint64_t)c->offset, 8);
	put_be(raw + 26, c->proof, 4);
	size_t n = 0;
	for (size_t i = 0; i < CURSOR_BYTES; i += 3) {
		uint32_t v = (uint32_t)raw[i] << 16 | (uint32_t)raw[i + 1] << 8 | raw[i + 2];
		for (int shift = 18; shift >= 0; shift -= 6)
			dst[n++] = BASE64URL[(v >> shift) & 63];
	}
	dst[n] = '\0';
}

int cursor_decode(const char *text, LogCursor *c)
{
	memset(c, 0, sizeof(*c));
	/* Bounded: a text of any length is looked at no further than one past a cursor's. */
	if (strnlen(text, CURSOR_TEXT_LEN + 1) != CURSOR_TEXT_LEN)
		return 0;
	unsigned char raw[CURSOR_BYTES];
	for (size_t i = 0, k = 0; i < CURSOR_TEXT_LEN; i += 4, k += 3) {
		uint32_t v = 0;
		for (size_t j = 0; j < 4; j++) {
			int d = base64url_value(text[i + j]);
			if (d < 0)
				return 0;
			v = v << 6 | (uint32_t)d;
		}
		raw[k] = (unsigned char)(v >> 16);
		raw[k + 1] = (unsigned char)(v >> 8);
		raw[k + 2] = (unsigned char)v;
	}
	uint64_t offset = get_be(raw + 18, 8);
	/* Entries are sent again or joined only with multiline: no cursor of ours says otherwise. */
	int flags = raw[1];
	if (raw[0] != CURSOR_VERSION || (flags & ~CURSOR_FLAGS) != 0 ||
	    ((flags & CURSOR_MULTILINE) == 0 && flags != 0) || offset > (uint64_t)INT64_MAX)
		return 0;
	c->flags = raw[1];
	c->volume = get_be(raw + 2, 8);
	c->index = get_be(raw + 10, 8);
	c->offset = (int64_t)offset;
	c->proof = (uint32_t)get_be(raw + 26, 4);
	return 1;
}

/* The proof of the bytes of f before offset (at most size). Returns 1, or 0 when they cannot
 * be read or offset is not where a line begins. */
static int proof_at(FILE *f, int64_t offset, uint32_t *proof)
{
	char before[CURSOR_PROOF_BYTES];
	size_t n = offset < CURSOR_PROOF_BYTES ? (size_t)offset : (size_t)CURSOR_PROOF_BYTES;
	if (n > 0 && (plat_seek(f, offset - (int64_t)n) != 0 || fread(before, 1, n, f) != n))
		return 0;
	if (n > 0 && before[n - 1] != '\n')
		return 0;
	*proof = cursor_proof(before, n);
	return 1;
}

int32_t tail_after_cursor(const char *path, const char *after, int multiline, EntryCollector *ring,
			  CursorAnswer *ans)
{
	ans->cursor[0] = '\0';
	ans->reset = 1;
	ans->continues = 0;
	int64_t start, size;
	FILE *f = open_log_window(path, &start, &size);
	if (f == NULL)
		return -1;
	PlatFileId id;
	if (!plat_file_id(f, &id)) {
		fclose(f);
		return -1;
	}
	/* A cursor counts only for the file it was made on, as that file is now: the same one
	 * (not a rotation's new file or a replacement), not shorter than what was read (not
	 * truncated), and holding the same bytes before the offset (not rewritten in place). */
	LogCursor c;
	uint32_t proof = 0;
	int valid = cursor_decode(after, &c) && (c.flags & CURSOR_MULTILINE) == (multiline ? CURSOR_MULTILINE : 0) &&
		    c.volume == id.volume && c.index == id.index && c.offset <= size && proof_at(f, c.offset, &proof) &&
		    proof == c.proof;
	LogSpan window = {start, size, -1, start > 0, start > 0, -1, -1, 0, NULL, 0};
	if (valid && c.offset >= start) {
		window.from = c.offset;
		window.cut = 0;
		window.joins = (c.flags & CURSOR_JOINS) != 0;
	}
	/* More than the window was written since: its newest part, begun inside a line. */
	int64_t read_from;
	int32_t handled = tail_log_span(f, &window, 1, multiline, ring, &read_from);
	if (handled < 0) {
		fclose(f);
		return -1;
	}

	LogCursor next = {multiline ? CURSOR_MULTILINE : 0, id.volume, id.index, 0, 0};
	if (multiline && ring->count > 0 && window.last_start >= 0) {
		/* The last entry may still take lines: the next tail reads it again. */
		next.flags |= CURSOR_RESEND | (window.last_joins ? CURSOR_JOINS : 0);
		next.offset = window.last_start;
	} else if (window.line_end >= 0) {
		/* Past every line read; with multiline the lines that follow may belong to an entry
		 * that began inside a line, cut at its bounds. */
		next.flags |= multiline ? CURSOR_JOINS : 0;
		next.offset = window.line_end;
	} else if (valid) {
		next = c; /* nothing whole was read: stay */
	}
	if (valid && next.offset == c.offset)
		next.proof = proof;
	else if (!proof_at(f, next.offset, &next.proof))
		next.proof = 0; /* checked again, and refused, by the next tail */
	fclose(f);

	cursor_encode(&next, ans->cursor, sizeof(ans->cursor));
	ans->reset = !valid;
	/* The first entry is the one the cursor's tail sent last only when reading began at it
	 * and the ring let nothing go. */
	ans->continues = valid && multiline && (c.flags & CURSOR_RESEND) != 0 && read_from == c.offset && ring->count > 0 &&
			 ring->taken == ring->count;
	return handled;
}
