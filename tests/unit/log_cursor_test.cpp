// The follower's cursor: its text form, and tails after it as a log grows, rotates or changes.
#include <gtest/gtest.h>

#include <random>
#include <stdio.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform.h"
#include "plugin_logs/plugin_logs.h"
#include "stored.h"

namespace {

std::string encode(const LogCursor &c)
{
	char text[CURSOR_TEXT_SIZE];
	cursor_encode(&c, text, sizeof(text));
	return text;
}

TEST(CursorCodec, RoundTripsEveryField)
{
	const LogCursor rows[] = {
		{0, 0, 0, 0, 0},
		{CURSOR_MULTILINE | CURSOR_RESEND | CURSOR_JOINS, UINT64_MAX, UINT64_MAX, INT64_MAX, UINT32_MAX},
		{CURSOR_MULTILINE | CURSOR_RESEND, 0x5A0000u, 10977967, 4194305, 0x811C9DC5u},
		{CURSOR_MULTILINE | CURSOR_JOINS, 2049, 1, (int64_t)5 << 32, 7},
		{CURSOR_MULTILINE, 3, 4, 5, 6},
	};
	for (const LogCursor &c : rows) {
		std::string text = encode(c);
		ASSERT_EQ(text.size(), (size_t)CURSOR_TEXT_LEN) << text;
		// Characters that need no escape in JSON and no encoding in a query string.
		EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
			  std::string::npos) << text;
		LogCursor back;
		ASSERT_EQ(cursor_decode(text.c_str(), &back), 1) << text;
		EXPECT_EQ(back.flags, c.flags);
		EXPECT_EQ(back.volume, c.volume);
		EXPECT_EQ(back.index, c.index);
		EXPECT_EQ(back.offset, c.offset);
		EXPECT_EQ(back.proof, c.proof);
	}
}

TEST(CursorCodec, TextFormIsStable)
{
	// Cursors outlive a program update in open pages: the form must not drift by accident.
	LogCursor c = {CURSOR_MULTILINE | CURSOR_RESEND, 0x0102030405060708u, 0x1112131415161718u, 0x2122232425262728,
		       0x31323334u};
	EXPECT_EQ(encode(c), "AQMBAgMEBQYHCBESExQVFhcYISIjJCUmJygxMjM0");
}

TEST(CursorCodec, RefusesWhatItDidNotWrite)
{
	LogCursor good = {CURSOR_MULTILINE | CURSOR_RESEND, 1, 2, 3, 4};
	std::string g = encode(good);
	std::string with_flag8 = encode(good), version2 = encode(good), negative = encode(good);
	with_flag8[2] = 's';          // flags byte 0x0B: a flag that does not exist
	version2[1] = 'g';            // version byte 0x02
	negative[24] = 'g';           // the offset's top bit
	const struct {
		const char *what;
		std::string text;
	} rows[] = {
		{"empty", ""},
		{"one short", g.substr(0, CURSOR_TEXT_LEN - 1)},
		{"one long", g + "A"},
		{"huge", std::string(1 << 20, 'A')},
		{"padding", g.substr(0, CURSOR_TEXT_LEN - 1) + "="},
		{"base64 plus", "+" + g.substr(1)},
		{"base64 slash", g.substr(0, 10) + "/" + g.substr(11)},
		{"space", g.substr(0, 39) + " "},
		{"non-ASCII", g.substr(0, 38) + "\xc3\xa9"},
		{"percent-encoded", "%41" + g.substr(1)},
		{"unknown flag", with_flag8},
		{"other version", version2},
		{"negative offset", negative},
		{"version 0", std::string(CURSOR_TEXT_LEN, 'A')},
		{"sent again without multiline", encode({CURSOR_RESEND, 1, 2, 3, 4})},
		{"joined without multiline", encode({CURSOR_JOINS, 1, 2, 3, 4})},
		{"random", "Zm9yZ2VkIGN1cnNvciBmb3IgYSBsb2cgZmlsZQ"},
	};
	for (const auto &row : rows) {
		LogCursor c = {7, 1, 1, 1, 1};
		EXPECT_EQ(cursor_decode(row.text.c_str(), &c), 0) << row.what << ": " << row.text;
		EXPECT_EQ(c.offset, 0) << row.what;
		EXPECT_EQ(c.flags, 0) << row.what;
	}
	LogCursor c;
	EXPECT_EQ(cursor_decode(g.c_str(), &c), 1);
}

