/* The whole-file search: scans a log backwards in large blocks for the lines that hold a needle,
 * newest first. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <emmintrin.h>
#include <stdlib.h>
#include <string.h>

/* Sixteen bytes side by side: SSE2 is part of x86-64, the only target, so no test is needed. */
typedef __m128i Lanes;

static inline Lanes lanes_load(const unsigned char *p)
{
	return _mm_loadu_si128((const __m128i *)p);
}
static inline Lanes lanes_of(unsigned char c)
{
	return _mm_set1_epi8((char)c);
}
/* 0xFF in each lane where a and b hold the same byte, else 0. */
static inline Lanes lanes_eq(Lanes a, Lanes b)
{
	return _mm_cmpeq_epi8(a, b);
}
static inline Lanes lanes_or(Lanes a, Lanes b)
{
	return _mm_or_si128(a, b);
}
static inline Lanes lanes_and(Lanes a, Lanes b)
{
	return _mm_and_si128(a, b);
}
/* Bit i set when lane i has its high bit set. */
static inline unsigned lanes_mask(Lanes a)
{
	return (unsigned)_mm_movemask_epi8(a);
}

static inline unsigned char fold(unsigned char c)
{
	return (c >= 'A' && c <= 'Z') ? (unsigned char)(c + ('a' - 'A')) : c;
}

static inline int is_letter(unsigned char c)
{
	return fold(c) >= 'a' && fold(c) <= 'z';
}

/* Bytes of log text from the most to the least frequent, a letter for both its cases: English
 * words, decimal and hex numbers, timestamps, paths and the punctuation of common layouts.
 * Bytes not listed (control bytes, most of the rest, every byte from 0x80 on) are rarer. */
static constexpr char COMMON_BYTES[] = " e0t1a2ion:sr5.l3d94c8u67-hm/pf_g[]=wby,\"vk>x()'<;jzq#@*+&%!?$\\|~{}`^\t\r";

struct ByteRanks {
	unsigned char rank[256]; /* higher is rarer */
};

static constexpr ByteRanks byte_ranks(void)
{
	ByteRanks t = {};
	for (int c = 0; c < 256; c++)
		t.rank[c] = 255;
	for (int i = 0; COMMON_BYTES[i] != '\0'; i++) {
		unsigned char c = (unsigned char)COMMON_BYTES[i];
		t.rank[c] = (unsigned char)i;
		if (c >= 'a' && c <= 'z')
			t.rank[c - ('a' - 'A')] = (unsigned char)i;
	}
	return t;
}

static constexpr ByteRanks BYTE_RANKS = byte_ranks();

/* The needle made ready for the search. Two of its bytes, the rarest in log text, pick the
 * candidates sixteen positions at a time (as the rarest byte alone does for grep; the second
 * throws out most of the candidates a common first byte would let through); only then is the
 * whole needle compared. A letter is tested in both cases: OR 0x20 gives exactly its lower
 * case for its two cases and for no other byte. */
struct Needle {
	const unsigned char *bytes;
	size_t len;
	int never;       /* holds a line feed: no line can hold it */
	size_t at1, at2; /* the positions of the two picked bytes */
	Lanes fold1, want1, fold2, want2;
};

static void needle_init(Needle *nd, const char *needle, size_t len)
{
	memset(nd, 0, sizeof(*nd));
	nd->bytes = (const unsigned char *)needle;
	nd->len = len;
	nd->never = len > 0 && memchr(needle, '\n', len) != NULL;
	for (size_t i = 1; i < len; i++) {
		if (BYTE_RANKS.rank[nd->bytes[i]] > BYTE_RANKS.rank[nd->bytes[nd->at1]])
			nd->at1 = i;
	}
	nd->at2 = nd->at1;
	for (size_t i = 0; i < len; i++) {
		if (i != nd->at1 && (nd->at2 == nd->at1 || BYTE_RANKS.rank[nd->bytes[i]] > BYTE_RANKS.rank[nd->bytes[nd->at2]]))
			nd->at2 = i;
	}
	if (len == 0)
		return;
	unsigned char c1 = nd->bytes[nd->at1], c2 = nd->bytes[nd->at2];
	nd->fold1 = lanes_of(is_letter(c1) ? 0x20 : 0);
	nd->want1 = lanes_of(is_letter(c1) ? fold(c1) : c1);
	nd->fold2 = lanes_of(is_letter(c2) ? 0x20 : 0);
	nd->want2 = lanes_of(is_letter(c2) ? fold(c2) : c2);
}

