// The backward whole-file search against a plain forward search of the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdio.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "plugin_logs/plugin_logs.h"
#include "platform.h"

namespace {

struct Hit {
	int64_t offset;
	std::string line;
	bool operator==(const Hit &o) const { return offset == o.offset && line == o.line; }
};

std::ostream &operator<<(std::ostream &os, const Hit &h)
{
	return os << h.offset << ":\"" << h.line << "\"";
}

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
	return needle.empty() || std::search(line.begin(), line.end(), needle.begin(), needle.end(), [](char a, char b) {
		       return lower((unsigned char)a) == lower((unsigned char)b);
	       }) != line.end();
}

// The hits of c[floor..before), newest first, found line by line from the start.
std::vector<Hit> naive_hits(const std::string &c, size_t floor, size_t before, const std::string &needle)
{
	std::vector<Hit> hits;
	size_t start = floor;
	while (start < before) {
		size_t lf = c.find('\n', start);
		size_t end = lf == std::string::npos || lf >= before ? before : lf;
		std::string line = c.substr(start, end - start);
		if (folded_contains(line, needle))
			hits.push_back({(int64_t)start, line.substr(0, SCAN_LINE_MAX)});
		start = end + 1;
	}
	std::reverse(hits.begin(), hits.end());
	return hits;
}

// Lines with bytes in c[from..to): its line feeds, and a last line without one.
int64_t naive_lines(const std::string &c, size_t from, size_t to)
{
	int64_t n = std::count(c.begin() + from, c.begin() + to, '\n');
	return n + (to > from && c[to - 1] != '\n');
}

struct Scan {
	int rc;
	ScanResult res;
	std::vector<Hit> hits;
};

class ScanBack : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/pl_scan_XXXXXX";
		int fd = mkstemp(tmpl);
		ASSERT_GE(fd, 0);
		close(fd);
		path_ = tmpl;
	}
	void TearDown() override { unlink(path_.c_str()); }

	void write(const std::string &content)
	{
		content_ = content;
		FILE *f = fopen(path_.c_str(), "wb");
		ASSERT_NE(f, nullptr);
		fwrite(content.data(), 1, content.size(), f);
		fclose(f);
	}

	Scan scan(int64_t floor, int64_t before, const std::string &needle, size_t block,
		  size_t limit = SEARCH_HITS_MAX, int64_t budget = SCAN_BUDGET)
	{
		Scan s;
		Collect c = {{}, limit};
		FILE *f = plat_log_open(path_.c_str());
		EXPECT_NE(f, nullptr);
		s.rc = scan_back_blocks(f, floor, before, needle.data(), needle.size(), budget, collect_hit, &c,
					&s.res, block);
		fclose(f);
		s.hits = c.hits;
		return s;
	}

	// Pages through the whole file as a client would, limit hits a request: every line that
	// holds the needle once, newest first, and every line counted once (twice when a request
	// ended inside it: each examined part of it).
	void expect_pages_exact(const std::string &needle, size_t block, size_t limit, int64_t budget = SCAN_BUDGET)
	{
		std::vector<int64_t> offsets;
		int64_t before = (int64_t)content_.size(), lines = 0, cuts = 0;
		for (int call = 0; before >= 0; call++) {
			ASSERT_LT(call, 100000) << "no progress";
			Scan s = scan(0, before, needle, block, limit, budget);
			ASSERT_EQ(s.rc, 0);
			int64_t stop = s.res.next_before < 0 ? 0 : s.res.next_before;
			EXPECT_EQ(s.res.searched_bytes, before - stop);
			EXPECT_EQ(s.res.lines, naive_lines(content_, (size_t)stop, (size_t)before));
			EXPECT_EQ(s.hits, naive_hits(content_, (size_t)stop, (size_t)before, needle));
			if (s.res.next_before >= 0) {
				EXPECT_LT(s.res.next_before, before);
				cuts += content_[stop - 1] != '\n';
			}
			for (const Hit &h : s.hits)
				offsets.push_back(h.offset);
			lines += s.res.lines;
			before = s.res.next_before;
		}
		std::vector<int64_t> want;
		for (const Hit &h : naive_hits(content_, 0, content_.size(), needle))
			want.push_back(h.offset);
		EXPECT_EQ(offsets, want);
		EXPECT_EQ(lines, naive_lines(content_, 0, content_.size()) + cuts);
	}

	// 1 when offset at is a line boundary, or inside a line longer than block.
	bool boundary_or_long_line(int64_t at, size_t block)
	{
		if (at == 0 || content_[at - 1] == '\n')
			return true;
		size_t start = content_.rfind('\n', at - 1);
		start = start == std::string::npos ? 0 : start + 1;
		size_t end = content_.find('\n', at);
		return (end == std::string::npos ? content_.size() : end) - start > block;
	}

	std::string path_, content_;
};

