/* Output primitives: the JSON header block, JSON string literals, formatted writes. */
#include "plugin_logs/plugin_logs.h"
#include "plugin_logs/words.h"

#include <emmintrin.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

void out_write(const char *data, size_t len)
{
	if (len > 0)
		fwrite(data, 1, len, stdout);
}

void out_text(const char *text)
{
	fputs(text, stdout);
}

void out_printf(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vfprintf(stdout, fmt, ap);
	va_end(ap);
}

int fmt_into(char *dst, size_t dst_size, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(dst, dst_size, fmt, ap);
	va_end(ap);
	if (n < 0) {
		dst[0] = '\0';
		return 0;
	}
	return (size_t)n < dst_size;
}

void json_header(void)
{
	static const char header[] = "Content-Type: application/json; charset=utf-8\r\n"
				     "Cache-Control: no-store\r\n"
				     "X-Content-Type-Options: nosniff\r\n"
				     "\r\n";
	out_write(header, sizeof(header) - 1);
}

/* Marks the bytes of w that a JSON string cannot hold as they are (control bytes, quote,
 * backslash) and those that begin a character to be checked (0x80 and above). */
static uint64_t special_bytes(uint64_t w)
{
	/* XOR 0x02 turns the quote into 0x20 and keeps the control bytes below it, so one test
	 * finds both; the high bits are kept by it, and found with the same mask. */
	uint64_t y = w ^ (WORD_ONES * 0x02);
	return (((y - WORD_ONES * 0x21) | y) & WORD_HIGHS) | zero_bytes(w ^ (WORD_ONES * '\\'));
}

static int is_special(unsigned char c)
{
	return c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
}

/* The escape of the byte or sequence at s[0..len) that is special, into out (room for 6 bytes);
 * *used gets the bytes of s it stands for. Returns its length. */
static size_t escape_at(const char *s, size_t len, char *out, size_t *used)
{
	static const char hex[] = "0123456789abcdef";
	unsigned char c = (unsigned char)s[0];
	*used = 1;
	if (c >= 0x80) {
		int k = utf8_seq(s, len);
		if (k > 0) {
			*used = (size_t)k;
			memcpy(out, s, (size_t)k);
			return (size_t)k;
		}
		/* The readers hand over UTF-8; this is the last line that keeps every document UTF-8
		 * whatever a text held. */
		*used = (size_t)-k;
		memcpy(out, UTF8_REPLACEMENT, 3);
		return 3;
	}
	out[0] = '\\';
	switch (c) {
	case '"': out[1] = '"'; return 2;
	case '\\': out[1] = '\\'; return 2;
	case '\n': out[1] = 'n'; return 2;
	case '\r': out[1] = 'r'; return 2;
	case '\t': out[1] = 't'; return 2;
	default:
		memcpy(out + 1, "u00", 3);
		out[4] = hex[c >> 4];
		out[5] = hex[c & 15];
		return 6;
	}
}

/* Writes the inside of the literal for the text s, which ends at its first NUL or after size
 * bytes, all of which may be read, to dst, which holds ESCAPE_ROOM(size) bytes. Returns its
 * length. */
#define ESCAPE_ROOM(size) (JSON_STR_ROOM(size) - 2)
static size_t escape_into(char *dst, const char *s, size_t size)
{
	const unsigned char *p = (const unsigned char *)s;
	size_t w = 0;
	size_t i = 0;
	for (;;) {
		/* Plain bytes are copied a word at a time, as they are checked: a word may be
		 * stored past the plain ones, and what follows them overwrites it. The NUL that
		 * ends a text is a control byte and stops the words like any other. */
		uint64_t m = 0;
		for (; size - i >= 8; i += 8, w += 8) {
			uint64_t x = load_word(p + i);
			memcpy(dst + w, &x, sizeof(x));
			m = special_bytes(x);
			if (m != 0)
				break;
		}
		size_t plain;
		if (m != 0) {
			plain = first_marked(m);
		} else if (i == size) {
			break;
		} else if (size >= 8) {
			/* The last bytes, moved to the bottom of the word that ends the text. */
			size_t left = size - i;
			uint64_t x = load_word(p + size - 8) >> (8 * (8 - left));
			memcpy(dst + w, &x, sizeof(x));
			m = special_bytes(x) & (~0ull >> (8 * (8 - left)));
			if (m == 0) {
				w += left;
				break;
			}
			plain = first_marked(m);
		} else {
			for (plain = 0; i + plain < size && !is_special(p[i + plain]); plain++)
				dst[w + plain] = (char)p[i + plain];
			if (i + plain == size) {
				w += plain;
				break;
			}
		}
		i += plain;
		w += plain;
		if (p[i] == '\0')
			break;
		size_t used;
		w += escape_at(s + i, size - i, dst + w, &used);
		i += used;
	}
	return w;
}

size_t json_plain_into(char *dst, const char *s, size_t len)
{
	enum { PLAIN_MAX = 64 };
	if (len > PLAIN_MAX)
		return 0;
	const __m128i below_space = _mm_set1_epi8(0x20);
	const __m128i quote = _mm_set1_epi8('"');
	const __m128i backslash = _mm_set1_epi8('\\');
	dst[0] = '"';
	for (size_t i = 0; i < len; i += 16) {
		__m128i x = _mm_loadu_si128((const __m128i *)(s + i));
		_mm_storeu_si128((__m128i *)(dst + 1 + i), x);
		/* A signed compare finds the control bytes and, as negative, those of 0x80 and up. */
		__m128i special = _mm_or_si128(_mm_cmplt_epi8(x, below_space),
					       _mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash)));
		unsigned m = (unsigned)_mm_movemask_epi8(special);
		if (len - i < 16)
			m &= (1u << (len - i)) - 1;
		if (m != 0)
			return 0;
	}
	dst[1 + len] = '"';
	return len + 2;
}

size_t json_str_into(char *dst, const char *s, size_t size)
{
	dst[0] = '"';
	size_t n = 1 + escape_into(dst + 1, s, size);
	dst[n] = '"';
	return n + 1;
}

void json_str(const char *s)
{
	/* Any text, in pieces that end between characters: no character and no invalid
	 * sequence spans two of them, so each is escaped as it would be in the whole. */
	enum { PIECE_MAX = 512 };
	char out[ESCAPE_ROOM(PIECE_MAX)];
	size_t len = s != NULL ? strlen(s) : 0;
	out_write("\"", 1);
	for (size_t i = 0; i < len;) {
		size_t n = len - i > PIECE_MAX ? utf8_cut(s + i, PIECE_MAX) : len - i;
		out_write(out, escape_into(out, s + i, n));
		i += n;
	}
	out_write("\"", 1);
}