/* The starts among the sixteen at p that have the rarest picked byte in place... */
static inline Lanes first_lanes(const Needle *nd, const unsigned char *p)
{
	return lanes_eq(lanes_or(lanes_load(p + nd->at1), nd->fold1), nd->want1);
}

/* ...and the other one too. */
static inline Lanes second_lanes(const Needle *nd, const unsigned char *p)
{
	return lanes_eq(lanes_or(lanes_load(p + nd->at2), nd->fold2), nd->want2);
}

/* 1 when the needle is at p under ASCII case folding. */
static int needle_at(const Needle *nd, const unsigned char *p)
{
	for (size_t i = 0; i < nd->len; i++) {
		if (fold(p[i]) != fold(nd->bytes[i]))
			return 0;
	}
	return 1;
}

/* The start of the needle's last whole occurrence in buf[lo..hi), or -1. */
static ptrdiff_t last_match(const Needle *nd, const unsigned char *buf, size_t lo, size_t hi)
{
	if (nd->never || hi - lo < nd->len)
		return -1;
	size_t b = hi - nd->len + 1; /* starts below b are left */
	/* Sixty-four starts a round, tested for the rarest byte alone: in most rounds none fits,
	 * and the second byte is looked at only in the others. */
	while (b - lo >= 64) {
		b -= 64;
		const unsigned char *p = buf + b;
		Lanes l0 = first_lanes(nd, p), l1 = first_lanes(nd, p + 16);
		Lanes l2 = first_lanes(nd, p + 32), l3 = first_lanes(nd, p + 48);
		if (lanes_mask(lanes_or(lanes_or(l0, l1), lanes_or(l2, l3))) == 0)
			continue;
		l0 = lanes_and(l0, second_lanes(nd, p));
		l1 = lanes_and(l1, second_lanes(nd, p + 16));
		l2 = lanes_and(l2, second_lanes(nd, p + 32));
		l3 = lanes_and(l3, second_lanes(nd, p + 48));
		uint64_t m = (uint64_t)lanes_mask(l0) | (uint64_t)lanes_mask(l1) << 16 |
			     (uint64_t)lanes_mask(l2) << 32 | (uint64_t)lanes_mask(l3) << 48;
		for (; m != 0; m &= ~((uint64_t)1 << (63 - __builtin_clzll(m)))) {
			size_t at = b + 63 - (size_t)__builtin_clzll(m);
			if (needle_at(nd, buf + at))
				return (ptrdiff_t)at;
		}
	}
	while (b - lo >= 16) {
		b -= 16;
		for (unsigned m = lanes_mask(lanes_and(first_lanes(nd, buf + b), second_lanes(nd, buf + b))); m != 0; m &= ~(1u << (31 - __builtin_clz(m)))) {
			size_t at = b + 31 - (size_t)__builtin_clz(m);
			if (needle_at(nd, buf + at))
				return (ptrdiff_t)at;
		}
	}
	while (b > lo) {
		b--;
		if (needle_at(nd, buf + b))
			return (ptrdiff_t)b;
	}
	return -1;
}

/* The index of the last line feed in buf[lo..hi), or -1. */
static ptrdiff_t last_line_feed(const unsigned char *buf, size_t lo, size_t hi)
{
	const Lanes lf = lanes_of('\n');
	size_t i = hi;
	while (i - lo >= 16) {
		i -= 16;
		unsigned m = lanes_mask(lanes_eq(lanes_load(buf + i), lf));
		if (m != 0)
			return (ptrdiff_t)(i + 31 - (size_t)__builtin_clz(m));
	}
	while (i > lo) {
		if (buf[--i] == '\n')
			return (ptrdiff_t)i;
	}
	return -1;
}

/* The number of line feeds in p[0..n). */
static int64_t count_line_feeds(const unsigned char *p, size_t n)
{
	const Lanes lf = lanes_of('\n');
	const Lanes zero = _mm_setzero_si128();
	int64_t count = 0;
	size_t i = 0;
	while (n - i >= 64) {
		/* Each lane counts up to 4 a round in one byte: 63 rounds keep it below 256. */
		size_t rounds = (n - i) / 64 < 63 ? (n - i) / 64 : 63;
		Lanes acc = zero;
		for (size_t r = 0; r < rounds; r++, i += 64) {
			acc = _mm_sub_epi8(acc, lanes_eq(lanes_load(p + i), lf));
			acc = _mm_sub_epi8(acc, lanes_eq(lanes_load(p + i + 16), lf));
			acc = _mm_sub_epi8(acc, lanes_eq(lanes_load(p + i + 32), lf));
			acc = _mm_sub_epi8(acc, lanes_eq(lanes_load(p + i + 48), lf));
		}
		Lanes sums = _mm_sad_epu8(acc, zero);
		count += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
	}
	for (; n - i >= 16; i += 16)
		count += __builtin_popcount(lanes_mask(lanes_eq(lanes_load(p + i), lf)));
	for (; i < n; i++)
		count += p[i] == '\n';
	return count;
}