// Lines as real programs write them, from their documented layouts.
const char kRealLog[] =
	// syslog (RFC 3164) as rsyslog writes it
	"Jan  5 09:12:44 web-01 sshd[1234]: Accepted publickey for admin from 10.0.0.5 port 52144 ssh2\n"
	"Jan  5 09:12:45 web-01 kernel: [ 1234.567890] EXT4-fs (sda1): re-mounted. Opts: errors=remount-ro\n"
	// log4j's PatternLayout "%d [%t] %-5p %c - %m%n"
	"2024-01-15 10:30:00,123 [main] ERROR com.example.App - Connection refused: connect\n"
	// Python logging "%(asctime)s - %(name)s - %(levelname)s - %(message)s"
	"2024-01-15 10:30:01,456 - urllib3.connectionpool - WARNING - Retrying (Retry(total=2)) after connection broken\n"
	// nginx error log
	"2024/01/15 10:30:02 [error] 1234#0: *5 connect() failed (111: Connection refused) while connecting to upstream\r\n"
	// Windows CBS.log
	"2024-01-15 10:30:03, Info                  CBS    Starting TrustedInstaller initialization.\r\n"
	// Windows setupapi.dev.log
	">>>  [Device Install (Hardware initiated) - USB\\VID_046D&PID_C52B\\5&2A3C]\r\n"
	// Apache combined access log
	"10.0.0.7 - - [15/Jan/2024:10:30:04 +0000] \"GET /index.html HTTP/1.1\" 200 2326 \"-\" \"Mozilla/5.0\"\n"
	// .NET / Serilog "{Timestamp:yyyy-MM-dd HH:mm:ss.fff zzz} [{Level:u3}] {Message:lj}"
	"2024-01-15 10:30:05.789 +01:00 [ERR] Échec de la connexion à « db01 » : délai dépassé\n"
	"2024-01-15 10:30:06.001 +01:00 [INF] Пользователь admin вошёл в систему";

struct Case {
	const char *name;
	std::string content;
	std::string needle;
	std::vector<Hit> hits; // newest first
};

