/* Byte-wise text routines shared by both readers: matching, trimming, UTF-8 cuts and checks,
 * severity. */
#include "plugin_logs/plugin_logs.h"
#include "plugin_logs/words.h"

#include <emmintrin.h>
#include <string.h>

/* ASCII-only folding: the process never changes locale, so no byte above 0x7F folds. */
static unsigned char fold(unsigned char c)
{
	return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + ('a' - 'A')) : c;
}

int ci_contains(const char *hay, const char *needle)
{
	if (hay == NULL || needle == NULL)
		return 1;
	return ci_contains_bytes(hay, strlen(hay), needle, strlen(needle));
}

/* 1 when a[0..n) equals b[0..n) under ASCII case folding. */
static int folded_equal(const unsigned char *a, const unsigned char *b, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		if (fold(a[i]) != fold(b[i]))
			return 0;
	}
	return 1;
}

/* 1 when the needle n[0..len) begins at one of the positions h + k whose byte k is marked in m. */
static int marked_match(const unsigned char *h, uint64_t m, const unsigned char *n, size_t len)
{
	for (; m != 0; m &= m - 1) {
		if (folded_equal(h + first_marked(m), n, len))
			return 1;
	}
	return 0;
}

int ci_contains_bytes(const char *hay, size_t hay_len, const char *needle, size_t needle_len)
{
	if (needle_len == 0)
		return 1;
	if (hay_len < needle_len)
		return 0;
	const unsigned char *h = (const unsigned char *)hay;
	const unsigned char *n = (const unsigned char *)needle;
	size_t last = needle_len - 1;
	size_t starts = hay_len - last;
	if (starts < 8) {
		for (size_t i = 0; i < starts; i++) {
			if (folded_equal(h + i, n, needle_len))
				return 1;
		}
		return 0;
	}
	/* Eight start positions at a time are kept when both the needle's first and its last byte
	 * fit there (a byte of the OR is zero when both are). OR 0x20 folds every capital as
	 * fold() does, but also joins a few other pairs ('@' and '`', control bytes and
	 * punctuation): it only picks candidates, and each is then compared properly. */
	size_t i = 0;
	/* Sixteen start positions at a time where there are that many (SSE2 is part of x86-64,
	 * the only target), then eight. */
	const __m128i lower16 = _mm_set1_epi8(0x20);
	const __m128i first16 = _mm_set1_epi8((char)(n[0] | 0x20));
	const __m128i end16 = _mm_set1_epi8((char)(n[last] | 0x20));
	for (; i + 16 <= starts; i += 16) {
		__m128i a = _mm_or_si128(_mm_loadu_si128((const __m128i *)(h + i)), lower16);
		__m128i b = _mm_or_si128(_mm_loadu_si128((const __m128i *)(h + i + last)), lower16);
		unsigned m = (unsigned)_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first16), _mm_cmpeq_epi8(b, end16)));
		for (; m != 0; m &= m - 1) {
			if (folded_equal(h + i + (size_t)__builtin_ctz(m), n, needle_len))
				return 1;
		}
	}
	const uint64_t lower = WORD_ONES * 0x20;
	const uint64_t first = WORD_ONES * (n[0] | 0x20);
	const uint64_t end = WORD_ONES * (n[last] | 0x20);
	for (; i + 8 <= starts; i += 8) {
		uint64_t m = zero_bytes(((load_word(h + i) | lower) ^ first) | ((load_word(h + i + last) | lower) ^ end));
		if (m != 0 && marked_match(h + i, m, n, needle_len))
			return 1;
	}
	if (i == starts)
		return 0;
	/* The last positions, among the eight that end there; those before i are done. */
	size_t base = starts - 8;
	uint64_t m = zero_bytes(((load_word(h + base) | lower) ^ first) | ((load_word(h + base + last) | lower) ^ end));
	return marked_match(h + base, m & (~0ull << (8 * (i - base))), n, needle_len);
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

/* The index of the first byte of p[i..len) from 0x80 on, or len. */
static size_t first_high(const unsigned char *p, size_t i, size_t len)
{
	/* Sixteen bytes at a time: most log text is ASCII and never leaves this loop. */
	for (; len - i >= 16; i += 16) {
		uint64_t a = load_word(p + i) & WORD_HIGHS;
		uint64_t b = load_word(p + i + 8) & WORD_HIGHS;
		if ((a | b) != 0)
			return a != 0 ? i + first_marked(a) : i + 8 + first_marked(b);
	}
	if (len - i >= 8) {
		uint64_t a = load_word(p + i) & WORD_HIGHS;
		if (a != 0)
			return i + first_marked(a);
		i += 8;
	}
	if (i == len)
		return len;
	if (len >= 8) {
		/* The last bytes, at the top of the word that ends the text. */
		uint64_t a = (load_word(p + len - 8) & WORD_HIGHS) >> (8 * (8 - (len - i)));
		return a != 0 ? i + first_marked(a) : len;
	}
	while (i < len && p[i] < 0x80)
		i++;
	return i;
}

