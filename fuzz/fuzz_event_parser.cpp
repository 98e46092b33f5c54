/* EventParser fed from memory, split into lines as the pipe reader does: fields terminated
 * inside their arrays, and no more records than "Description:" lines. */
#include "plugin_logs/plugin_logs.h"
#include "entry_check.h"

#include <stdlib.h>
#include <string.h>

enum { PIECE = 8191 };

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	/* First byte picks whether a query filters the records. */
	if (size < 1)
		return 0;
	const char *query = data[0] & 1 ? "err" : NULL;
	const char *text = (const char *)data + 1;
	size_t len = size - 1;

	Seen seen = {0};
	EventParser p;
	event_parser_init(&p, data[0] & 2 ? "Application" : "System", query, data[0] & 4 ? 1 : 0, check_entry, &seen);
	int32_t descriptions = 0;
	size_t pos = 0;
	/* Like fgets into an 8192-byte buffer: up to and including LF, at most 8191 bytes. */
	while (pos < len) {
		size_t n = 0;
		while (pos + n < len && n < PIECE && text[pos + n] != '\n')
			n++;
		if (pos + n < len && n < PIECE && text[pos + n] == '\n')
			n++;
		char *piece = (char *)malloc(n);
		memcpy(piece, text + pos, n);
		/* fgets output is a C string: the parser sees it up to the first NUL. */
		size_t seen_len = strnlen(piece, n);
		if (seen_len >= 12 && memcmp(piece, "Description:", 12) == 0)
			descriptions++;
		else if (seen_len > 0) {
			/* Leading blanks are trimmed before the name is matched. */
			size_t i = 0;
			while (i < seen_len && (piece[i] == ' ' || piece[i] == '\t' || piece[i] == '\r'))
				i++;
			if (seen_len - i >= 12 && memcmp(piece + i, "Description:", 12) == 0)
				descriptions++;
		}
		event_parser_line(&p, piece, seen_len);
		free(piece);
		pos += n;
	}
	int32_t finished = event_parser_finish(&p);
	if (finished > descriptions || seen.delivered > finished)
		abort();
	return 0;
}