TEST_F(ScanBack, FindsTheLinesThatHoldTheNeedle)
{
	const std::string big_line = std::string(40000, 'x') + "NEEDLE" + std::string(30000, 'y');
	const Case cases[] = {
		{"newest first", "a x\nb\nc x\n", "x", {{4 + 2, "c x"}, {0, "a x"}}},
		{"ascii case folding", "TIMEOUT\ntime out\nTimeOut!\ntImEoUt", "timeOUT",
		 {{26, "tImEoUt"}, {17, "TimeOut!"}, {0, "TIMEOUT"}}},
		{"folding only letters: @ is not `", "a@b\na`b\n", "A@B", {{0, "a@b"}}},
		{"cr lf lines keep the cr", "err one\r\nok\r\nerr two\r\n", "err",
		 {{13, "err two\r"}, {0, "err one\r"}}},
		{"needle before the cr", "x ends here\r\n", "here\r", {{0, "x ends here\r"}}},
		{"last line without line feed", "one\ntwo hit\nthree hit", "hit",
		 {{12, "three hit"}, {4, "two hit"}}},
		{"empty file", "", "x", {}},
		{"empty lines", "\n\nx\n\n", "x", {{2, "x"}}},
		{"needle of one byte", "ab\ncd\nAB\n", "b", {{6, "AB"}, {0, "ab"}}},
		{"needle longer than every line", "abc\nabc\n", "abcabc", {}},
		{"needle never spans a line feed", "ab\ncd\n", "b\nc", {}},
		{"empty needle: every line", "a\n\nb", "", {{3, "b"}, {2, ""}, {0, "a"}}},
		{"two hits in one line give one", "x x x\n", "x", {{0, "x x x"}}},
		{"non-ascii bytes compare exactly", "\xc3\xa9t\xc3\xa9\n\xc3\x89T\xc3\x89\n", "\xc3\xa9T\xc3\xa9",
		 {{0, "\xc3\xa9t\xc3\xa9"}}},
		{"cyrillic is not folded", "\xd0\x96\n\xd0\xb6\n", "\xd0\xb6", {{3, "\xd0\xb6"}}},
		{"windows-1252 bytes", "caf\xe9 ok\ncafe\n", "\xe9 OK", {{0, "caf\xe9 ok"}}},
		{"nul bytes are bytes", std::string("a\0b\nab\n", 7), std::string("\0b", 2),
		 {{0, std::string("a\0b", 3)}}},
		{"line over the hand-over bound is cut, offset kept", "a\n" + big_line + "\nb\n", "needle",
		 {{2, big_line.substr(0, SCAN_LINE_MAX)}}},
		{"real layouts: refused", kRealLog, "connection REFUSED",
		 {{386, "2024/01/15 10:30:02 [error] 1234#0: *5 connect() failed (111: Connection refused) while "
			"connecting to upstream\r"},
		  {192, "2024-01-15 10:30:00,123 [main] ERROR com.example.App - Connection refused: connect"}}},
		{"real layouts: utf-8 text", kRealLog, "d\xc3\xa9lai",
		 {{762, "2024-01-15 10:30:05.789 +01:00 [ERR] \xc3\x89" "chec de la connexion \xc3\xa0 \xc2\xab db01 "
			"\xc2\xbb : d\xc3\xa9lai d\xc3\xa9pass\xc3\xa9"}}},
		{"real layouts: unended last line", kRealLog, "[inf]",
		 {{855, "2024-01-15 10:30:06.001 +01:00 [INF] \xd0\x9f\xd0\xbe\xd0\xbb\xd1\x8c\xd0\xb7\xd0\xbe\xd0\xb2"
			"\xd0\xb0\xd1\x82\xd0\xb5\xd0\xbb\xd1\x8c admin \xd0\xb2\xd0\xbe\xd1\x88\xd1\x91\xd0\xbb \xd0\xb2 "
			"\xd1\x81\xd0\xb8\xd1\x81\xd1\x82\xd0\xb5\xd0\xbc\xd1\x83"}}},
	};
	// Block sizes that cut the needle, the lines and the long line everywhere, and the real one.
	const size_t blocks[] = {1, 2, 3, 5, 8, 16, 17, 64, 4096, SCAN_BLOCK_SIZE};
	for (const Case &c : cases) {
		write(c.content);
		ASSERT_EQ(naive_hits(c.content, 0, c.content.size(), c.needle), c.hits) << c.name << ": the table";
		for (size_t block : blocks) {
			Scan s = scan(0, (int64_t)c.content.size(), c.needle, block);
			ASSERT_EQ(s.rc, 0) << c.name;
			EXPECT_EQ(s.hits, c.hits) << c.name << ", block " << block;
			EXPECT_EQ(s.res.stopped, SCAN_AT_FLOOR) << c.name;
			EXPECT_EQ(s.res.next_before, -1) << c.name;
			EXPECT_EQ(s.res.searched_bytes, (int64_t)c.content.size()) << c.name;
			EXPECT_EQ(s.res.lines, naive_lines(c.content, 0, c.content.size())) << c.name << ", block " << block;
		}
	}
}

// A needle at every offset of a block: straddling each boundary, at the block's first and last
// byte, and in a line that starts exactly at a boundary.
TEST_F(ScanBack, NeedleAtEveryPlaceAroundBlockBoundaries)
{
	for (size_t needle_len : {1, 2, 7, 255}) {
		std::string needle;
		for (size_t i = 0; i < needle_len; i++)
			needle += (char)('a' + i % 26);
		needle[needle_len / 2] = 'Q';
		for (size_t block : {needle_len + 1, needle_len + 5, (size_t)300}) {
			for (size_t pos = 0; pos < block + 3; pos++) {
				std::string content = std::string(pos, '.') + needle + "\n" + std::string(block, '-') + "\n";
				write(content);
				Scan s = scan(0, (int64_t)content.size(), needle, block);
				ASSERT_EQ(s.rc, 0);
				ASSERT_EQ(s.hits, naive_hits(content, 0, content.size(), needle))
					<< "len " << needle_len << " block " << block << " pos " << pos;
				ASSERT_EQ(s.res.lines, 2);
			}
		}
	}
}