size_t utf8_valid_len(const char *s, size_t len)
{
	const unsigned char *p = (const unsigned char *)s;
	size_t i = 0;
	while ((i = first_high(p, i, len)) < len) {
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

/* The classifier's keywords, in the order the definition tries them. */
static constexpr struct {
	const char *word;
	int32_t sev;
} KEYWORDS[] = {
	{"panic", SEV_ERR},   {"fatal", SEV_ERR},   {"critical", SEV_ERR}, {"segfault", SEV_ERR},
	{"traceback", SEV_ERR}, {"error", SEV_ERR}, {"err:", SEV_ERR},    {"failed", SEV_ERR},
	{"failure", SEV_ERR}, {"denied", SEV_ERR},  {"warn", SEV_WARN},   {"deprecated", SEV_WARN},
	{"timeout", SEV_WARN}, {"retry", SEV_WARN},
};
enum { KEYWORD_COUNT = sizeof(KEYWORDS) / sizeof(KEYWORDS[0]), KEYWORD_SLOTS = 128 };
static_assert(KEYWORD_COUNT <= 16, "one bit per keyword");

/* A text is looked at only at its even positions, three bytes at each. Every keyword has at
 * least four bytes, so wherever one begins, an even position holds its bytes 0 to 2 (it
 * begins there) or its bytes 1 to 3 (it begins one before). */
static constexpr bool keywords_long_enough(void)
{
	for (size_t k = 0; k < KEYWORD_COUNT; k++) {
		if (KEYWORDS[k].word[0] == '\0' || KEYWORDS[k].word[1] == '\0' || KEYWORDS[k].word[2] == '\0' ||
		    KEYWORDS[k].word[3] == '\0')
			return false;
	}
	return true;
}
static_assert(keywords_long_enough(), "every keyword has four bytes");

/* Three bytes as one word, the first lowest, with 0x20 set in each: that folds every capital
 * as fold() does, and joins a few other bytes with letters ('@' and '`', control bytes and
 * punctuation), which the comparison after a hit tells apart. No text window is 0. */
static constexpr uint32_t window_of(const char *s)
{
	return ((uint32_t)(unsigned char)s[0] | (uint32_t)(unsigned char)s[1] << 8 | (uint32_t)(unsigned char)s[2] << 16) |
	       0x202020u;
}

/* The keywords by the windows of their bytes 0 to 2 and 1 to 3, hashed by a multiplier with
 * which no two different windows share a slot; an empty slot holds window 0. */
struct KeywordSlots {
	uint32_t mult;
	uint32_t window[KEYWORD_SLOTS];
	uint16_t starts_here[KEYWORD_SLOTS]; /* bit k: keyword k has this window at its byte 0 */
	uint16_t starts_before[KEYWORD_SLOTS]; /* ... at its byte 1 */
};

static constexpr unsigned slot_of(uint32_t window, uint32_t mult)
{
	return (window * mult) >> 25;
}

static constexpr KeywordSlots keyword_slots(void)
{
	for (uint32_t mult = 0x9E3779B1u;; mult += 2) {
		KeywordSlots t = {};
		t.mult = mult;
		bool clash = false;
		for (size_t k = 0; k < 2 * KEYWORD_COUNT && !clash; k++) {
			uint32_t w = window_of(KEYWORDS[k / 2].word + k % 2);
			unsigned s = slot_of(w, mult);
			clash = t.window[s] != 0 && t.window[s] != w;
			t.window[s] = w;
			if (k % 2 == 0)
				t.starts_here[s] |= (uint16_t)(1u << (k / 2));
			else
				t.starts_before[s] |= (uint16_t)(1u << (k / 2));
		}
		if (!clash)
			return t;
	}
}

static constexpr KeywordSlots KEYWORD_TABLE = keyword_slots();

/* 1 when word starts at p, which has avail bytes, under ASCII case folding. */
static int folded_prefix_within(const unsigned char *p, size_t avail, const char *word)
{
	size_t i = 0;
	while (i < avail && word[i] != '\0' && fold(p[i]) == fold((unsigned char)word[i]))
		i++;
	return word[i] == '\0';
}

/* found, raised to the severity of a keyword of mask that begins at p (avail bytes). */
static int32_t keyword_at(const unsigned char *p, size_t avail, unsigned mask, int32_t found)
{
	for (unsigned m = mask; m != 0; m &= m - 1) {
		unsigned k = (unsigned)__builtin_ctz(m);
		if (KEYWORDS[k].sev > found && folded_prefix_within(p, avail, KEYWORDS[k].word))
			found = KEYWORDS[k].sev;
	}
	return found;
}

/* found, raised by the keywords whose window w is at the even position i of p[0..len). */
static int32_t keywords_around(const unsigned char *p, size_t len, size_t i, uint32_t w, int32_t found)
{
	unsigned s = slot_of(w, KEYWORD_TABLE.mult);
	found = keyword_at(p + i, len - i, KEYWORD_TABLE.starts_here[s], found);
	if (i > 0)
		found = keyword_at(p + i - 1, len - i + 1, KEYWORD_TABLE.starts_before[s], found);
	return found;
}

static inline int window_hit(uint32_t w)
{
	return KEYWORD_TABLE.window[slot_of(w, KEYWORD_TABLE.mult)] == w;
}

int32_t severity_of(const char *text)
{
	if (text == NULL)
		return SEV_INFO;
	return severity_of_bytes(text, strlen(text));
}

int32_t severity_of_bytes(const char *text, size_t len)
{
	const unsigned char *p = (const unsigned char *)text;
	int32_t found = SEV_INFO;
	/* One pass over the text instead of one per keyword: any error word decides at once, a
	 * warning word only when no error word is found. One load of eight bytes gives the
	 * windows of three even positions. */
	size_t i = 0;
	for (; i + 8 <= len; i += 6) {
		uint64_t x = load_word(p + i) | (WORD_ONES * 0x20);
#pragma GCC unroll 3
		for (unsigned k = 0; k < 6; k += 2) {
			uint32_t w = (uint32_t)(x >> (8 * k)) & 0xFFFFFFu;
			if (window_hit(w) && (found = keywords_around(p, len, i + k, w, found)) == SEV_ERR)
				return SEV_ERR;
		}
	}
	for (; i + 3 <= len; i += 2) {
		uint32_t w = window_of(text + i);
		if (window_hit(w) && (found = keywords_around(p, len, i, w, found)) == SEV_ERR)
			return SEV_ERR;
	}
	return found;
}
