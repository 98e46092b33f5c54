// A log file deleted, truncated, replaced, grown, turned into a folder, denied or swapped for a
// link out of the data folder between the catalogue and the read: every request still gets
// one complete document, and nothing from outside. A download changed while it is sent.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../../fuzz/json_check.h"
#include "fault_platform.h"
#include "plugin_logs/plugin_logs.h"

namespace {

const char HEADER[] = "Content-Type: application/json; charset=utf-8\r\n"
		      "Cache-Control: no-store\r\n"
		      "X-Content-Type-Options: nosniff\r\n"
		      "\r\n";

/* Runs one request with standard output pointed at an anonymous file; returns what it wrote. */
std::string serve(const std::string &qs)
{
	fflush(stdout);
	int saved = dup(1);
	int fd = memfd_create("pl_fault_stdout", 0);
	dup2(fd, 1);
	EXPECT_EQ(mode_json(qs.c_str()), 0);
	fflush(stdout);
	off_t len = lseek(1, 0, SEEK_CUR);
	std::string out((size_t)len, '\0');
	if (len > 0)
		EXPECT_EQ(pread(1, &out[0], (size_t)len, 0), len);
	dup2(saved, 1);
	close(saved);
	close(fd);
	return out;
}

std::string encode(const std::string &s)
{
	std::string out;
	char buf[4];
	for (unsigned char c : s) {
		snprintf(buf, sizeof(buf), "%%%02X", c);
		out += buf;
	}
	return out;
}

struct FaultRow {
	const char *name;
	FaultAction action;
	FaultMoment moment;
	const char *action_param;
	const char *want; /* a text the body must hold */
};

/* A data folder holding app.log of 50 lines, named by LOCALAPPDATA. */
class LogFolder : public ::testing::Test {
protected:
	void SetUp() override
	{
		char base[] = "/tmp/pl_fault_XXXXXX";
		ASSERT_NE(mkdtemp(base), nullptr);
		dir = base;
		std::string root = dir + "/wendquil";
		mkdir(root.c_str(), 0755);
		log = root + "/app.log";
		FILE *f = fopen(log.c_str(), "wb");
		for (int i = 0; i < 50; i++)
			fprintf(f, "2024-01-02T03:04:05Z line %d of the original\n", i);
		fclose(f);
		setenv("LOCALAPPDATA", dir.c_str(), 1);
		unsetenv("USERPROFILE");
	}
	void TearDown() override
	{
		std::string cmd = "rm -rf '" + dir + "'";
		EXPECT_EQ(system(cmd.c_str()), 0);
	}
	std::string dir;
	std::string log;
};

class FileFaults : public LogFolder, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FileFaults, OneCompleteDocument)
{
	const FaultRow &row = GetParam();
	fault_arm(log.c_str(), row.action, row.moment);
	std::string qs = std::string("action=") + row.action_param + "&q=line&lines=20&src=" + encode("file:" + log);
	std::string out = serve(qs);
	const size_t head = sizeof(HEADER) - 1;
	ASSERT_GE(out.size(), head + 3) << out;
	EXPECT_EQ(out.compare(0, head, HEADER), 0) << out;
	EXPECT_EQ(out.back(), '\n');
	std::string body = out.substr(head, out.size() - head - 1);
	EXPECT_EQ(body.find('\n'), std::string::npos) << body;
	EXPECT_TRUE(json_valid(body.data(), body.size(), 0)) << body;
	EXPECT_NE(body.find(row.want), std::string::npos) << body;
	EXPECT_EQ(body.find(FAULT_SECRET_TEXT), std::string::npos) << body;
}

