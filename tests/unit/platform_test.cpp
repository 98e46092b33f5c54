// The platform's environment reads, line text conversion, zero-filled allocation below and
// above the size that asks for huge pages, and its process functions: time limit, exit
// status, nothing left running.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <stdint.h>
#include <stdlib.h>
#include <string>
#include <time.h>

#include "plugin_logs/plugin_logs.h"
#include "platform.h"

namespace {

TEST(PlatGetenv, DefinedEmptyMissingAndTooLong)
{
	char dst[8];
	setenv("PL_TEST_VALUE", "seven77", 1);
	memset(dst, '#', sizeof(dst));
	EXPECT_EQ(plat_getenv("PL_TEST_VALUE", dst, sizeof(dst)), 1);
	EXPECT_STREQ(dst, "seven77");
	// One byte more than dst holds: refused whole, never cut.
	setenv("PL_TEST_VALUE", "eight888", 1);
	EXPECT_EQ(plat_getenv("PL_TEST_VALUE", dst, sizeof(dst)), -1);
	EXPECT_STREQ(dst, "");
	setenv("PL_TEST_VALUE", "", 1);
	memset(dst, '#', sizeof(dst));
	EXPECT_EQ(plat_getenv("PL_TEST_VALUE", dst, sizeof(dst)), 1);
	EXPECT_STREQ(dst, "");
	unsetenv("PL_TEST_VALUE");
	memset(dst, '#', sizeof(dst));
	EXPECT_EQ(plat_getenv("PL_TEST_VALUE", dst, sizeof(dst)), 0);
	EXPECT_STREQ(dst, "");
}

TEST(PlatTextToUtf8, ValidTextStaysWhereItIsAndTheRestIsRepaired)
{
	char dst[64];
	const char valid[] = "caf\xc3\xa9 ok";
	size_t len = strlen(valid);
	EXPECT_EQ(plat_text_to_utf8(valid, &len, dst, sizeof(dst)), valid);
	EXPECT_EQ(len, strlen(valid));
	const char ansi[] = "Caf\xe9!";
	len = strlen(ansi);
	const char *got = plat_text_to_utf8(ansi, &len, dst, sizeof(dst));
	EXPECT_EQ(got, dst);
	EXPECT_EQ(std::string(got, len), "Caf\xef\xbf\xbd!");
}

TEST(PlatAllocZeroed, ArraysAreZeroAndWritableToTheLastByte)
{
	/* A search list, a tail ring of 2000 (over one huge page), one not a huge-page multiple. */
	const size_t counts[] = {1, SEARCH_HITS_MAX, LINES_MAX, 1803};
	for (size_t count : counts) {
		SCOPED_TRACE(count);
		LogEntry *items = (LogEntry *)plat_alloc_zeroed(count, sizeof(LogEntry));
		ASSERT_NE(items, nullptr);
		const unsigned char *bytes = (const unsigned char *)items;
		size_t nonzero = 0;
		for (size_t i = 0; i < count * sizeof(LogEntry); i++)
			nonzero += bytes[i] != 0;
		EXPECT_EQ(nonzero, 0u);
		items[count - 1].text[sizeof(items[0].text) - 1] = 'x';
		plat_free_zeroed(items, count, sizeof(LogEntry));
	}
}

TEST(PlatAllocZeroed, ASizeThatOverflowsIsRefused)
{
	EXPECT_EQ(plat_alloc_zeroed(SIZE_MAX / 2, 3), nullptr);
}

int64_t now_ms()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Starts sh -c script with a limit of limit_ms.
int start_sh(PlatProc *p, const char *script, int32_t limit_ms)
{
	const char *const args[] = {"-c", script};
	return plat_proc_start(p, "sh", args, 2, limit_ms);
}

std::string read_all(PlatProc *p, int32_t *last)
{
	std::string out;
	char buf[7];
	while ((*last = plat_proc_read(p, buf, sizeof(buf))) > 0)
		out.append(buf, (size_t)*last);
	return out;
}

// No live process of the group that pid led is left. A SIGKILL lands a moment after kill()
// returns, and a killed orphan is a zombie until init reaps it: both are waited out briefly.
bool group_gone(int pid)
{
	for (int tries = 0; tries < 200; tries++) {
		bool alive = false;
		DIR *proc = opendir("/proc");
		struct dirent *de;
		while (proc != nullptr && (de = readdir(proc)) != nullptr) {
			std::string stat = "/proc/" + std::string(de->d_name) + "/stat";
			FILE *f = fopen(stat.c_str(), "r");
			if (f == nullptr)
				continue;
			char line[512] = "";
			size_t n = fread(line, 1, sizeof(line) - 1, f);
			fclose(f);
			line[n] = '\0';
			const char *after = strrchr(line, ')'); // the name may hold spaces
			char state;
			int ppid, pgrp;
			if (after != nullptr && sscanf(after + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 &&
			    pgrp == pid && state != 'Z')
				alive = true;
		}
		if (proc != nullptr)
			closedir(proc);
		if (!alive)
			return true;
		usleep(10000);
	}
	return false;
}

TEST(PlatProc, OutputAndExitStatus)
{
	const struct {
		const char *script;
		const char *out;
		uint32_t status;
	} rows[] = {
		{"printf 'a\\nb'", "a\nb", 0},
		{"echo x; exit 7", "x\n", 7},
		{"echo y; kill -9 $$", "y\n", 128 + 9},
		{"cat; echo \"$0\" >&2; echo z", "z\n", 0}, // standard input and error are the null device
	};
	for (const auto &row : rows) {
		PlatProc p;
		ASSERT_EQ(start_sh(&p, row.script, 10000), 1) << row.script;
		int pid = p.pid;
		int32_t last;
		EXPECT_EQ(read_all(&p, &last), row.out) << row.script;
		EXPECT_EQ(last, 0) << row.script;
		uint32_t status = 12345;
		EXPECT_EQ(plat_proc_wait(&p, &status), 1) << row.script;
		EXPECT_EQ(status, row.status) << row.script;
		EXPECT_TRUE(group_gone(pid)) << row.script;
	}
}

TEST(PlatProc, ToolNotFound)
{
	PlatProc p;
	const char *const args[] = {"x"};
	EXPECT_EQ(plat_proc_start(&p, "pl-no-such-tool", args, 1, 1000), 0);
}

TEST(PlatProc, ReadGivesUpAtTheLimitAndTheKillEndsEverything)
{
	PlatProc p;
	ASSERT_EQ(start_sh(&p, "echo started; sleep 30 & sleep 30", 300), 1);
	int pid = p.pid;
	int64_t t0 = now_ms();
	int32_t last;
	EXPECT_EQ(read_all(&p, &last), "started\n");
	EXPECT_EQ(last, PLAT_PROC_TIMED_OUT);
	int64_t took = now_ms() - t0;
	EXPECT_GE(took, 250);
	EXPECT_LT(took, 3000);
	plat_proc_kill(&p);
	EXPECT_TRUE(group_gone(pid));
}

TEST(PlatProc, WaitGivesUpAtTheLimit)
{
	// Output closed, the tool still running: the wait ends it at the limit.
	PlatProc p;
	ASSERT_EQ(start_sh(&p, "exec >&-; sleep 30", 300), 1);
	int pid = p.pid;
	int32_t last;
	EXPECT_EQ(read_all(&p, &last), "");
	EXPECT_EQ(last, 0);
	uint32_t status = 0;
	int64_t t0 = now_ms();
	EXPECT_EQ(plat_proc_wait(&p, &status), 0);
	EXPECT_LT(now_ms() - t0, 3000);
	EXPECT_TRUE(group_gone(pid));
}

TEST(PlatProc, WhatTheToolLeftRunningEndsWithIt)
{
	PlatProc p;
	ASSERT_EQ(start_sh(&p, "sleep 30 >/dev/null & echo done", 10000), 1);
	int pid = p.pid;
	int32_t last;
	EXPECT_EQ(read_all(&p, &last), "done\n");
	uint32_t status = 1;
	EXPECT_EQ(plat_proc_wait(&p, &status), 1);
	EXPECT_EQ(status, 0u);
	EXPECT_TRUE(group_gone(pid));
}

} // namespace