std::string mixed_log(unsigned seed, size_t lines)
{
	static const char *const texts[] = {
		"Jan  5 09:12:44 web-01 sshd[1234]: Accepted publickey for admin\n",
		"2024-01-15T10:30:00.123Z ERROR upstream timed out\n",
		"2024-01-15 10:30:03, Info                  CBS    Session initialized\r\n",
		"\n",
		"2024-01-15 10:30:05.789 +01:00 [WRN] d\xc3\xa9lai d\xc3\xa9pass\xc3\xa9 pour db01\n",
	};
	std::mt19937 rng(seed);
	std::string s;
	for (size_t i = 0; i < lines; i++) {
		unsigned r = rng() % 40;
		if (r < 5)
			s += texts[r];
		else if (r == 5)
			s += std::string(3000 + rng() % 3000, 'z') + (rng() % 2 ? "TIMED OUT" : "") + std::string(rng() % 50, 'w') + "\n";
		else
			s += "Mar 17 08:15:02 build-07 cron[881]: job " + std::to_string(rng()) + " done\n";
	}
	return s;
}

// Several requests, each stopped by a small hit limit, find every hit once and count every line
// once, with blocks that cut long lines and blocks larger than the file.
TEST_F(ScanBack, ContinuationFindsEveryHitOnce)
{
	write(mixed_log(1, 1500) + "last line TIMED OUT, no line feed");
	for (size_t block : {(size_t)9, (size_t)64, (size_t)4096, (size_t)SCAN_BLOCK_SIZE}) {
		for (size_t limit : {1, 3, 500}) {
			SCOPED_TRACE("block " + std::to_string(block) + " limit " + std::to_string(limit));
			expect_pages_exact("timed out", block, limit);
			expect_pages_exact("", block, 500);
		}
	}
}

// A request may start at any offset from before, and stops at floor.
TEST_F(ScanBack, BeforeAndFloorInsideTheFile)
{
	write(mixed_log(2, 400));
	const size_t size = content_.size();
	// Line boundaries and offsets inside lines: the partial line up to before is a line.
	for (size_t before : {size / 2, size / 3 + 1, content_.find('\n', size / 4) + 1, (size_t)1}) {
		for (size_t floor : {(size_t)0, content_.find('\n', size / 8) + 1}) {
			if (floor >= before)
				continue;
			Scan s = scan((int64_t)floor, (int64_t)before, "e", 128);
			ASSERT_EQ(s.rc, 0);
			EXPECT_EQ(s.hits, naive_hits(content_, floor, before, "e")) << before << " " << floor;
			EXPECT_EQ(s.res.lines, naive_lines(content_, floor, before));
			EXPECT_EQ(s.res.searched_bytes, (int64_t)(before - floor));
		}
	}
	// Nothing between floor and before: nothing read, nothing left.
	for (int64_t before : {(int64_t)0, (int64_t)-5}) {
		Scan s = scan(0, before, "e", 128);
		EXPECT_EQ(s.rc, 0);
		EXPECT_TRUE(s.hits.empty());
		EXPECT_EQ(s.res.next_before, -1);
		EXPECT_EQ(s.res.lines, 0);
		EXPECT_EQ(s.res.searched_bytes, 0);
	}
}

