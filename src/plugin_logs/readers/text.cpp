/* Byte-wise text routines shared by both readers: matching, trimming, UTF-8 cuts and checks,
 * severity. */
#include "plugin_logs/plugin_logs.h"

#include <string.h>

/* ASCII-only folding: the process never changes locale, so no byte above 0x7F folds. */
static unsigned char fold(unsigned char c)
{
	return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + ('a' - 'A')) : c;
}

/* 1 when word starts at p under ASCII case folding; the NUL ending p never matches. */
static int folded_prefix(const unsigned char *p, const char *word)
{
	size_t i = 0;
	while (word[i] != '\0' && fold(p[i]) == fold((unsigned char)word[i]))
		i++;
	return word[i] == '\0';
}

int ci_contains(const char *hay, const char *needle)
{
	if (hay == NULL || needle == NULL || needle[0] == '\0')
		return 1;
	unsigned char first = fold((unsigned char)needle[0]);
	for (const unsigned char *h = (const unsigned char *)hay; *h != '\0'; h++) {
		if (fold(*h) == first && folded_prefix(h, needle))
			return 1;
	}
	return 0;
}

static int is_blank(unsigned char c)
{
	return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

void trim_into(char *dst, size_t dst_size, const char *src, size_t src_len)
{
	size_t a = 0;
	size_t b = src_len;
	while (a < b && is_blank((unsigned char)src[a]))
		a++;
	while (b > a && is_blank((unsigned char)src[b - 1]))
		b--;
	/* Three of the four callers trim a buffer into itself; copy_text_cut moves. */
	copy_text_cut(dst, dst_size, src + a, b - a);
}

size_t utf8_cut(const char *s, size_t n)
{
	/* A UTF-8 sequence is at most four bytes: at most three continuation bytes follow its
	 * lead byte, so a longer run of them is not one character and backing off stops there. */
	for (size_t back = 0; back < 3 && n > 0 && ((unsigned char)s[n] & 0xC0) == 0x80; back++)
		n--;
	return n;
}

size_t copy_text_cut(char *dst, size_t dst_size, const char *src, size_t len)
{
	if (len > dst_size - 1)
		len = utf8_cut(src, dst_size - 1);
	memmove(dst, src, len);
	dst[len] = '\0';
	return len;
}

int utf8_seq(const char *s, size_t avail)
{
	const unsigned char *p = (const unsigned char *)s;
	unsigned char lo = 0x80, hi = 0xBF;
	int need;
	if (p[0] < 0x80)
		return 1;
	/* The second byte's range excludes overlong forms (E0, F0), surrogates (ED) and code
	 * points past U+10FFFF (F4); C0, C1 and F5 to FF never start a character. */
	if (p[0] >= 0xC2 && p[0] <= 0xDF) {
		need = 1;
	} else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
		need = 2;
		lo = p[0] == 0xE0 ? 0xA0 : 0x80;
		hi = p[0] == 0xED ? 0x9F : 0xBF;
	} else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
		need = 3;
		lo = p[0] == 0xF0 ? 0x90 : 0x80;
		hi = p[0] == 0xF4 ? 0x8F : 0xBF;
	} else {
		return -1;
	}
	for (int i = 1; i <= need; i++) {
		if ((size_t)i >= avail || p[i] < lo || p[i] > hi)
			return -i;
		lo = 0x80;
		hi = 0xBF;
	}
	return need + 1;
}

size_t utf8_valid_len(const char *s, size_t len)
{
	const unsigned char *p = (const unsigned char *)s;
	size_t i = 0;
	while (i < len) {
		if (p[i] < 0x80) {
			/* Eight ASCII bytes at a time: most log text never leaves this loop. */
			uint64_t word;
			while (len - i >= sizeof(word)) {
				memcpy(&word, p + i, sizeof(word));
				if ((word & 0x8080808080808080ull) != 0)
					break;
				i += sizeof(word);
			}
			while (i < len && p[i] < 0x80)
				i++;
			continue;
		}
		/* The forms of most non-ASCII text, Latin to Cyrillic (two bytes) and the rest of the
		 * first plane but its edges (three), without the general case's range tests. */
		if (p[i] >= 0xC2 && p[i] <= 0xDF && len - i >= 2 && (p[i + 1] & 0xC0) == 0x80) {
			do
				i += 2;
			while (len - i >= 2 && p[i] >= 0xC2 && p[i] <= 0xDF && (p[i + 1] & 0xC0) == 0x80);
			continue;
		}
		if (p[i] >= 0xE1 && p[i] <= 0xEC && len - i >= 3 && (p[i + 1] & 0xC0) == 0x80 &&
		    (p[i + 2] & 0xC0) == 0x80) {
			i += 3;
			continue;
		}
		int k = utf8_seq(s + i, len - i);
		if (k < 0)
			break;
		i += (size_t)k;
	}
	return i;
}

