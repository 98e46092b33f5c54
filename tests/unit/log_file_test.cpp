// read_log_file over real files: window, chunks, resynchronisation, limits and failures.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "plugin_logs/plugin_logs.h"
#include "platform.h"
#include "stored.h"

namespace {

const int64_t kWindow = 4194304;

class LogFile : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/pl_log_file_XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir_ = tmpl;
		path_ = dir_ + "/a.log";
	}
	void TearDown() override
	{
		std::string cmd = "rm -rf '" + dir_ + "'";
		ASSERT_EQ(system(cmd.c_str()), 0);
	}
	// Writes content, after `hole` bytes of sparse space when hole > 0.
	void write(const std::string &content, int64_t hole = 0)
	{
		int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		ASSERT_GE(fd, 0);
		ASSERT_EQ(ftruncate(fd, (off_t)hole), 0);
		ASSERT_EQ(lseek(fd, 0, SEEK_END), (off_t)hole);
		ASSERT_EQ(::write(fd, content.data(), content.size()), (ssize_t)content.size());
		close(fd);
	}
	// A tail of capacity entries; returns the texts oldest first.
	std::vector<std::string> tail(int32_t capacity, int32_t *result)
	{
		OwnedCollector ring(capacity, 1);
		*result = read_log_file(path_.c_str(), nullptr, 0, &ring.c);
		return kept_texts(ring.c);
	}
	// The first entries of the window, through a hit list without a query.
	std::vector<std::string> head(int32_t *result)
	{
		return search(nullptr, result);
	}
	std::vector<std::string> search(const char *q, int32_t *result)
	{
		OwnedCollector hits(SEARCH_HITS_MAX, 0);
		*result = read_log_file(path_.c_str(), q, 0, &hits.c);
		return kept_texts(hits.c);
	}
	std::string dir_;
	std::string path_;
};

std::string numbered_lines(int from, int to, const char *word = "line")
{
	std::string s;
	for (int i = from; i <= to; i++)
		s += std::string(word) + " " + std::to_string(i) + "\n";
	return s;
}

// n bytes of 100-byte lines, the last one shorter; n >= 1.
std::string filler(size_t n)
{
	std::string s;
	s.reserve(n);
	while (s.size() + 100 <= n)
		s += std::string(99, 'f') + "\n";
	if (s.size() < n)
		s += std::string(n - s.size() - 1, 'g') + "\n";
	return s;
}

TEST_F(LogFile, UnreadablePathsGiveMinusOneAndDeliverNothing)
{
	std::string fifo = dir_ + "/fifo.log";
	std::string dev = dir_ + "/dev.log";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
	ASSERT_EQ(symlink("/dev/zero", dev.c_str()), 0);
	const std::string paths[] = {dir_ + "/missing.log", dir_, fifo, dev};
	for (const std::string &p : paths) {
		OwnedCollector ring(1, 1);
		EXPECT_EQ(read_log_file(p.c_str(), nullptr, 0, &ring.c), -1) << p;
		EXPECT_EQ(ring.c.count, 0);
	}
}

TEST_F(LogFile, EmptyFileGivesZero)
{
	write("");
	int32_t n;
	EXPECT_TRUE(tail(5, &n).empty());
	EXPECT_EQ(n, 0);
}

TEST_F(LogFile, TailKeepsTheNewestAndCountsEveryLine)
{
	int32_t n;
	write(numbered_lines(1, 150));
	std::vector<std::string> got = tail(200, &n);
	EXPECT_EQ(n, 150);
	ASSERT_EQ(got.size(), 150u);
	EXPECT_EQ(got.front(), "line 1");
	write(numbered_lines(1, 10000));
	got = tail(200, &n);
	EXPECT_EQ(n, 10000);
	ASSERT_EQ(got.size(), 200u);
	EXPECT_EQ(got.front(), "line 9801");
	EXPECT_EQ(got.back(), "line 10000");
}

