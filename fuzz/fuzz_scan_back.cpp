/* scan_back over any content, needle, block size, hit limit, budget and floor, paged to the
 * floor as a client pages a whole-file search: each request finds exactly the hits a forward
 * line-by-line search finds between where it stopped and where it began, counts exactly those
 * lines, and all requests together report every hit once.
 *
 * Input: block size, needle length, hit limit, budget, floor, a flag byte, then the needle and
 * the content. With bit 0 of the flag the needle and content are mapped onto a few bytes that
 * fold, nearly fold or end lines, so that hits and cut lines are common. */
#include "plugin_logs/plugin_logs.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

struct Hit {
	int64_t offset;
	std::string line;
	bool operator==(const Hit &o) const { return offset == o.offset && line == o.line; }
};

struct Collect {
	std::vector<Hit> hits;
	size_t limit;
};

int collect_hit(void *ctx, const char *line, size_t len, int64_t offset)
{
	Collect *c = (Collect *)ctx;
	c->hits.push_back({offset, std::string(line, len)});
	return c->hits.size() < c->limit;
}

unsigned char lower(unsigned char c)
{
	return c >= 'A' && c <= 'Z' ? (unsigned char)(c + 32) : c;
}

bool folded_contains(const std::string &line, const std::string &needle)
{
	if (needle.size() > line.size())
		return false;
	for (size_t i = 0; i + needle.size() <= line.size(); i++) {
		size_t k = 0;
		while (k < needle.size() && lower((unsigned char)line[i + k]) == lower((unsigned char)needle[k]))
			k++;
		if (k == needle.size())
			return true;
	}
	return false;
}

/* The hits of c[from..to), newest first, and its line count. */
std::vector<Hit> naive_hits(const std::string &c, size_t from, size_t to, const std::string &needle, int64_t *lines)
{
	std::vector<Hit> hits;
	*lines = 0;
	for (size_t start = from; start < to;) {
		size_t lf = c.find('\n', start);
		size_t end = lf == std::string::npos || lf >= to ? to : lf;
		std::string line = c.substr(start, end - start);
		if (folded_contains(line, needle))
			hits.push_back({(int64_t)start, line.substr(0, SCAN_LINE_MAX)});
		++*lines;
		start = end + 1;
	}
	std::reverse(hits.begin(), hits.end());
	return hits;
}

const char kAlphabet[16] = {'a', 'A', 'b', 'B', '@', '`', '\n', '\n', '\r', '\xc3', '\xa9', 'z', 'Z', ' ', '\0', '\n'};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 6)
		return 0;
	size_t block = 1 + data[0] % 64;
	size_t needle_len = data[1] % 12;
	size_t limit = 1 + data[2] % 4;
	int64_t budget = data[3] == 0 ? SCAN_BUDGET : data[3];
	unsigned floor_pick = data[4];
	int mapped = data[5] & 1;
	data += 6;
	size -= 6;
	if (needle_len > size)
		needle_len = size;
	std::string needle((const char *)data, needle_len);
	std::string content((const char *)data + needle_len, size - needle_len);
	if (mapped) {
		for (char &c : needle)
			c = kAlphabet[(unsigned char)c % 16];
		for (char &c : content)
			c = kAlphabet[(unsigned char)c % 16];
	}
	/* The floor is a line start, as the caller keeps it. */
	size_t floor = 0;
	if (floor_pick % 2 == 1 && !content.empty()) {
		size_t lf = content.find('\n', (floor_pick / 2) * content.size() / 128);
		floor = lf == std::string::npos ? 0 : lf + 1;
	}

	/* The content in memory as a stream, with room for one byte when there is none. */
	std::string backing = content.empty() ? std::string(1, '\0') : content;
	FILE *f = fmemopen(&backing[0], backing.size(), "rb");
	if (f == NULL)
		abort();
	std::vector<int64_t> offsets;
	int64_t before = (int64_t)content.size(), lines = 0, cuts = 0, calls = 0;
	while (before >= 0) {
		if (++calls > (int64_t)content.size() + 2)
			abort(); /* no progress */
		Collect c = {{}, limit};
		ScanResult res;
		if (scan_back_blocks(f, (int64_t)floor, before, needle.data(), needle.size(), budget, collect_hit,
				     &c, &res, block) != 0)
			abort();
		int64_t stop = res.next_before < 0 ? (int64_t)floor : res.next_before;
		if (res.next_before >= 0 && (res.next_before >= before || res.next_before <= (int64_t)floor))
			abort();
		int64_t want_lines = 0;
		std::vector<Hit> want;
		if (before > (int64_t)floor)
			want = naive_hits(content, (size_t)stop, (size_t)before, needle, &want_lines);
		if (c.hits != want || res.lines != want_lines ||
		    res.searched_bytes != (before > (int64_t)floor ? before - stop : 0))
			abort();
		if (res.next_before >= 0 && content[res.next_before - 1] != '\n')
			cuts++;
		for (const Hit &h : c.hits)
			offsets.push_back(h.offset);
		lines += res.lines;
		before = res.next_before;
	}
	fclose(f);
	int64_t all_lines = 0;
	std::vector<int64_t> want;
	for (const Hit &h : naive_hits(content, floor, content.size(), needle, &all_lines))
		want.push_back(h.offset);
	if (offsets != want || lines != all_lines + cuts)
		abort();
	return 0;
}
