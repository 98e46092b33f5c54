// The platform's environment reads, line text conversion, zero-filled allocation below and
// above the size that asks for huge pages, its process functions (time limit, exit status,
// nothing left running), and its paths: final paths, what lies inside a root, file times,
// and the open that refuses a log outside the roots.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
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

// A folder under /tmp with a data folder "wendquil" in it, removed at the end.
class PathTree : public ::testing::Test {
protected:
	void SetUp() override
	{
		char base[] = "/tmp/pl_plat_XXXXXX";
		ASSERT_NE(mkdtemp(base), nullptr);
		dir = base;
		root = dir + "/wendquil";
		ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
	}
	void TearDown() override
	{
		std::error_code ec;
		std::filesystem::remove_all(dir, ec);
		unsetenv("LOCALAPPDATA");
		unsetenv("USERPROFILE");
	}
	std::string file(const std::string &path, const std::string &body)
	{
		FILE *f = fopen(path.c_str(), "wb");
		EXPECT_NE(f, nullptr);
		if (f != nullptr) {
			fwrite(body.data(), 1, body.size(), f);
			fclose(f);
		}
		return path;
	}
	std::string dir;
	std::string root;
};

TEST(PlatPathWithin, ComponentBoundaries)
{
	const struct {
		const char *root, *path;
		int within;
	} rows[] = {
		{"/a/b", "/a/b", 1},
		{"/a/b", "/a/b/c.log", 1},
		{"/a/b", "/a/b/c/d.log", 1},
		{"/a/b", "/a/bc.log", 0}, // the root's text, but another name
		{"/a/b", "/a/b2/c.log", 0},
		{"/a/b", "/a", 0},
		{"/a/b", "/A/b/c.log", 0}, // Linux names are case-sensitive
		{"/", "/etc/passwd", 1},
		{"", "/a", 0},
	};
	for (const auto &row : rows)
		EXPECT_EQ(plat_path_within(row.root, row.path), row.within) << row.root << " " << row.path;
}

TEST_F(PathTree, RealPathResolvesLinksDotsAndRefusesWhatIsMissingOrTooLong)
{
	std::string log = file(root + "/app.log", "x\n");
	ASSERT_EQ(symlink("app.log", (root + "/link.log").c_str()), 0);
	char real[CALL_PATH_BUF];
	// The data folder under /tmp may itself sit behind a link; everything resolves under it.
	ASSERT_EQ(plat_real_path(root.c_str(), real, sizeof(real)), 1);
	std::string real_root = real;
	const struct {
		std::string path, want;
	} rows[] = {
		{log, real_root + "/app.log"},
		{root + "/link.log", real_root + "/app.log"},
		{root + "/./x/../app.log", ""}, // x does not exist
		{root + "/../wendquil/app.log", real_root + "/app.log"},
		{root + "/absent.log", ""},
	};
	for (const auto &row : rows) {
		memset(real, '#', sizeof(real));
		EXPECT_EQ(plat_real_path(row.path.c_str(), real, sizeof(real)), row.want.empty() ? 0 : 1) << row.path;
		EXPECT_EQ(std::string(real), row.want) << row.path;
	}
	// A result that does not fit is refused whole, never cut.
	char tiny[8];
	EXPECT_EQ(plat_real_path(log.c_str(), tiny, sizeof(tiny)), 0);
	EXPECT_STREQ(tiny, "");
}

TEST_F(PathTree, FileInfoGivesSizeAndModificationTime)
{
	std::string log = file(root + "/app.log", "12345");
	const int64_t stamps[] = {0, 1700000000, 4102444800LL /* 2100 */, -31536000 /* 1969 */};
	for (int64_t stamp : stamps) {
		struct timespec times[2] = {{(time_t)stamp, 0}, {(time_t)stamp, 0}};
		ASSERT_EQ(utimensat(AT_FDCWD, log.c_str(), times, 0), 0);
		PlatFileInfo info;
		memset(&info, 0x5A, sizeof(info));
		ASSERT_EQ(plat_file_info(log.c_str(), &info), 1);
		EXPECT_EQ(info.is_dir, 0);
		EXPECT_EQ(info.size, 5);
		EXPECT_EQ(info.mtime, stamp);
	}
}

TEST_F(PathTree, FileWithinFollowsOnlyLinksThatStayInside)
{
	file(root + "/app.log", "inside");
	file(dir + "/secret.log", "outside");
	ASSERT_EQ(symlink("app.log", (root + "/in.log").c_str()), 0);
	ASSERT_EQ(symlink("../secret.log", (root + "/out.log").c_str()), 0);
	char real_root[CALL_PATH_BUF];
	ASSERT_EQ(plat_real_path(root.c_str(), real_root, sizeof(real_root)), 1);
	const struct {
		const char *name;
		int within;
		std::string real;
	} rows[] = {
		{"app.log", 1, root + "/app.log"}, // not a link: its own path, unresolved
		{"in.log", 1, std::string(real_root) + "/app.log"},
		{"out.log", 0, ""},
		{"absent.log", 0, ""},
	};
	for (const auto &row : rows) {
		PlatFileInfo info;
		char real[CALL_PATH_BUF] = "";
		std::string path = root + "/" + row.name;
		EXPECT_EQ(plat_file_within(path.c_str(), real_root, &info, real, sizeof(real)), row.within) << row.name;
		if (row.within) {
			EXPECT_EQ(std::string(real), row.real) << row.name;
			EXPECT_EQ(info.size, 6) << row.name;
		}
	}
}

TEST_F(PathTree, LogOpenRefusesWhatLiesOutsideTheRoots)
{
	std::string log = file(root + "/app.log", "inside\n");
	std::string secret = file(dir + "/secret.log", "outside\n");
	ASSERT_EQ(symlink(secret.c_str(), (root + "/out.log").c_str()), 0);
	ASSERT_EQ(symlink(log.c_str(), (root + "/in.log").c_str()), 0);
	setenv("LOCALAPPDATA", dir.c_str(), 1);
	unsetenv("USERPROFILE");
	const struct {
		std::string path;
		bool opens;
	} rows[] = {
		{log, true},
		{root + "/in.log", true},
		{root + "/out.log", false},
		{secret, false}, // under no root at all
		{root + "/../secret.log", false},
	};
	for (const auto &row : rows) {
		FILE *f = plat_log_open(row.path.c_str());
		EXPECT_EQ(f != nullptr, row.opens) << row.path;
		if (f != nullptr) {
			int64_t size = -1;
			EXPECT_EQ(plat_log_size(f, &size), 1);
			EXPECT_EQ(size, 7);
			fclose(f);
		}
	}
	// With no root variable nothing is listed, and an open has no root to hold a path to.
	unsetenv("LOCALAPPDATA");
	FILE *f = plat_log_open(secret.c_str());
	EXPECT_NE(f, nullptr);
	if (f != nullptr)
		fclose(f);
}

} // namespace