TEST(CursorCodec, ShortBufferGetsNothing)
{
	LogCursor c = {0, 1, 2, 3, 4};
	char small[CURSOR_TEXT_SIZE - 1] = "x";
	cursor_encode(&c, small, sizeof(small));
	EXPECT_STREQ(small, "");
}

TEST(CursorCodec, ProofIsFnv1a)
{
	EXPECT_EQ(cursor_proof("", 0), 0x811C9DC5u);
	EXPECT_EQ(cursor_proof("a", 1), 0xE40C292Cu);
	EXPECT_EQ(cursor_proof("foobar", 6), 0xBF9CF968u);
}

// What a page keeps: its rows, from answers it applies as the contract says.
struct Follower {
	std::string cursor;
	std::vector<Kept> rows;
	int resets = 0, continued = 0;

	void apply(const EntryCollector &c, const CursorAnswer &a)
	{
		std::vector<Kept> got = kept(c);
		if (a.reset) {
			rows = got;
			resets++;
		} else {
			if (a.continues) {
				EXPECT_FALSE(rows.empty());
				if (!rows.empty())
					rows.pop_back();
				continued++;
			}
			rows.insert(rows.end(), got.begin(), got.end());
		}
		cursor = a.cursor;
	}
};

class LogCursorTail : public ::testing::Test {
public:
	void SetUp() override
	{
		char tmpl[] = "/tmp/pl_cursor_XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir_ = tmpl;
		path_ = dir_ + "/app.log";
	}
	void TearDown() override
	{
		unlink(path_.c_str());
		unlink((path_ + ".1").c_str());
		unlink((dir_ + "/other.log").c_str());
		rmdir(dir_.c_str());
	}

	void write(const std::string &content, const char *mode = "wb", const std::string &path = "")
	{
		FILE *f = fopen((path.empty() ? path_ : path).c_str(), mode);
		ASSERT_NE(f, nullptr);
		fwrite(content.data(), 1, content.size(), f);
		fclose(f);
	}
	void append(const std::string &content) { write(content, "ab"); }

	// One tail after `after` with a ring of `lines`; its entries' texts.
	std::vector<std::string> tail(const std::string &after, int multiline, CursorAnswer *a, int32_t lines = 200,
				      const std::string &path = "")
	{
		OwnedCollector ring(lines, 1);
		int32_t handled = tail_after_cursor((path.empty() ? path_ : path).c_str(), after.c_str(), multiline,
						    &ring.c, a);
		EXPECT_GE(handled, 0);
		return kept_texts(ring.c);
	}

	// The identity of the log as it is now.
	PlatFileId identity(const std::string &path = "")
	{
		PlatFileId id = {0, 0, 0};
		FILE *f = fopen((path.empty() ? path_ : path).c_str(), "rb");
		EXPECT_NE(f, nullptr);
		if (f != NULL) {
			EXPECT_EQ(plat_file_id(f, &id), 1);
			fclose(f);
		}
		return id;
	}

	std::string dir_, path_;
};

using Texts = std::vector<std::string>;

