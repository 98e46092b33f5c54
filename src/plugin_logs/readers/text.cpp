/* Byte-wise text routines shared by both readers: matching, trimming, severity. */
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
	size_t m = b - a;
	if (m > dst_size - 1)
		m = dst_size - 1;
	/* Three of the four callers trim a buffer into itself. */
	memmove(dst, src + a, m);
	dst[m] = '\0';
}

size_t utf8_cut(const char *s, size_t n)
{
	/* A UTF-8 sequence is at most four bytes: at most three continuation bytes follow its
	 * lead byte, so a longer run of them is not one character and backing off stops there. */
	for (size_t back = 0; back < 3 && n > 0 && ((unsigned char)s[n] & 0xC0) == 0x80; back++)
		n--;
	return n;
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