// The budget stops a request at a line boundary within one block past it, and the next request
// goes on from there.
TEST_F(ScanBack, BudgetStopsAtALineBoundary)
{
	write(mixed_log(3, 2000));
	const int64_t size = (int64_t)content_.size();
	for (int64_t budget : {(int64_t)1, (int64_t)1000, (int64_t)50000}) {
		for (size_t block : {(size_t)256, (size_t)8192}) {
			Scan s = scan(0, size, "TIMED OUT", block, SEARCH_HITS_MAX, budget);
			ASSERT_EQ(s.rc, 0);
			ASSERT_EQ(s.res.stopped, SCAN_OUT_OF_BUDGET);
			int64_t nb = s.res.next_before;
			ASSERT_GT(nb, 0);
			EXPECT_TRUE(boundary_or_long_line(nb, block)) << nb;
			EXPECT_GE(s.res.searched_bytes, budget);
			// One block past the budget, or the long line that block ended in.
			EXPECT_LT(s.res.searched_bytes, budget + (int64_t)block + 6100);
			EXPECT_EQ(s.res.searched_bytes, size - nb);
			EXPECT_EQ(s.res.lines, naive_lines(content_, nb, size));
			EXPECT_EQ(s.hits, naive_hits(content_, nb, size, "TIMED OUT"));
			expect_pages_exact("TIMED OUT", block, 2, budget);
		}
	}
	// No budget: nothing examined, and the same before to go on from.
	Scan s = scan(0, size, "x", 4096, SEARCH_HITS_MAX, 0);
	EXPECT_EQ(s.res.stopped, SCAN_OUT_OF_BUDGET);
	EXPECT_EQ(s.res.next_before, size);
	EXPECT_EQ(s.res.lines, 0);
}

// A line longer than the budget is searched in parts, one request each: next_before falls inside
// it, and a match across the cut is still found once, by the request that reaches its start.
TEST_F(ScanBack, LineLongerThanTheBudget)
{
	for (size_t at : {(size_t)10, (size_t)4990, (size_t)4998, (size_t)5000, (size_t)9000}) {
		std::string line = std::string(10000, 'a');
		line.replace(at, 6, "NEEDLE");
		write("first\n" + line + "\nlast\n");
		expect_pages_exact("needle", 100, 500, 1000);
		expect_pages_exact("zzz", 100, 500, 1000);
	}
	// Without a hit the request ends inside the line...
	write("first\n" + std::string(10000, 'a') + "\n");
	Scan s = scan(0, (int64_t)content_.size(), "needle", 100, 500, 1000);
	EXPECT_EQ(s.res.stopped, SCAN_OUT_OF_BUDGET);
	EXPECT_GT(s.res.next_before, 6);
	EXPECT_LT(s.res.next_before, (int64_t)content_.size() - 1000 + 100);
	EXPECT_EQ(s.res.lines, 1);
	// ...but a hit is never left without its start: the line is read to it, past the budget.
	write("first\n" + std::string(10000, 'a') + "needle\n");
	s = scan(0, (int64_t)content_.size(), "needle", 100, 500, 1000);
	EXPECT_EQ(s.res.stopped, SCAN_OUT_OF_BUDGET);
	EXPECT_EQ(s.res.next_before, 6);
	EXPECT_EQ(s.res.lines, 1);
	ASSERT_EQ(s.hits.size(), 1u);
	EXPECT_EQ(s.hits[0].offset, 6);
	EXPECT_EQ(s.hits[0].line.size(), 10006u);
}

// A hit that stops the request at the oldest line leaves nothing to continue with.
TEST_F(ScanBack, StopAtTheFirstLineEndsThePages)
{
	write("hit one\nmiss\nhit two\n");
	Scan s = scan(0, (int64_t)content_.size(), "HIT", 4096, 1);
	EXPECT_EQ(s.res.stopped, SCAN_STOPPED);
	EXPECT_EQ(s.res.next_before, 13);
	EXPECT_EQ(s.res.lines, 1);
	s = scan(0, 13, "HIT", 4096, 1);
	EXPECT_EQ(s.res.stopped, SCAN_STOPPED);
	EXPECT_EQ(s.res.next_before, -1);
	EXPECT_EQ(s.res.lines, 2);
	EXPECT_EQ(s.res.searched_bytes, 13);
}

// A file that shrank below before since the last request cannot be read there.
TEST_F(ScanBack, ShrunkFileIsAReadError)
{
	write("one\ntwo\n");
	Scan s = scan(0, 100, "o", 4096);
	EXPECT_EQ(s.rc, SCAN_READ_ERROR);
	EXPECT_EQ(s.res.next_before, -1);
	EXPECT_EQ(s.res.lines, 0);
}

} // namespace