TEST_F(LogCursorTail, FollowsAppendsAndStaysOnIdleTicks)
{
	write("2024-01-15T10:30:00Z one\n2024-01-15T10:30:01Z two\n");
	CursorAnswer a;
	EXPECT_EQ(tail("", 0, &a), (Texts{"one", "two"}));
	EXPECT_EQ(a.reset, 1);
	EXPECT_EQ(a.continues, 0);
	std::string c1 = a.cursor;

	EXPECT_EQ(tail(c1, 0, &a), Texts{});
	EXPECT_EQ(a.reset, 0);
	EXPECT_EQ(a.cursor, c1); // an idle tick hands the same cursor back

	append("2024-01-15T10:30:02Z three\n2024-01-15T10:30:03Z four\n");
	EXPECT_EQ(tail(c1, 0, &a), (Texts{"three", "four"}));
	EXPECT_EQ(a.reset, 0);
	EXPECT_NE(a.cursor, c1);
	// An older cursor still gives what followed it.
	EXPECT_EQ(tail(c1, 0, &a, 1), Texts{"four"});
	EXPECT_EQ(a.reset, 0);
}

TEST_F(LogCursorTail, LineWithoutLineFeedWaitsUntilItEnds)
{
	write("2024-01-15T10:30:00Z one\n2024-01-15T10:30:01Z tw");
	CursorAnswer a;
	EXPECT_EQ(tail("", 0, &a), Texts{"one"});
	std::string c = a.cursor;
	EXPECT_EQ(tail(c, 0, &a), Texts{});
	EXPECT_EQ(a.cursor, c);
	append("o, now whole\n2024-01-15T10:30:02Z thr");
	EXPECT_EQ(tail(c, 0, &a), Texts{"two, now whole"});
	EXPECT_EQ(a.reset, 0);
	// A line longer than one chunk is sent only once it ends too.
	c = a.cursor;
	append(std::string(3000, 'e'));
	EXPECT_EQ(tail(c, 0, &a), Texts{});
	append("\n");
	Texts got = tail(c, 0, &a);
	ASSERT_EQ(got.size(), 2u);
	EXPECT_EQ(got[0].substr(0, 6), "threee");
	EXPECT_EQ(got[1], std::string(24 + 3000 - 2047, 'e'));
}

TEST_F(LogCursorTail, ChangedFileGivesAFullTail)
{
	const std::string start = "2024-01-15T10:30:00Z one\n2024-01-15T10:30:01Z two\n";
	struct Row {
		const char *what;
		void (*change)(LogCursorTail *t);
		Texts expect;
	} rows[] = {
		{"rotated: renamed and a new file made",
		 [](LogCursorTail *t) {
			 ASSERT_EQ(rename(t->path_.c_str(), (t->path_ + ".1").c_str()), 0);
			 t->write("2024-01-15T10:31:00Z fresh\n");
		 },
		 Texts{"fresh"}},
		{"truncated and written again, shorter",
		 [](LogCursorTail *t) {
			 t->write("2024-01-15T10:31:00Z new\n", "r+b");
			 ASSERT_EQ(truncate(t->path_.c_str(), 25), 0);
		 },
		 Texts{"new"}},
		{"truncated to nothing", [](LogCursorTail *t) { ASSERT_EQ(truncate(t->path_.c_str(), 0), 0); }, Texts{}},
		{"rewritten in place, same size",
		 [](LogCursorTail *t) { t->write("2024-01-15T10:30:00Z uno\n2024-01-15T10:30:01Z dos\n", "r+b"); },
		 Texts{"uno", "dos"}},
		{"replaced by another file of the same size",
		 [](LogCursorTail *t) {
			 t->write("2024-01-15T10:30:00Z one\n2024-01-15T10:30:01Z two\n", "wb", t->dir_ + "/other.log");
			 ASSERT_EQ(rename((t->dir_ + "/other.log").c_str(), t->path_.c_str()), 0);
		 },
		 Texts{"one", "two"}},
	};
	for (const Row &row : rows) {
		write(start);
		CursorAnswer a;
		tail("", 0, &a);
		std::string c = a.cursor;
		row.change(this);
		EXPECT_EQ(tail(c, 0, &a), row.expect) << row.what;
		EXPECT_EQ(a.reset, 1) << row.what;
		EXPECT_NE(a.cursor, c) << row.what;
		// ... and the cursor it gives then follows the new file.
		std::string c2 = a.cursor;
		append("2024-01-15T10:32:00Z later\n");
		EXPECT_EQ(tail(c2, 0, &a), Texts{"later"}) << row.what;
		EXPECT_EQ(a.reset, 0) << row.what;
		unlink((path_ + ".1").c_str());
	}
}

