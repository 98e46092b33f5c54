// respond_tail and respond_search for a log file that changes between listing and reading.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "capture_stdout.h"
#include "plugin_logs/plugin_logs.h"

namespace {

EntryRequest tail_of(int32_t lines)
{
	return {lines, "", 0};
}

EntryRequest search_for(const char *q)
{
	return {LINES_DEFAULT, q, 0};
}

const std::string kHeader = "Content-Type: application/json; charset=utf-8\r\n"
			    "Cache-Control: no-store\r\n"
			    "X-Content-Type-Options: nosniff\r\n\r\n";

class Entries : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/pl_entries_XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir_ = tmpl;
		path_ = dir_ + "/app.log";
		FILE *f = fopen(path_.c_str(), "wb");
		ASSERT_NE(f, nullptr);
		fputs("Jan 05 10:00:00 h app[1]: said \"hi\"\n", f);
		fclose(f);
		row_ = {};
		snprintf(row_.id, sizeof(row_.id), "file:%s", path_.c_str());
		snprintf(row_.label, sizeof(row_.label), "app.log");
		snprintf(row_.kind, sizeof(row_.kind), "file");
	}
	void TearDown() override
	{
		std::string cmd = "rm -rf '" + dir_ + "'";
		ASSERT_EQ(system(cmd.c_str()), 0);
	}
	std::string dir_;
	std::string path_;
	LogSource row_;
};

TEST_F(Entries, ListedFileReadsAsADocument)
{
	std::string id = "\"file:" + path_ + "\"";
	std::string entry = "{\"ts\":\"Jan 05 10:00:00\",\"unit\":\"app[1]\",\"sev\":\"info\",\"text\":\"said \\\"hi\\\"\"}";
	EXPECT_EQ(capture_stdout([&] { EntryRequest r = tail_of(3); respond_tail(&row_, &r, "U"); }),
		  kHeader + "{\"ok\":true,\"action\":\"tail\",\"plugin\":\"plugin_logs\",\"utc\":\"U\",\"src\":" + id +
			  ",\"label\":\"app.log\",\"kind\":\"file\",\"requested\":3,\"count\":1,\"entries\":[" +
			  entry + "]}\n");
	EXPECT_EQ(capture_stdout([&] { EntryRequest r = search_for("HI"); respond_search(&row_, &r, "U"); }),
		  kHeader + "{\"ok\":true,\"action\":\"search\",\"plugin\":\"plugin_logs\",\"utc\":\"U\",\"src\":" +
			  id + ",\"label\":\"app.log\",\"q\":\"HI\",\"scanned\":1,\"count\":1,\"max\":500," +
			  "\"truncated\":false,\"hits\":[" + entry + "]}\n");
}

TEST_F(Entries, FileGoneAfterListingGivesUnreadableSource)
{
	std::string id = "\"file:" + path_ + "\"";
	const std::string tail_doc = kHeader +
				     "{\"ok\":false,\"error\":\"unreadable_source\",\"message\":\"the source could "
				     "not be read on this node\",\"src\":" + id + "}\n";
	const std::string search_doc = kHeader + "{\"ok\":false,\"error\":\"unreadable_source\",\"src\":" + id + "}\n";

	ASSERT_EQ(unlink(path_.c_str()), 0);
	EXPECT_EQ(capture_stdout([&] { EntryRequest r = tail_of(200); respond_tail(&row_, &r, "U"); }), tail_doc);
	EXPECT_EQ(capture_stdout([&] { EntryRequest r = search_for("x"); respond_search(&row_, &r, "U"); }), search_doc);

	// Replaced by a directory of the same name.
	ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);
	EXPECT_EQ(capture_stdout([&] { EntryRequest r = tail_of(200); respond_tail(&row_, &r, "U"); }), tail_doc);
	EXPECT_EQ(capture_stdout([&] { EntryRequest r = search_for("x"); respond_search(&row_, &r, "U"); }), search_doc);
}

TEST_F(Entries, EmptyQueryIsRefusedBeforeReading)
{
	ASSERT_EQ(unlink(path_.c_str()), 0);
	EXPECT_EQ(capture_stdout([&] { EntryRequest r = search_for(""); respond_search(&row_, &r, "U"); }),
		  kHeader + "{\"ok\":false,\"error\":\"missing_query\",\"message\":\"action=search needs q=<text>\"}\n");
}

} // namespace
