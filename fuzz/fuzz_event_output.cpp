/* The event command's raw output, UTF-16LE or bytes, through the decoder into the record parser,
 * in pieces of varying size: the decoding does not depend on where the pieces end, UTF-16 comes
 * out as valid UTF-8, fields stay inside their arrays, and no more records are delivered than
 * finished or than the limit allows. */
#include "plugin_logs/plugin_logs.h"
#include "entry_check.h"
#include "json_check.h"

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

/* Piece sizes from a small generator seeded by the input, 1 to 64 bytes. */
static size_t next_piece(uint32_t *state)
{
	*state = *state * 1103515245u + 12345u;
	return 1 + (*state >> 16) % 64;
}

static std::string decode(const char *raw, size_t len, uint32_t seed)
{
	OutputDecoder d;
	output_decoder_init(&d);
	std::string out;
	std::vector<char> buf(OUTPUT_DECODE_ROOM(64));
	for (size_t at = 0; at < len;) {
		size_t n = seed == 0 ? len - at : next_piece(&seed);
		if (n > len - at)
			n = len - at;
		if (buf.size() < OUTPUT_DECODE_ROOM(n))
			buf.resize(OUTPUT_DECODE_ROOM(n));
		out.append(buf.data(), output_decode(&d, raw + at, n, buf.data()));
		at += n;
	}
	char rest[8];
	out.append(rest, output_decode_end(&d, rest));
	return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	/* Byte 0: query, log name and limit; byte 1: the seed of the piece sizes. */
	if (size < 2)
		return 0;
	const char *query = data[0] & 1 ? "err" : NULL;
	const char *log_name = data[0] & 2 ? "Application" : "System";
	int32_t limit = data[0] & 4 ? 3 : 0;
	uint32_t seed = data[1] | 1u;
	const char *raw = (const char *)data + 2;
	size_t len = size - 2;

	std::string whole = decode(raw, len, 0);
	if (decode(raw, len, seed) != whole)
		abort();
	int utf16 = len >= 2 && (((unsigned char)raw[0] == 0xFF && (unsigned char)raw[1] == 0xFE) || raw[1] == 0);
	if (utf16 && !utf8_valid(whole.data(), whole.size()))
		abort();

	Seen seen = {0};
	EventStream *s = (EventStream *)malloc(sizeof(EventStream));
	event_stream_init(s, log_name, limit, query, data[0] & 8 ? 1 : 0, check_entry, &seen);
	for (size_t at = 0; at < len;) {
		size_t n = next_piece(&seed);
		if (n > len - at)
			n = len - at;
		if (!event_stream_feed(s, raw + at, n))
			break;
		at += n;
	}
	int32_t finished = event_stream_finish(s);
	free(s);
	if (finished < 0 || seen.delivered > finished || (limit > 0 && finished > limit))
		abort();
	return 0;
}