TEST_F(LogCursorTail, ForgedCursorsGiveAFullTail)
{
	write("2024-01-15T10:30:00Z one\n2024-01-15T10:30:01Z two\n");
	write("2024-01-15T10:30:00Z elsewhere\n", "wb", dir_ + "/other.log");
	CursorAnswer a;
	tail("", 0, &a, 200, dir_ + "/other.log");
	std::string foreign = a.cursor;
	tail("", 1, &a);
	std::string multiline_kind = a.cursor;
	PlatFileId id = identity();
	const uint32_t empty_proof = cursor_proof("", 0);
	std::string line1 = "2024-01-15T10:30:00Z one\n";
	const struct {
		const char *what;
		std::string after;
	} rows[] = {
		{"random text", "not a cursor at all"},
		{"a cursor of another file", foreign},
		{"a cursor made with multiline", multiline_kind},
		{"offset past the end", encode({0, id.volume, id.index, 51, cursor_proof("o\n", 2)})},
		{"offset far past the end", encode({0, id.volume, id.index, INT64_MAX, empty_proof})},
		{"offset inside a line, right proof", encode({0, id.volume, id.index, 10, cursor_proof(line1.data(), 10)})},
		{"right offset, wrong proof", encode({0, id.volume, id.index, 25, empty_proof})},
		{"other volume", encode({0, id.volume + 1, id.index, 0, empty_proof})},
		{"huge", std::string(5000, 'A')},
	};
	for (const auto &row : rows) {
		EXPECT_EQ(tail(row.after, 0, &a), (Texts{"one", "two"})) << row.what;
		EXPECT_EQ(a.reset, 1) << row.what;
	}
	// The same fields made right are a cursor like any other.
	EXPECT_EQ(tail(encode({0, id.volume, id.index, 25, cursor_proof(line1.data(), 25)}), 0, &a), Texts{"two"});
	EXPECT_EQ(a.reset, 0);
	EXPECT_EQ(tail(encode({0, id.volume, id.index, 0, empty_proof}), 0, &a), (Texts{"one", "two"}));
	EXPECT_EQ(a.reset, 0);
}

TEST_F(LogCursorTail, MultilineSendsTheLastEntryAgainAsItGrows)
{
	write("2024-01-15T10:30:00Z one\n2024-01-15T10:30:01Z Exception in thread main\n");
	CursorAnswer a;
	EXPECT_EQ(tail("", 1, &a), (Texts{"one", "Exception in thread main"}));
	EXPECT_EQ(a.reset, 1);
	EXPECT_EQ(a.continues, 0);
	std::string c = a.cursor;
	// An idle tick: the last entry alone, flagged.
	EXPECT_EQ(tail(c, 1, &a), Texts{"Exception in thread main"});
	EXPECT_EQ(a.reset, 0);
	EXPECT_EQ(a.continues, 1);
	EXPECT_EQ(a.cursor, c);
	append("\tat Main.run(Main.java:5)\n");
	EXPECT_EQ(tail(c, 1, &a), Texts{"Exception in thread main\n\tat Main.run(Main.java:5)"});
	EXPECT_EQ(a.continues, 1);
	c = a.cursor;
	append("\tat Main.main(Main.java:1)\n2024-01-15T10:30:02Z next\n");
	EXPECT_EQ(tail(c, 1, &a), (Texts{"Exception in thread main\n\tat Main.run(Main.java:5)\n\tat Main.main(Main.java:1)",
				       "next"}));
	EXPECT_EQ(a.continues, 1);
	// More new entries than the ring holds: the last entry is not among them, nothing continues.
	c = a.cursor;
	append("2024-01-15T10:30:03Z a\n2024-01-15T10:30:04Z b\n2024-01-15T10:30:05Z c\n");
	EXPECT_EQ(tail(c, 1, &a, 2), (Texts{"b", "c"}));
	EXPECT_EQ(a.reset, 0);
	EXPECT_EQ(a.continues, 0);
}