TEST_F(LogFile, LineEndingsAndEmptyLines)
{
	int32_t n;
	write("a\r\n\r\n\nb\r\r\nlast without feed");
	std::vector<std::string> want = {"a", "", "", "b", "last without feed"};
	EXPECT_EQ(tail(10, &n), want);
	EXPECT_EQ(n, 5);
	// With a query, empty lines never match.
	EXPECT_EQ(search("a", &n), (std::vector<std::string>{"a", "last without feed"}));
	EXPECT_EQ(n, 5);
}

TEST_F(LogFile, LongLinesArriveInChunksOf2047)
{
	int32_t n;
	std::string big = std::string(2047, 'a') + std::string(953, 'b');
	write(big + "\nnext\n");
	std::vector<std::string> got = tail(10, &n);
	EXPECT_EQ(n, 3);
	ASSERT_EQ(got.size(), 3u);
	EXPECT_EQ(got[0], std::string(1023, 'a'));
	EXPECT_EQ(got[1], std::string(953, 'b'));
	EXPECT_EQ(got[2], "next");
}

TEST_F(LogFile, AChunkEndsOnAWholeCharacter)
{
	const std::string zh = "\xd0\xb6"; // ж, two bytes
	std::string cyr;
	for (int i = 0; i < 1500; i++)
		cyr += zh;
	struct Row {
		std::string content;
		std::vector<std::string> want;
	} rows[] = {
		// 2047 bytes would end inside the 1024th ж: it begins the second chunk instead.
		{cyr + "\n", {cyr.substr(0, 1022), cyr.substr(0, 2 * 477)}},
		// One byte more in front and the chunk ends on a whole ж.
		{"a" + cyr + "\n", {"a" + cyr.substr(0, 1022), cyr.substr(0, 2 * 477)}},
		// The file ends right after a chunk whose last byte begins a character: that byte is
		// the last piece, not lost.
		{std::string(2046, 'a') + "\xc3", {std::string(1023, 'a'), "\xef\xbf\xbd"}},
		{std::string(2046, 'a') + "\xc3\xa9\n", {std::string(1023, 'a'), "\xc3\xa9"}},
	};
	for (const Row &r : rows) {
		int32_t n;
		write(r.content);
		EXPECT_EQ(tail(10, &n), r.want) << r.content.size();
		EXPECT_EQ(n, (int32_t)r.want.size());
	}
}

TEST_F(LogFile, LinesThatAreNotUtf8ShowUFFFD)
{
	int32_t n;
	write("Gr\xfc\xdf" "e aus K\xf6ln\nJan 05 10:00:00 h Dienst\xe9[1]: Stra\xdf" "e\nvalid caf\xc3\xa9\n");
	OwnedCollector ring(4, 1);
	ASSERT_EQ(read_log_file(path_.c_str(), nullptr, 0, &ring.c), 3);
	std::vector<Kept> slots = kept(ring.c);
	const std::string fffd = "\xef\xbf\xbd";
	EXPECT_EQ(slots[0].text, "Gr" + fffd + fffd + "e aus K" + fffd + "ln");
	EXPECT_EQ(slots[1].unit, "Dienst" + fffd + "[1]");
	EXPECT_EQ(slots[1].text, "Stra" + fffd + "e");
	EXPECT_EQ(slots[2].text, "valid caf\xc3\xa9");
	// The search sees the text as it is shown.
	EXPECT_EQ(search("\xef\xbf\xbdln", &n), (std::vector<std::string>{slots[0].text}));
	EXPECT_TRUE(search("K\xf6ln", &n).empty());
}

TEST_F(LogFile, CutWindowStartingInsideACharacter)
{
	int32_t n;
	// The window starts one byte into the file: inside ж of a UTF-8 line, whose broken rest
	// goes; inside é of a line that is not UTF-8 anyway, which keeps its bytes.
	write("\xd0\xb6 marker\n" + filler((size_t)kWindow + 1 - 10));
	std::vector<std::string> got = head(&n);
	ASSERT_FALSE(got.empty());
	EXPECT_EQ(got[0], " marker");
	write("\xc3\xa9\xe9t\xe9 x\n" + filler((size_t)kWindow + 1 - 8));
	got = head(&n);
	ASSERT_FALSE(got.empty());
	EXPECT_EQ(got[0], "\xef\xbf\xbd\xef\xbf\xbdt\xef\xbf\xbd x");
}

