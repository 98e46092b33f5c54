// A time range in a log file: the ends bisection finds against a reading of every line, and the
// entries a ranged tail and search keep against the same reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

#include "plugin_logs/plugin_logs.h"
#include "stored.h"

namespace {

// One line of a generated log: its bytes, and its second when it carries a timestamp.
struct Line {
	std::string text;
	int64_t second; // -1: no timestamp
};

std::string iso(int64_t second)
{
	char buf[40];
	snprintf(buf, sizeof(buf), "2024-01-%02dT%02d:%02d:%02d.%03dZ", (int)(15 + second / 86400),
		 (int)(second / 3600 % 24), (int)(second / 60 % 60), (int)(second % 60), (int)(second % 1000));
	return buf;
}

// A second counted from 2024-01-15T00:00:00 as since and until take it.
std::string at(int64_t second)
{
	char buf[40];
	snprintf(buf, sizeof(buf), "2024-01-%02dT%02d:%02d:%02d", (int)(15 + second / 86400), (int)(second / 3600 % 24),
		 (int)(second / 60 % 60), (int)(second % 60));
	return buf;
}

class LogRange : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/pl_range_XXXXXX";
		int fd = mkstemp(tmpl);
		ASSERT_GE(fd, 0);
		close(fd);
		path_ = tmpl;
	}
	void TearDown() override { unlink(path_.c_str()); }

	void write(const std::vector<Line> &lines)
	{
		lines_ = lines;
		offsets_.clear();
		FILE *f = fopen(path_.c_str(), "wb");
		ASSERT_NE(f, nullptr);
		int64_t off = 0;
		for (const Line &l : lines) {
			offsets_.push_back(off);
			fwrite(l.text.data(), 1, l.text.size(), f);
			off += (int64_t)l.text.size();
		}
		size_ = off;
		fclose(f);
	}

	// Lines of a log in order, one a second from 00:00:00, a stack trace of a few lines after
	// some of them, and now and then a trace longer than a probe reaches.
	std::vector<Line> ordered(int count, std::mt19937 &rng, bool long_traces)
	{
		std::vector<Line> lines;
		for (int i = 0; i < count; i++) {
			lines.push_back({iso(i) + " INFO [worker-" + std::to_string(i % 7) + "] request L" + std::to_string(i) +
						 " served\n",
					 i});
			if (rng() % 10 == 0) {
				int frames = 1 + (int)(rng() % 5);
				for (int k = 0; k < frames; k++)
					lines.push_back({"\tat com.example.Service.handle(Service.java:" + std::to_string(k) +
								 ") L" + std::to_string(i) + "\n",
							 -1});
			}
			if (long_traces && rng() % 500 == 0) {
				for (int k = 0; k < 3000; k++)
					lines.push_back({"    dump 0x" + std::string(40, 'f') + " L" + std::to_string(i) + "\n",
							 -1});
			}
		}
		return lines;
	}

	// The offset of the first timestamped line at or after `first` seconds, or the size.
	int64_t first_stamped_at_least(int64_t first) const
	{
		for (size_t i = 0; i < lines_.size(); i++) {
			if (lines_[i].second >= first)
				return offsets_[i];
		}
		return size_;
	}

	// The lines a range keeps: each one whose own timestamp, or that of the last timestamped
	// line before it, lies in [since, until].
	std::vector<size_t> in_range(int64_t since, int64_t until) const
	{
		std::vector<size_t> out;
		int64_t owner = -1;
		for (size_t i = 0; i < lines_.size(); i++) {
			if (lines_[i].second >= 0)
				owner = lines_[i].second;
			if (owner >= since && owner <= until)
				out.push_back(i);
		}
		return out;
	}

	TimeRange range(int64_t since, int64_t until)
	{
		TimeRange r;
		std::string s = since >= 0 ? at(since) : "", u = until >= 0 ? at(until) : "";
		EXPECT_EQ(time_range_parse(&r, s.c_str(), u.c_str()), nullptr);
		struct stat st;
		EXPECT_EQ(stat(path_.c_str(), &st), 0);
		time_range_set_file_time(&r, st.st_mtime);
		return r;
	}

	void expect_bounds(int64_t since, int64_t until, const std::string &what)
	{
		TimeRange r = range(since, until);
		FILE *f = fopen(path_.c_str(), "rb");
		ASSERT_NE(f, nullptr);
		int64_t lo = -5, hi = -5;
		EXPECT_EQ(log_range_bounds(f, size_, &r, &lo, &hi), 1);
		fclose(f);
		EXPECT_EQ(lo, since >= 0 ? first_stamped_at_least(since) : 0) << what << " since " << since;
		EXPECT_EQ(hi, until >= 0 ? first_stamped_at_least(until + 1) : size_) << what << " until " << until;
	}

	std::string path_;
	std::vector<Line> lines_;
	std::vector<int64_t> offsets_;
	int64_t size_ = 0;
};

