/* Pieces of a log, one line or a bounded part of one, cut out of block reads of the file. */
#include "plugin_logs/plugin_logs.h"

#include <stdio.h>
#include <string.h>

/* Offset of the first NUL in r->block[from .. r->end), or r->end. */
static size_t first_nul(const LineReader *r, size_t from)
{
	const char *nul = (const char *)memchr(r->block + from, '\0', r->end - from);
	return nul != NULL ? (size_t)(nul - r->block) : r->end;
}

void line_reader_init(LineReader *r, FILE *f)
{
	r->f = f;
	r->pos = 0;
	r->end = 0;
	r->nul = 0;
	r->at_end = 0;
	r->failed = 0;
}

size_t line_reader_next(LineReader *r, const char **piece, size_t *text_len, size_t max)
{
	for (;;) {
		size_t avail = r->end - r->pos;
		const char *from = r->block + r->pos;
		const char *lf = (const char *)memchr(from, '\n', avail < max ? avail : max);
		size_t n = 0;
		if (lf != NULL)
			n = (size_t)(lf - from) + 1;
		else if (avail >= max)
			n = max;
		else if (r->at_end)
			n = r->failed ? 0 : avail; /* a read error drops the piece it cut short */
		if (n != 0 || r->at_end) {
			*piece = from;
			*text_len = r->nul - r->pos < n ? r->nul - r->pos : n;
			r->pos += n;
			if (r->nul < r->pos)
				r->nul = first_nul(r, r->pos);
			return n;
		}
		/* The piece begun is shorter than max and has no line feed yet: keep it at the front
		 * and fill the block behind it. */
		memmove(r->block, from, avail);
		int nul_kept = r->nul < r->end;
		r->nul -= r->pos;
		r->pos = 0;
		r->end = avail;
		size_t want = sizeof(r->block) - avail;
		size_t got = fread(r->block + avail, 1, want, r->f);
		r->end += got;
		/* A NUL is looked for once a block, not in every line. */
		if (!nul_kept)
			r->nul = first_nul(r, avail);
		/* A regular file reads short only at its end or on an error; either way no read is
		 * made after it, as a stream's end is final. */
		if (got < want) {
			r->at_end = 1;
			r->failed = ferror(r->f) != 0;
		}
	}
}

void line_reader_unread(LineReader *r, size_t n)
{
	r->pos -= n;
	r->nul = first_nul(r, r->pos);
}