TEST_F(LogFile, BytesAfterANulAreIgnored)
{
	int32_t n;
	write(std::string("seen\0hidden\nnext\n", 17));
	EXPECT_EQ(tail(10, &n), (std::vector<std::string>{"seen", "next"}));
}

TEST_F(LogFile, WindowBoundary)
{
	int32_t n;
	// Exactly 4 MiB: read from the first byte.
	std::string first = "first line\n";
	std::string body = first + filler((size_t)kWindow - first.size());
	ASSERT_EQ((int64_t)body.size(), kWindow);
	write(body);
	std::vector<std::string> got = head(&n);
	ASSERT_FALSE(got.empty());
	EXPECT_EQ(got.front(), "first line");
	// One byte more: read from offset 1, the rest of the first line is the first entry.
	write("0" + body);
	got = head(&n);
	ASSERT_FALSE(got.empty());
	EXPECT_EQ(got.front(), "first line");
	// Two bytes more at the end: the window starts inside the first line.
	write(body + "z\n");
	got = head(&n);
	ASSERT_FALSE(got.empty());
	EXPECT_EQ(got.front(), "rst line");
}

TEST_F(LogFile, CutWindowDropsLeadingChunksOfALongFirstLine)
{
	int32_t n;
	// The window starts 5001 bytes before the first line end: two full chunks go and the
	// third (906 bytes and the feed) is the first entry.
	std::string cut_line = "P" + std::string(4094, 'a') + std::string(906, 'c') + "\n";
	write(cut_line + filler((size_t)kWindow + 1 - cut_line.size()));
	std::vector<std::string> got = head(&n);
	ASSERT_FALSE(got.empty());
	EXPECT_EQ(got[0], std::string(906, 'c'));
	EXPECT_EQ(got[1], std::string(99, 'f'));
}

TEST_F(LogFile, CutWindowWithoutAnyLineFeedDeliversNothing)
{
	int32_t n;
	write(std::string((size_t)kWindow + 10, 'z'));
	EXPECT_TRUE(tail(10, &n).empty());
	EXPECT_EQ(n, 0);
}

TEST_F(LogFile, SparseFilesUseTheLastWindowWhateverTheSize)
{
	// 3 GiB and 4 GiB + 1000: 32-bit arithmetic would read from the start (or offset 1000).
	const int64_t sizes[] = {3LL << 30, (4LL << 30) + 1000};
	for (int64_t size : sizes) {
		std::string end = "\nJan 05 10:00:00 h app: tail end one\nJan 05 10:00:00 h app: tail end two\n";
		write(end, size - (int64_t)end.size());
		int32_t n;
		std::vector<std::string> got = tail(2, &n);
		EXPECT_EQ(got, (std::vector<std::string>{"tail end one", "tail end two"})) << size;
		// The rest of the window is holes (NUL bytes): each chunk of them is an empty line.
		EXPECT_EQ(n, 2049 + 2) << size;
		got = search("end two", &n);
		EXPECT_EQ(got, (std::vector<std::string>{"tail end two"})) << size;
	}
}

TEST_F(LogFile, SearchScansAtMost8000LinesAndKeeps500Hits)
{
	int32_t n;
	write(numbered_lines(1, 9000, "match"));
	std::vector<std::string> got = search("MATCH", &n);
	EXPECT_EQ(n, SEARCH_SCAN_MAX);
	ASSERT_EQ(got.size(), 500u);
	EXPECT_EQ(got.front(), "match 1");
	EXPECT_EQ(got.back(), "match 500");
	write(numbered_lines(1, 8499) + "needle\n" + numbered_lines(8501, 9000));
	got = search("needle", &n);
	EXPECT_EQ(n, SEARCH_SCAN_MAX);
	EXPECT_TRUE(got.empty());
}