static const size_t LINE_MAX = SCAN_LINE_MAX;

/* One scan's working state. */
struct BackScan {
	FILE *f;
	unsigned char *buf;
	size_t block;       /* bytes read at a time; buf holds at least this and SCAN_LINE_MAX */
	size_t slice;       /* bytes searched before their line feeds are counted */
	Needle nd;
	ScanHit hit;
	void *ctx;
	int64_t floor, before, budget;
	int64_t bound;      /* [bound, before) is examined; bound is a line start, or the cut
			     * inside a line longer than the budget */
	int64_t line_feeds; /* in [bound, before) */
	int stopped;
};

/* Reads f[at .. at+n) into buf. Returns 0, or -1 when fewer bytes came. */
static int read_at(BackScan *s, int64_t at, size_t n)
{
	if (plat_seek(s->f, at) != 0 || fread(s->buf, 1, n, s->f) != n)
		return -1;
	return 0;
}

/* Searches the whole lines in buf[lo..hi), hi the block's end at file offset s->bound, newest
 * first, handing each hit over. Moves bound down to the oldest line examined: lo, or the line
 * whose hit stopped the scan. */
static void search_lines(BackScan *s, size_t lo, size_t hi)
{
	int64_t base = s->bound - (int64_t)hi;
	size_t end = hi; /* lines from end on are done */
	size_t top = hi; /* match starts from top on are done, and their line feeds counted */
	while (top > lo) {
		/* A slice at a time, so that the line feeds are counted while its bytes are still
		 * in the cache the search brought them to. */
		size_t from = top - lo > s->slice ? top - s->slice : lo;
		ptrdiff_t m;
		if (s->nd.len == 0) {
			/* Every line is a hit: the one that ends at end, its line feed at end - 1. */
			m = (ptrdiff_t)end - 1;
		} else {
			/* A match that starts below top ends by top + needle_len - 1. */
			size_t limit = end - top < s->nd.len ? end : top + s->nd.len - 1;
			m = last_match(&s->nd, s->buf, from, limit);
		}
		if (m < 0) {
			s->line_feeds += count_line_feeds(s->buf + from, top - from);
			top = from;
			continue;
		}
		ptrdiff_t before_line = last_line_feed(s->buf, lo, (size_t)m);
		size_t start = before_line < 0 ? lo : (size_t)before_line + 1;
		s->line_feeds += count_line_feeds(s->buf + start, top - start);
		top = start;
		const unsigned char *lf = (const unsigned char *)memchr(s->buf + m, '\n', end - (size_t)m);
		size_t len = (lf != NULL ? (size_t)(lf - s->buf) : end) - start;
		if (!s->hit(s->ctx, (const char *)s->buf + start, len < LINE_MAX ? len : LINE_MAX,
			    base + (int64_t)start)) {
			s->stopped = SCAN_STOPPED;
			break;
		}
		end = start;
	}
	s->bound = base + (int64_t)top;
}

/* The line that ends at bound began before the block just read, buf[0..n) at bound - n, which
 * has no line feed but perhaps the line's own at its end. Reads on backwards, in blocks that
 * overlap by needle_len - 1 bytes while no hit is found, to the line's start; hands the line
 * over if it is a hit and moves bound to its start. When the budget runs out first and no hit
 * was found, bound is left inside the line where the older part can still be searched from.
 * Returns 0, or -1 on a read error. */