// The L<n> marks of the kept entries' texts, one a line of each text.
std::vector<std::string> marks(const EntryCollector &c)
{
	std::vector<std::string> out;
	for (const Kept &k : kept(c)) {
		size_t from = 0;
		while (from <= k.text.size()) {
			size_t nl = k.text.find('\n', from);
			std::string line = k.text.substr(from, nl == std::string::npos ? std::string::npos : nl - from);
			size_t l = line.rfind(" L");
			out.push_back(l == std::string::npos ? line : line.substr(l + 1, line.find(' ', l + 1) - l - 1));
			if (nl == std::string::npos)
				break;
			from = nl + 1;
		}
	}
	return out;
}

std::string mark_of(const std::string &line)
{
	size_t l = line.rfind(" L");
	return line.substr(l + 1, line.find_first_of(" \n", l + 1) - l - 1);
}

TEST_F(LogRange, BoundsMatchAReadingOfEveryLine)
{
	std::mt19937 rng(2024);
	for (bool long_traces : {false, true}) {
		write(ordered(40000, rng, long_traces));
		const std::string what = long_traces ? "with long traces" : "short traces";
		const int64_t probes[] = {-1, 0, 1, 2, 59, 60, 17777, 20000, 39998, 39999, 40000, 86399};
		for (int64_t s : probes)
			for (int64_t u : probes)
				expect_bounds(s, u, what);
		for (int k = 0; k < 200; k++)
			expect_bounds((int64_t)(rng() % 41000), (int64_t)(rng() % 41000), what);
	}
}

TEST_F(LogRange, FilesWithoutTimestampsOrEmpty)
{
	write({});
	expect_bounds(10, 20, "empty");
	std::vector<Line> plain;
	for (int i = 0; i < 20000; i++)
		plain.push_back({"plain text line " + std::to_string(i) + " without a time\n", -1});
	write(plain);
	expect_bounds(10, 20, "no timestamps");
	expect_bounds(-1, 20, "no timestamps");
	OwnedCollector ring(50, 1), hits(SEARCH_HITS_MAX, 0);
	TimeRange r = range(10, 20);
	EXPECT_EQ(tail_log_range(path_.c_str(), 0, &r, &ring.c), 0);
	EXPECT_EQ(ring.c.count, 0);
	EXPECT_GE(read_log_file_range(path_.c_str(), "plain", 0, &r, &hits.c), 0);
	EXPECT_EQ(hits.c.count, 0);
	// One line without a line feed.
	write({{"2024-01-15T00:00:15Z only", 15}});
	expect_bounds(10, 20, "one line");
	expect_bounds(16, 20, "one line");
	EXPECT_EQ(tail_log_range(path_.c_str(), 0, &r, &ring.c), 1);
	EXPECT_EQ(ring.c.count, 1);
}