TEST_F(LogFile, FilterLooksAtTextUnitAndTsButNotTheHost)
{
	write("Jan 05 10:00:00 myhost sshd[1]: login ok\n"
	      "2024-01-15T10:30:00.123Z started\n"
	      "plain words\n");
	int32_t n;
	EXPECT_EQ(search("SSHD", &n), (std::vector<std::string>{"login ok"}));
	EXPECT_EQ(n, 3);
	EXPECT_EQ(search("2024-01-15", &n), (std::vector<std::string>{"started"}));
	EXPECT_EQ(search("jan 05", &n), (std::vector<std::string>{"login ok"}));
	EXPECT_TRUE(search("myhost", &n).empty());
	EXPECT_EQ(search("words", &n), (std::vector<std::string>{"plain words"}));
}

// A search by the definition: every line converted and parsed as the reader does, then its
// text, unit and ts tested. The reader parses only lines that hold the query; it must find the
// same hits. Lines stay below a chunk, so each is one.
TEST_F(LogFile, SearchFindsWhatParsingEveryLineFinds)
{
	const char *const heads[] = {"Jan 05 10:00:00 myhost sshd[12]: ", "2024-01-15T10:30:00.123Z ", "",
				     "Mar 17 08:15:02 h :", "2024-01-15 10:30:00,123\t"};
	/* Words in either case, UTF-8, Windows-1252 bytes (U+FFFD once converted), a NUL. */
	const std::string words[] = {"Timeout", "ERROR", "disk ", "D\xc3\xa9j\xc3\xa0 ", "Gr\xfc\xdf", "\xff",
				     "x", " ", "\t", "myhost", "sshd", ":", "err", std::string("a\0b", 3)};
	std::mt19937 rng(8080);
	for (int file = 0; file < 40; file++) {
		std::vector<std::string> lines((size_t)(1 + rng() % 300));
		std::string content;
		for (std::string &line : lines) {
			line = heads[rng() % (sizeof(heads) / sizeof(heads[0]))];
			for (int w = (int)(rng() % 12); w > 0; w--)
				line += words[rng() % (sizeof(words) / sizeof(words[0]))];
			content += line + (rng() % 5 == 0 ? "\r\n" : "\n");
		}
		write(content);
		/* The reference: each line's text before its NUL, as UTF-8, parsed. */
		std::vector<LogEntry> parsed(lines.size());
		for (size_t i = 0; i < lines.size(); i++) {
			std::string raw = lines[i].substr(0, lines[i].find('\0'));
			std::vector<char> utf8(3 * raw.size() + 1);
			size_t len = raw.size();
			const char *text = plat_text_to_utf8(raw.data(), &len, utf8.data(), utf8.size());
			parse_log_line(&parsed[i], text, len);
		}
		for (int round = 0; round < 12; round++) {
			/* A piece of a field with its case changed, a piece of a raw line, or U+FFFD. */
			const LogEntry &e = parsed[rng() % parsed.size()];
			const char *fields[] = {e.text, e.unit, e.ts};
			std::string from = round % 4 == 3 ? lines[rng() % lines.size()] : fields[rng() % 3];
			from = from.substr(0, from.find('\0'));
			std::string q = round % 6 == 5 ? "\xef\xbf\xbd" : from.substr(from.empty() ? 0 : rng() % from.size(), 1 + rng() % 6);
			for (char &c : q)
				c = rng() % 2 && c >= 'a' && c <= 'z' ? (char)(c - 32) : c;
			if (q.empty())
				continue;
			std::vector<const LogEntry *> want;
			for (const LogEntry &p : parsed) {
				if (want.size() < SEARCH_HITS_MAX &&
				    (ci_contains(p.text, q.c_str()) || ci_contains(p.unit, q.c_str()) || ci_contains(p.ts, q.c_str())))
					want.push_back(&p);
			}
			OwnedCollector hits(SEARCH_HITS_MAX, 0);
			std::string what = "file " + std::to_string(file) + " q " + testing::PrintToString(q);
			ASSERT_EQ(read_log_file(path_.c_str(), q.c_str(), 0, &hits.c), (int32_t)lines.size()) << what;
			ASSERT_EQ(hits.c.count, (int32_t)want.size()) << what;
			std::vector<Kept> slots = kept(hits.c);
			for (size_t k = 0; k < want.size(); k++) {
				ASSERT_EQ(slots[k].text, want[k]->text) << what;
				ASSERT_EQ(slots[k].unit, want[k]->unit) << what;
				ASSERT_EQ(slots[k].ts, want[k]->ts) << what;
			}
		}
	}
}