static int search_long_line(BackScan *s, size_t n)
{
	int own_line_feed = s->buf[n - 1] == '\n';
	int hit = s->nd.len == 0 || last_match(&s->nd, s->buf, 0, n) >= 0;
	int64_t seg = s->bound - (int64_t)n; /* [seg, bound) is searched */
	int64_t start;
	for (;;) {
		if (!hit && s->before - seg >= s->budget) {
			/* A start below seg ends a match by seg + needle_len - 1 at the latest. */
			s->bound = seg + (int64_t)s->nd.len - 1;
			s->line_feeds += own_line_feed;
			s->stopped = SCAN_OUT_OF_BUDGET;
			return 0;
		}
		/* A hit found needs only the line's start: no overlap then. */
		int64_t top = seg + (hit ? 0 : (int64_t)s->nd.len - 1);
		size_t len = top - s->floor < (int64_t)s->block ? (size_t)(top - s->floor) : s->block;
		int64_t at = top - (int64_t)len;
		if (read_at(s, at, len) != 0)
			return -1;
		ptrdiff_t lf = last_line_feed(s->buf, 0, len);
		size_t from = lf < 0 ? 0 : (size_t)lf + 1;
		if (!hit)
			hit = last_match(&s->nd, s->buf, from, len) >= 0;
		if (lf >= 0 || at == s->floor) {
			start = at + (int64_t)from;
			break;
		}
		seg = at;
	}
	s->line_feeds += own_line_feed;
	if (hit) {
		/* Only the line's first bytes are handed over, read again from its start. */
		int64_t whole = s->bound - own_line_feed - start;
		size_t len = whole < (int64_t)LINE_MAX ? (size_t)whole : LINE_MAX;
		if (read_at(s, start, len) != 0)
			return -1;
		if (!s->hit(s->ctx, (const char *)s->buf, len, start))
			s->stopped = SCAN_STOPPED;
	}
	s->bound = start;
	return 0;
}

/* Walks blocks down from bound: each is read to end at bound, so the line it began inside,
 * cut by its start, is read whole with the next block rather than carried over. */
static int scan_blocks(BackScan *s, int *unended)
{
	while (s->bound > s->floor && s->stopped == SCAN_AT_FLOOR) {
		if (s->before - s->bound >= s->budget) {
			s->stopped = SCAN_OUT_OF_BUDGET;
			break;
		}
		size_t n = s->bound - s->floor < (int64_t)s->block ? (size_t)(s->bound - s->floor) : s->block;
		int64_t at = s->bound - (int64_t)n;
		if (read_at(s, at, n) != 0)
			return -1;
		if (s->bound == s->before)
			*unended = s->buf[n - 1] != '\n';
		size_t lo = 0;
		if (at > s->floor) {
			/* The bytes up to the first line feed belong to a line that began further back;
			 * the line feed that ends the block is its newest line's own. */
			const unsigned char *lf = (const unsigned char *)memchr(s->buf, '\n', n - 1);
			if (lf == NULL) {
				if (search_long_line(s, n) != 0)
					return -1;
				continue;
			}
			lo = (size_t)(lf - s->buf) + 1;
		}
		search_lines(s, lo, n);
	}
	return 0;
}

int scan_back_blocks(FILE *f, int64_t floor, int64_t before, const char *needle, size_t needle_len,
		     int64_t budget, ScanHit hit, void *ctx, ScanResult *out, size_t block_size)
{
	memset(out, 0, sizeof(*out));
	out->next_before = -1;
	BackScan s;
	memset(&s, 0, sizeof(s));
	s.f = f;
	/* Each block of a long line moves back by block - (needle_len - 1) bytes: at least 2. */
	s.block = block_size > needle_len ? block_size : needle_len + 1;
	/* A sixteenth of a block (64 KiB): well inside any level 2 cache. */
	s.slice = s.block / 16 > 0 ? s.block / 16 : 1;
	needle_init(&s.nd, needle, needle_len);
	s.hit = hit;
	s.ctx = ctx;
	s.floor = floor > 0 ? floor : 0;
	s.before = before > s.floor ? before : s.floor;
	s.budget = budget;
	s.bound = s.before;
	s.stopped = SCAN_AT_FLOOR;
	int unended = 0;
	if (s.bound > s.floor) {
		/* No larger than the file needs: a small log costs a small buffer. */
		int64_t span = s.bound - s.floor;
		size_t size = span < (int64_t)s.block ? (size_t)span : s.block;
		s.buf = (unsigned char *)malloc(size > LINE_MAX ? size : LINE_MAX);
		if (s.buf == NULL)
			return SCAN_NO_MEMORY;
		int rc = scan_blocks(&s, &unended);
		free(s.buf);
		if (rc != 0)
			return SCAN_READ_ERROR;
	}
	out->stopped = s.stopped;
	/* A stop at the oldest line leaves nothing older: no further request is needed. */
	out->next_before = s.bound > s.floor ? s.bound : -1;
	out->searched_bytes = s.before - s.bound;
	out->lines = s.line_feeds + unended;
	return 0;
}

int scan_back(FILE *f, int64_t floor, int64_t before, const char *needle, size_t needle_len,
	      int64_t budget, ScanHit hit, void *ctx, ScanResult *out)
{
	return scan_back_blocks(f, floor, before, needle, needle_len, budget, hit, ctx, out, SCAN_BLOCK_SIZE);
}
