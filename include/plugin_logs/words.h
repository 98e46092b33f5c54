/* Eight bytes at a time: the word loads and byte tests of the text scanners. */
#ifndef PLUGIN_LOGS_WORDS_H
#define PLUGIN_LOGS_WORDS_H

#include <stdint.h>
#include <string.h>

/* Both targets are x86-64: the first byte of a word is its lowest. */
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte order");

static const uint64_t WORD_ONES = 0x0101010101010101ull;
static const uint64_t WORD_HIGHS = 0x8080808080808080ull;

/* The eight bytes at s, which may be unaligned. */
static inline uint64_t load_word(const void *s)
{
	uint64_t w;
	memcpy(&w, s, sizeof(w));
	return w;
}

/* The high bit of every byte of w that is zero, and perhaps of bytes after one (a borrow), so
 * no zero byte is missed and the lowest bit set always marks a zero byte. */
static inline uint64_t zero_bytes(uint64_t w)
{
	return (w - WORD_ONES) & ~w & WORD_HIGHS;
}

/* The index of the byte that the lowest bit of a non-zero mask falls in. */
static inline size_t first_marked(uint64_t mask)
{
	return (size_t)__builtin_ctzll(mask) >> 3;
}

#endif