const FaultRow ROWS[] = {
	{"none", FAULT_NONE, AT_READER_INFO, "tail", "line 49 of the original"},
	{"deleted", FAULT_DELETE, AT_READER_INFO, "tail", "\"error\":\"unreadable_source\""},
	{"deleted_before_open", FAULT_DELETE, AT_OPEN, "tail", "\"error\":\"unreadable_source\""},
	{"deleted_after_open", FAULT_DELETE, AFTER_OPEN, "tail", "line 49 of the original"},
	{"truncated", FAULT_TRUNCATE, AT_READER_INFO, "tail", "\"ok\":true"},
	{"truncated_before_open", FAULT_TRUNCATE, AT_OPEN, "tail", "\"ok\":true"},
	{"truncated_after_open", FAULT_TRUNCATE, AFTER_OPEN, "tail", "\"ok\":true"},
	{"shrunk_mid_line", FAULT_SHRINK, AT_OPEN, "tail", "\"ok\":true"},
	{"replaced", FAULT_REPLACE, AT_READER_INFO, "tail", "replaced"},
	{"replaced_before_open", FAULT_REPLACE, AT_OPEN, "tail", "replaced"},
	{"replaced_after_open", FAULT_REPLACE, AFTER_OPEN, "tail", "line 49 of the original"},
	{"grown_before_open", FAULT_GROW, AT_OPEN, "tail", "grown line"},
	{"grown_search", FAULT_GROW, AT_OPEN, "search", "\"ok\":true"},
	{"directory", FAULT_DIRECTORY, AT_READER_INFO, "tail", "\"error\":\"unreadable_source\""},
	{"directory_before_open", FAULT_DIRECTORY, AT_OPEN, "search", "\"ok\":"},
	{"denied", FAULT_DENY, AT_OPEN, "tail", "\"error\":\"unreadable_source\""},
	{"denied_search", FAULT_DENY, AT_OPEN, "search", "\"error\":\"unreadable_source\""},
	// The catalogue listed a plain file; by the open it is a link that leads out.
	{"linked_out_before_info", FAULT_LINK_OUT, AT_READER_INFO, "tail", "\"error\":\"unreadable_source\""},
	{"linked_out_before_open", FAULT_LINK_OUT, AT_OPEN, "tail", "\"error\":\"unreadable_source\""},
	{"linked_out_search", FAULT_LINK_OUT, AT_OPEN, "search", "\"error\":\"unreadable_source\""},
};

INSTANTIATE_TEST_SUITE_P(Faults, FileFaults, ::testing::ValuesIn(ROWS),
			 [](const ::testing::TestParamInfo<FaultRow> &info) { return std::string(info.param.name); });

struct DownloadRow {
	const char *name;
	FaultAction action;
	FaultMoment moment;
	bool sent;          /* the attachment, or else the unreadable_source document */
	size_t body_bytes;  /* of the original, when sent */
};

class DownloadFaults : public LogFolder, public ::testing::WithParamInterface<DownloadRow> {};

std::string attachment_header(size_t length)
{
	return "Content-Type: application/octet-stream\r\n"
	       "Content-Disposition: attachment; filename=\"app.log\"; filename*=UTF-8''app.log\r\n"
	       "Content-Length: " + std::to_string(length) + "\r\n"
	       "X-Content-Type-Options: nosniff\r\n"
	       "Cache-Control: no-store\r\n\r\n";
}

TEST_P(DownloadFaults, WholeCutShortOrRefused)
{
	const DownloadRow &row = GetParam();
	FILE *f = fopen(log.c_str(), "rb");
	ASSERT_NE(f, nullptr);
	std::string original(1 << 16, '\0');
	original.resize(fread(&original[0], 1, original.size(), f));
	fclose(f);
	fault_arm(log.c_str(), row.action, row.moment);
	std::string out = serve("action=download&src=" + encode("file:" + log));
	if (row.sent) {
		EXPECT_EQ(out, attachment_header(original.size()) + original.substr(0, row.body_bytes));
		return;
	}
	EXPECT_EQ(out, std::string(HEADER) + "{\"ok\":false,\"error\":\"unreadable_source\",\"message\":\"the source "
				 "could not be read on this node\",\"src\":\"file:" + log + "\"}\n");
}

const size_t WHOLE = (size_t)-1;

const DownloadRow DOWNLOAD_ROWS[] = {
	{"none", FAULT_NONE, AT_OPEN, true, WHOLE},
	{"deleted_before_open", FAULT_DELETE, AT_OPEN, false, 0},
	{"denied", FAULT_DENY, AT_OPEN, false, 0},
	{"linked_out_before_open", FAULT_LINK_OUT, AT_OPEN, false, 0},
	// What was opened is sent: a rename over it or its deletion does not change that.
	{"replaced_after_open", FAULT_REPLACE, AFTER_SIZE, true, WHOLE},
	{"deleted_after_open", FAULT_DELETE, AFTER_SIZE, true, WHOLE},
	// Grown once its size was taken: cut at that size, as Content-Length says.
	{"grown_while_sent", FAULT_APPEND, AFTER_SIZE, true, WHOLE},
	// Shrunk to 7 bytes: the body ends there, short of Content-Length, and nothing hangs.
	{"shrunk_while_sent", FAULT_SHRINK, AFTER_SIZE, true, 7},
	{"emptied_while_sent", FAULT_TRUNCATE, AFTER_SIZE, true, 0},
};

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFaults, ::testing::ValuesIn(DOWNLOAD_ROWS),
			 [](const ::testing::TestParamInfo<DownloadRow> &info) { return std::string(info.param.name); });

} // namespace