// A ranged tail keeps the newest entries in range, also when the range ends millions of bytes
// before the file does; a ranged search the hits in range of the window before its end.
TEST_F(LogRange, TailAndSearchKeepTheEntriesInRange)
{
	std::mt19937 rng(99);
	write(ordered(120000, rng, true)); // over 4 MiB
	struct Case {
		int64_t since, until;
		int32_t capacity;
	};
	const Case cases[] = {
		{-1, 5, 200},  {0, 0, 3},       {50000, 50100, 20}, {50000, 50100, 2000}, {-1, 60000, 200},
		{119990, -1, 50}, {70000, 60000, 10}, {200000, -1, 10}, {30000, 30000, 1}, {86399, 86400, 5},
	};
	for (const Case &c : cases) {
		int64_t until = c.until >= 0 ? c.until : INT64_MAX;
		std::vector<size_t> want = in_range(c.since, until);
		const std::string what = "since " + std::to_string(c.since) + " until " + std::to_string(c.until);
		for (int multiline = 0; multiline <= 1; multiline++) {
			TimeRange r = range(c.since, c.until);
			OwnedCollector ring(c.capacity, 1);
			ASSERT_GE(tail_log_range(path_.c_str(), multiline, &r, &ring.c), 0) << what;
			std::vector<std::string> got = marks(ring.c);
			std::vector<std::string> all;
			for (size_t i : want)
				all.push_back(mark_of(lines_[i].text));
			if (!multiline) {
				// One entry a line: the newest `capacity` lines in range.
				size_t n = std::min(all.size(), (size_t)c.capacity);
				ASSERT_EQ(got, std::vector<std::string>(all.end() - n, all.end())) << what;
				continue;
			}
			// Entries of several lines (a long dump is split at the entry bounds): the
			// newest lines in range, a full ring of them when there are enough.
			ASSERT_LE(got.size(), all.size()) << what;
			ASSERT_EQ(got, std::vector<std::string>(all.end() - got.size(), all.end())) << what;
			int64_t stamped = 0;
			for (size_t i : want)
				stamped += lines_[i].second >= 0;
			EXPECT_GE(ring.c.count, std::min<int64_t>(stamped, c.capacity)) << what;
		}
		TimeRange r = range(c.since, c.until);
		OwnedCollector hits(SEARCH_HITS_MAX, 0);
		ASSERT_GE(read_log_file_range(path_.c_str(), "request", 0, &r, &hits.c), 0);
		for (const Kept &k : kept(hits.c)) {
			int64_t key = time_range_key(&r, k.ts.data(), k.ts.size());
			EXPECT_TRUE(time_range_holds(&r, key)) << what << " hit " << k.ts;
		}
		int64_t stamped_in_range = 0;
		for (size_t i : want)
			stamped_in_range += lines_[i].second >= 0;
		if (stamped_in_range <= SEARCH_HITS_MAX && stamped_in_range < SEARCH_SCAN_MAX / 2)
			EXPECT_EQ(hits.c.count, stamped_in_range) << what;
	}
}

// Logs are not strictly in order: bisection finds about where the range lies, and what is read
// there is still filtered.
TEST_F(LogRange, UnorderedLinesAreFiltered)
{
	std::mt19937 rng(5);
	std::vector<Line> lines;
	for (int i = 0; i < 30000; i++) {
		int64_t second = i + (int64_t)(rng() % 40) - 20; // writers that race for the file
		if (second < 0)
			second = 0;
		lines.push_back({iso(second) + " WARN out of order L" + std::to_string(i) + "\n", second});
		if (rng() % 8 == 0)
			lines.push_back({"  continued L" + std::to_string(i) + "\n", -1});
	}
	write(lines);
	for (int64_t since : {100, 15000, 29000}) {
		for (int multiline = 0; multiline <= 1; multiline++) {
			TimeRange r = range(since, since + 30);
			OwnedCollector ring(100, 1);
			ASSERT_GE(tail_log_range(path_.c_str(), multiline, &r, &ring.c), 0);
			EXPECT_GT(ring.c.count, 0);
			for (const Kept &k : kept(ring.c)) {
				if (k.ts.empty())
					continue; // a continuation, kept with its entry in range
				int64_t key = time_range_key(&r, k.ts.data(), k.ts.size());
				EXPECT_TRUE(time_range_holds(&r, key)) << k.ts;
			}
		}
	}
}

// Syslog gives no year: the file's modification decides it, and a file that spans New Year
// is bisected in its order.
TEST_F(LogRange, SyslogAcrossNewYear)
{
	static const char *const days[] = {"Dec 30", "Dec 31", "Jan  1", "Jan  2"};
	std::vector<Line> lines;
	int n = 0;
	for (int d = 0; d < 4; d++) {
		for (int h = 0; h < 24; h++) {
			for (int m = 0; m < 60; m += 2) {
				char buf[128];
				snprintf(buf, sizeof(buf), "%s %02d:%02d:00 host sshd[%d]: Accepted publickey for user L%d\n",
					 days[d], h, m, 1000 + n, n);
				lines.push_back({buf, d * 86400 + h * 3600 + m * 60});
				n++;
			}
		}
	}
	write(lines);
	struct utimbuf times = {1704240000, 1704240000}; // 2024-01-03T00:00:00Z
	ASSERT_EQ(utime(path_.c_str(), &times), 0);
	setenv("TZ", "UTC0", 1);
	tzset();
	TimeRange r;
	ASSERT_EQ(time_range_parse(&r, "2023-12-31T23:50", "2024-01-01T00:10"), nullptr);
	OwnedCollector ring(100, 1);
	ASSERT_EQ(tail_log_range(path_.c_str(), 0, &r, &ring.c) >= 0, true);
	std::vector<Kept> got = kept(ring.c);
	ASSERT_EQ(got.size(), 11u);
	EXPECT_EQ(got.front().ts, "Dec 31 23:50:00");
	EXPECT_EQ(got.back().ts, "Jan  1 00:10:00");
	unsetenv("TZ");
	tzset();
}

} // namespace