TEST_F(LogFile, SeverityComesFromTheTextOnly)
{
	write("Jan 05 10:00:00 error-host failed-unit: all fine\nplain error here\n");
	OwnedCollector ring(2, 1);
	ASSERT_EQ(read_log_file(path_.c_str(), nullptr, 0, &ring.c), 2);
	std::vector<Kept> slots = kept(ring.c);
	// Classification waits until an entry is printed, and then reads the text alone.
	EXPECT_EQ(slots[0].sev, SEV_UNCLASSIFIED);
	EXPECT_EQ(severity_of(slots[0].text.c_str()), SEV_INFO);
	EXPECT_EQ(severity_of(slots[1].text.c_str()), SEV_ERR);
}

TEST_F(LogFile, AGrowingLogIsFollowedOnlySoFar)
{
	write("");
	std::atomic<bool> stop(false);
	const std::string line = std::string(63, 'w') + "\n";
	std::string block;
	for (int i = 0; i < 1024; i++)
		block += line;
	// Appends up to 64 MiB, far faster than lines are parsed, until the reader is done.
	std::thread writer([&] {
		FILE *f = fopen(path_.c_str(), "ab");
		for (int i = 0; i < 1024 && !stop; i++) {
			fwrite(block.data(), 1, block.size(), f);
			fflush(f);
		}
		fclose(f);
	});
	struct stat st;
	while (stat(path_.c_str(), &st) == 0 && st.st_size < 2 * kWindow)
		std::this_thread::yield();
	int32_t n;
	tail(10, &n);
	stop = true;
	writer.join();
	// The window and the allowance: 4 MiB each, at most one line per 64 bytes.
	EXPECT_GE(n, (int32_t)(kWindow / 64));
	EXPECT_LE(n, (int32_t)(2 * kWindow / 64) + 1);
}

// Traces as .NET (log4net's default layout), Java (Spring Boot's console layout) and Python's
// logging module write them: a stamped first line, then lines of their own.
const std::string kDotNet =
	"2024-01-15 10:30:00,123 [12] ERROR MyApp.OrderService - Order 7 failed\r\n"
	"System.InvalidOperationException: Sequence contains no elements\r\n"
	"   at System.Linq.ThrowHelper.ThrowNoElementsException()\r\n"
	"   at MyApp.OrderService.Place(Order order) in C:\\src\\OrderService.cs:line 42\r\n";
const std::string kJava =
	"2024-01-15T10:30:01.500+01:00 ERROR 4242 --- [           main] o.s.boot.SpringApplication               "
	": Application run failed\n"
	"java.lang.IllegalStateException: Failed to execute CommandLineRunner\n"
	"\tat org.springframework.boot.SpringApplication.callRunner(SpringApplication.java:771)\n"
	"Caused by: java.lang.NullPointerException: null\n"
	"\tat com.example.App.run(App.java:21)\n"
	"\t... 2 common frames omitted\n";
const std::string kPython =
	"2024-01-15 10:30:02,500 INFO worker started\n"
	"2024-01-15 10:30:03,000 ERROR worker crashed\n"
	"Traceback (most recent call last):\n"
	"  File \"/srv/app/worker.py\", line 10, in run\n"
	"    result = compute()\n"
	"ZeroDivisionError: division by zero\n";