size_t utf8_whole_len(const char *s, size_t len)
{
	for (size_t back = 1; back <= 3 && back <= len; back++) {
		unsigned char b = (unsigned char)s[len - back];
		if ((b & 0xC0) == 0x80)
			continue;
		if (b < 0xC2 || b > 0xF4)
			return len;
		/* Every byte from the lead on was right, and the text ended before the last one. */
		return utf8_seq(s + len - back, back) == -(int)back ? len - back : len;
	}
	return len;
}

size_t utf8_put(uint32_t cp, char *out)
{
	if (cp < 0x80) {
		out[0] = (char)cp;
		return 1;
	}
	if (cp < 0x800) {
		out[0] = (char)(0xC0 | cp >> 6);
		out[1] = (char)(0x80 | (cp & 0x3F));
		return 2;
	}
	if (cp < 0x10000) {
		out[0] = (char)(0xE0 | cp >> 12);
		out[1] = (char)(0x80 | (cp >> 6 & 0x3F));
		out[2] = (char)(0x80 | (cp & 0x3F));
		return 3;
	}
	out[0] = (char)(0xF0 | cp >> 18);
	out[1] = (char)(0x80 | (cp >> 12 & 0x3F));
	out[2] = (char)(0x80 | (cp >> 6 & 0x3F));
	out[3] = (char)(0x80 | (cp & 0x3F));
	return 4;
}

size_t utf8_repair(const char *src, size_t len, char *dst, size_t dst_size)
{
	const size_t repl_len = sizeof(UTF8_REPLACEMENT) - 1;
	size_t w = 0;
	size_t i = 0;
	while (i < len) {
		size_t room = dst_size - 1 - w;
		size_t run = utf8_valid_len(src + i, len - i);
		int full = run > room;
		if (full)
			run = utf8_cut(src + i, room);
		memcpy(dst + w, src + i, run);
		w += run;
		i += run;
		if (full || i == len || room - run < repl_len)
			break;
		/* src[i] begins an invalid sequence: one U+FFFD stands for its maximal subpart. */
		memcpy(dst + w, UTF8_REPLACEMENT, repl_len);
		w += repl_len;
		i += (size_t)-utf8_seq(src + i, len - i);
	}
	dst[w] = '\0';
	return w;
}

int32_t severity_of(const char *text)
{
	static const struct {
		const char *word;
		int32_t sev;
	} keywords[] = {
		{"panic", SEV_ERR},   {"fatal", SEV_ERR},   {"critical", SEV_ERR}, {"segfault", SEV_ERR},
		{"traceback", SEV_ERR}, {"error", SEV_ERR}, {"err:", SEV_ERR},    {"failed", SEV_ERR},
		{"failure", SEV_ERR}, {"denied", SEV_ERR},  {"warn", SEV_WARN},   {"deprecated", SEV_WARN},
		{"timeout", SEV_WARN}, {"retry", SEV_WARN},
	};
	enum { KEYWORD_COUNT = sizeof(keywords) / sizeof(keywords[0]) };
	static_assert(KEYWORD_COUNT <= 16, "one bit per keyword");
	if (text == NULL || text[0] == '\0')
		return SEV_INFO;
	/* One pass over the text instead of one per keyword: any error word decides at once, a
	 * warning word only when no error word is found. At each byte only the keywords that
	 * start with its letter are tried. */
	uint16_t starting[256] = {0};
	for (size_t k = 0; k < KEYWORD_COUNT; k++)
		starting[(unsigned char)keywords[k].word[0]] |= (uint16_t)(1u << k);
	int32_t found = SEV_INFO;
	for (const unsigned char *p = (const unsigned char *)text; *p != '\0'; p++) {
		for (unsigned m = starting[fold(*p)], k = 0; m != 0; m >>= 1, k++) {
			if ((m & 1u) == 0 || keywords[k].sev <= found || !folded_prefix(p, keywords[k].word))
				continue;
			found = keywords[k].sev;
			if (found == SEV_ERR)
				return SEV_ERR;
		}
	}
	return found;
}