TEST_F(LogCursorTail, MultilineLinesWithoutTimestampsStayOneEntryEach)
{
	// A log of plain lines: each is its own entry in a full tail, and so after a cursor.
	write("plain one\nplain two\n");
	CursorAnswer a;
	EXPECT_EQ(tail("", 1, &a), (Texts{"plain one", "plain two"}));
	std::string c = a.cursor;
	append("plain three\n");
	EXPECT_EQ(tail(c, 1, &a), (Texts{"plain two", "plain three"}));
	EXPECT_EQ(a.continues, 1);
}

TEST_F(LogCursorTail, MoreThanTheWindowWrittenSinceGivesItsNewestLines)
{
	write("2024-01-15T10:30:00Z first\n");
	CursorAnswer a;
	tail("", 0, &a);
	std::string c = a.cursor;
	std::string bulk;
	while (bulk.size() < 4194304 + 1000)
		bulk += "2024-01-15T10:30:01Z filler line of a busy writer, long enough to fill\n";
	append(bulk + "2024-01-15T10:30:02Z newest\n");
	EXPECT_EQ(tail(c, 0, &a, 2), (Texts{"filler line of a busy writer, long enough to fill", "newest"}));
	EXPECT_EQ(a.reset, 0);
}

// A writer appends in pieces of any size (lines cut anywhere); a follower ticks in between.
// Applying its answers as the contract says must give what one full read of the end gives.
TEST_F(LogCursorTail, FollowingEqualsReadingTheWholeLog)
{
	std::mt19937 rng(7);
	static const char *const heads[] = {"2024-01-15T10:30:00Z ", "Jan 05 10:00:00 host app[1]: ", "\tat ", "",
					    "Caused by: "};
	for (int multiline = 0; multiline <= 1; multiline++) {
		for (int round = 0; round < 20; round++) {
			std::string all;
			for (int i = 0; i < 60; i++) {
				all += heads[rng() % 5];
				all += std::string(rng() % (i % 17 == 0 ? 3000 : 40), (char)('a' + rng() % 26));
				all += rng() % 8 == 0 ? "\r\n" : "\n";
			}
			write("");
			Follower f;
			size_t at = 0;
			while (at < all.size()) {
				size_t n = std::min(all.size() - at, (size_t)(rng() % 400));
				append(all.substr(at, n));
				at += n;
				OwnedCollector ring(2000, 1);
				CursorAnswer a;
				ASSERT_GE(tail_after_cursor(path_.c_str(), f.cursor.c_str(), multiline, &ring.c, &a), 0);
				EXPECT_EQ(a.reset, f.cursor.empty()) << "round " << round;
				f.apply(ring.c, a);
			}
			OwnedCollector whole(2000, 1);
			ASSERT_GE(read_log_file(path_.c_str(), nullptr, multiline, &whole.c), 0);
			std::vector<Kept> want = kept(whole.c);
			ASSERT_EQ(f.rows.size(), want.size()) << "multiline " << multiline << " round " << round;
			for (size_t i = 0; i < want.size(); i++) {
				EXPECT_EQ(f.rows[i].ts, want[i].ts) << i;
				ASSERT_EQ(f.rows[i].text, want[i].text) << "multiline " << multiline << " round " << round
									<< " entry " << i;
			}
		}
	}
}

TEST_F(LogCursorTail, MissingFileFailsAsATailDoes)
{
	CursorAnswer a;
	OwnedCollector ring(10, 1);
	EXPECT_EQ(tail_after_cursor((dir_ + "/none.log").c_str(), "", 0, &ring.c, &a), -1);
	EXPECT_EQ(tail_after_cursor(dir_.c_str(), "", 0, &ring.c, &a), -1);
}

} // namespace