std::string without_cr(std::string s)
{
	std::string out;
	for (char c : s)
		if (c != '\r')
			out += c;
	return out;
}

std::string bare_lines(const std::string &s)
{
	std::string t = without_cr(s);
	return t.substr(0, t.size() - 1);
}

class Multiline : public LogFile {
protected:
	std::vector<Kept> tail_of(int32_t capacity, int multiline, int32_t *result)
	{
		OwnedCollector ring(capacity, 1);
		*result = tail_log_file(path_.c_str(), multiline, &ring.c);
		return kept(ring.c);
	}
	std::vector<Kept> search_of(const char *q, int multiline, int32_t *result)
	{
		OwnedCollector hits(SEARCH_HITS_MAX, 0);
		*result = read_log_file(path_.c_str(), q, multiline, &hits.c);
		return kept(hits.c);
	}
};

TEST_F(Multiline, TracesJoinTheEntryTheyFollow)
{
	write(kDotNet + kJava + kPython);
	int32_t n;
	std::vector<Kept> got = tail_of(200, 1, &n);
	EXPECT_EQ(n, 16);
	ASSERT_EQ(got.size(), 4u);
	EXPECT_EQ(got[0].ts, "2024-01-15 10:30:00,123");
	EXPECT_EQ(got[0].text, "[12] ERROR MyApp.OrderService - Order 7 failed\n" +
				       bare_lines(kDotNet.substr(kDotNet.find('\n') + 1)));
	EXPECT_EQ(got[0].lines, 4);
	EXPECT_EQ(got[1].lines, 6);
	EXPECT_NE(got[1].text.find("\n\t... 2 common frames omitted"), std::string::npos);
	EXPECT_EQ(got[2].text, "INFO worker started");
	EXPECT_EQ(got[3].text, "ERROR worker crashed\n" + bare_lines(kPython.substr(kPython.find("Traceback"))));

	// The newest N are whole entries, not lines.
	got = tail_of(2, 1, &n);
	ASSERT_EQ(got.size(), 2u);
	EXPECT_EQ(got[1].lines, 5);
	EXPECT_EQ(got[0].text, "INFO worker started");

	// Without asking, one entry a line as before.
	got = tail_of(200, 0, &n);
	EXPECT_EQ(got.size(), 16u);
	EXPECT_EQ(got[1].text, "System.InvalidOperationException: Sequence contains no elements");
}

TEST_F(Multiline, SearchFindsWholeEntriesByAnyLine)
{
	write(kDotNet + kJava + kPython);
	int32_t n;
	std::vector<Kept> got = search_of("nullpointer", 1, &n);
	EXPECT_EQ(n, 16);
	ASSERT_EQ(got.size(), 1u);
	EXPECT_EQ(got[0].ts, "2024-01-15T10:30:01.500+01:00");
	EXPECT_EQ(got[0].lines, 6);
	got = search_of("worker", 1, &n);
	ASSERT_EQ(got.size(), 2u);
	EXPECT_EQ(got[1].lines, 5);
	got = search_of("2024-01-15 10:30:00", 1, &n);
	ASSERT_EQ(got.size(), 1u);
	EXPECT_EQ(got[0].lines, 4);
	EXPECT_TRUE(search_of("not there", 1, &n).empty());

	got = search_of("nullpointer", 0, &n);
	ASSERT_EQ(got.size(), 1u);
	EXPECT_EQ(got[0].text, "Caused by: java.lang.NullPointerException: null");
}

TEST_F(Multiline, LinesBeforeTheFirstStampOfTheWindowAreAnEntryOfTheirOwn)
{
	// The window begins with the rest of an entry that began before it.
	std::string rest = "Frame()\n   at A.B()\n   at C.D()\n" + kPython;
	while (rest.size() < (size_t)kWindow)
		rest += "2024-01-15 10:31:00,000 INFO filler\n";
	rest.resize((size_t)kWindow);
	rest.back() = '\n';
	write("2024-01-15 10:29:00,000 ERROR began before\n   at Z.Y" + rest);
	int32_t n;
	std::vector<Kept> got = search_of("A.B()", 1, &n);
	ASSERT_EQ(got.size(), 1u);
	EXPECT_EQ(got[0].ts, "");
	EXPECT_EQ(got[0].text, "Frame()\n   at A.B()\n   at C.D()");

	// At the file's start nothing began before: such lines are entries of one line, and so are
	// lines without a timestamp in a log that never has one.
	write("   at A.B()\n   at C.D()\n" + kPython);
	got = tail_of(10, 1, &n);
	ASSERT_EQ(got.size(), 4u);
	EXPECT_EQ(got[0].text, "   at A.B()");
	write(">>>  [Device Install (Hardware initiated) - USB\\VID_046D&PID_C52B]\n"
	      ">>>  Section start 2024/01/15 10:30:00.123\n"
	      "     ump: Creating Install Process: DrvInst.exe 10:30:00.125\n"
	      "<<<  Section end 2024/01/15 10:30:01.500\n");
	got = tail_of(10, 1, &n);
	EXPECT_EQ(got.size(), 4u);
}

TEST_F(Multiline, BoundsStartAnotherEntryAndLoseNothing)
{
	// 250 lines: 200 in the first entry, the rest in an entry of their own.
	std::string content = "2024-01-15 10:30:00,123 ERROR dump follows\n";
	for (int i = 1; i < 250; i++)
		content += "  frame " + std::to_string(i) + "\n";
	write(content);
	int32_t n;
	std::vector<Kept> got = tail_of(10, 1, &n);
	ASSERT_EQ(got.size(), 2u);
	EXPECT_EQ(got[0].lines, ENTRY_LINES_MAX);
	EXPECT_EQ(got[1].lines, 50);
	EXPECT_EQ(got[1].text.substr(0, 12), "  frame 200\n");

	// Bytes: 20 lines of 1000 bytes, then a long line of 5000 read in parts (joined without a
	// line feed); the entry ends before the piece that would pass 16383 bytes.
	content = "2024-01-15 10:30:00,123 INFO big\n";
	for (int i = 0; i < 20; i++)
		content += std::string(999, (char)('a' + i)) + "\n";
	write(content);
	got = tail_of(10, 1, &n);
	ASSERT_EQ(got.size(), 2u);
	EXPECT_LE(got[0].text.size(), (size_t)ENTRY_TEXT_MAX);
	EXPECT_EQ(got[0].lines, 17);
	EXPECT_EQ(got[1].text, std::string(999, 'q') + "\n" + std::string(999, 'r') + "\n" + std::string(999, 's') +
				       "\n" + std::string(999, 't'));

	write("2024-01-15 10:30:00,123 INFO long\n" + std::string(5000, 'L') + "\n");
	got = tail_of(10, 1, &n);
	ASSERT_EQ(got.size(), 1u);
	EXPECT_EQ(got[0].text, "INFO long\n" + std::string(5000, 'L'));
	EXPECT_EQ(got[0].lines, 2);
}

TEST_F(Multiline, ATailOfEntriesReadsFurtherBackThanItsLines)
{
	// 300 entries of 20 lines: a tail of 100 entries needs 2000 lines.
	std::string content;
	for (int i = 0; i < 300; i++) {
		content += "2024-01-15 10:30:00,123 ERROR entry " + std::to_string(i) + "\n";
		for (int k = 0; k < 19; k++)
			content += "   at frame " + std::to_string(k) + "\n";
	}
	write(content);
	int32_t n;
	std::vector<Kept> got = tail_of(100, 1, &n);
	ASSERT_EQ(got.size(), 100u);
	EXPECT_EQ(got[0].text.substr(0, 15), "ERROR entry 200");
	EXPECT_EQ(got[99].lines, 20);
}

} // namespace
