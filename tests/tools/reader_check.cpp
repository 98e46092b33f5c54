/* Windows-only checks of the platform layer that the black-box suite cannot reach:
 * a log stays writable, renamable and deletable while it is read, a log that is gone after
 * listing gives the unreadable_source documents, final paths compare in their Windows forms,
 * and a started tool sits in its job.
 * usage: reader_check.exe share LOCAL  -> prints "ok" lines, exits 1 on a failure (the log
 *                                         lives in LOCAL\wendquil, LOCAL the data folder)
 *        reader_check.exe gone DIR tail|search -> prints the document for a vanished log
 *        reader_check.exe paths        -> prints "ok" lines, exits 1 on a failure
 *        reader_check.exe proc         -> likewise */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "plugin_logs/plugin_logs.h"
#include "platform.h"

static int failures;

static void expect(int cond, const char *what)
{
	printf("%s %s\n", cond ? "ok" : "FAIL", what);
	if (!cond)
		failures++;
}

static int write_file(const char *path, const char *text, DWORD disposition)
{
	/* The sharing an ordinary log writer asks for: others may read, nothing more. */
	HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, disposition,
			       FILE_ATTRIBUTE_NORMAL, NULL);
	if (h == INVALID_HANDLE_VALUE)
		return 0;
	DWORD done = 0;
	BOOL ok = WriteFile(h, text, (DWORD)strlen(text), &done, NULL);
	CloseHandle(h);
	return ok && done == strlen(text);
}

static int check_share(const char *local)
{
	char dir[MAX_PATH], path[MAX_PATH], moved[MAX_PATH];
	/* The log must lie inside a root for the open to take it. */
	snprintf(dir, sizeof(dir), "%s\\wendquil", local);
	CreateDirectoryA(dir, NULL);
	SetEnvironmentVariableA("LOCALAPPDATA", local);
	SetEnvironmentVariableA("USERPROFILE", NULL);
	snprintf(path, sizeof(path), "%s\\shared.log", dir);
	snprintf(moved, sizeof(moved), "%s\\shared.log.1", dir);
	DeleteFileA(path);
	DeleteFileA(moved);
	expect(write_file(path, "one\n", CREATE_ALWAYS), "create the log");

	FILE *f = plat_log_open(path);
	expect(f != NULL, "open the log for reading");
	if (f == NULL)
		return 1;
	char line[64];
	expect(fgets(line, sizeof(line), f) != NULL && strcmp(line, "one\n") == 0, "read the first line");
	expect(write_file(path, "two\n", OPEN_EXISTING), "the writer appends while the log is open");
	expect(MoveFileExA(path, moved, 0) != 0, "the writer renames the open log");
	expect(DeleteFileA(moved) != 0, "the writer deletes the open log");
	expect(write_file(path, "new\n", CREATE_ALWAYS), "the writer starts a new log under the old name");
	expect(fgets(line, sizeof(line), f) != NULL && strcmp(line, "two\n") == 0,
	       "the reader goes on reading the old log");
	fclose(f);
	DeleteFileA(path);

	/* A directory is never opened as a log. */
	expect(plat_log_open(dir) == NULL, "a directory does not open as a log");
	return failures != 0;
}

static int print_gone(const char *dir, const char *action)
{
	LogSource row;
	memset(&row, 0, sizeof(row));
	char path[MAX_PATH];
	snprintf(path, sizeof(path), "%s\\gone.log", dir);
	if (!write_file(path, "was here\n", CREATE_ALWAYS))
		return 1;
	snprintf(row.id, sizeof(row.id), "file:%s", path);
	snprintf(row.label, sizeof(row.label), "gone.log");
	snprintf(row.kind, sizeof(row.kind), "file");
	/* Listed above, removed before the read. */
	if (!DeleteFileA(path))
		return 1;
	plat_stdout_binary();
	EntryRequest req = {};
	req.lines = LINES_DEFAULT;
	req.q = "was";
	req.before = -1;
	if (strcmp(action, "tail") == 0)
		respond_tail(&row, &req, "U");
	else
		respond_search(&row, &req, "U");
	return 0;
}

static int check_paths(void)
{
	const struct {
		const char *root, *path;
		int within;
		const char *what;
	} rows[] = {
		{"\\\\?\\C:\\Users\\a\\wendquil", "\\\\?\\C:\\Users\\a\\wendquil\\x.log", 1, "below the root"},
		{"\\\\?\\C:\\Users\\a\\wendquil", "\\\\?\\C:\\Users\\a\\wendquil", 1, "the root itself"},
		{"\\\\?\\C:\\Users\\a\\wendquil", "\\\\?\\c:\\USERS\\A\\WendQuil\\x.log", 1, "letter case ignored"},
		{"\\\\?\\C:\\Users\\\xc3\xa9\\wendquil", "\\\\?\\C:\\Users\\\xc3\x89\\wendquil\\x.log", 1,
		 "case ignored beyond ASCII"},
		{"\\\\?\\C:\\Users\\a\\wendquil", "C:\\Users\\a\\wendquil\\x.log", 1, "the \\\\?\\ form and the plain one"},
		{"\\\\?\\UNC\\srv\\share\\wendquil", "\\\\srv\\share\\wendquil\\x.log", 1, "\\\\?\\UNC\\ and \\\\"},
		{"\\\\?\\C:\\Users\\a\\wendquil", "\\\\?\\C:\\Users\\a\\wendquil2\\x.log", 0, "a sibling sharing the prefix"},
		{"\\\\?\\C:\\Users\\a\\wendquil", "\\\\?\\C:\\Users\\a\\secret.log", 0, "beside the root"},
		{"\\\\?\\C:\\Users\\a\\wendquil", "\\\\?\\D:\\Users\\a\\wendquil\\x.log", 0, "another drive"},
		{"\\\\?\\UNC\\srv\\share", "\\\\?\\C:\\srv\\share\\x.log", 0, "a share is no drive"},
		{"\\\\?\\C:\\", "\\\\?\\C:\\x.log", 1, "a drive's root"},
	};
	for (const auto &row : rows)
		expect(plat_path_within(row.root, row.path) == row.within, row.what);

	/* The final path of a folder and a file, as the file calls take them again. */
	char tmp[MAX_PATH], real[2048], again[2048];
	GetTempPathA(sizeof(tmp), tmp);
	expect(plat_real_path(tmp, real, sizeof(real)) == 1 && strncmp(real, "\\\\?\\", 4) == 0,
	       "a folder's final path is in the \\\\?\\ form");
	expect(plat_real_path(real, again, sizeof(again)) == 1 && strcmp(real, again) == 0,
	       "a final path resolves to itself");
	expect(plat_path_within(real, tmp) == 1, "the plain form lies inside its final path");
	return failures != 0;
}

static int check_proc(void)
{
	PlatProc p;
	const char *const args[] = {"/c", "echo started"};
	expect(plat_proc_start(&p, "cmd", args, 2, 10000) == 1, "the tool starts");
	if (p.process == NULL)
		return 1;
	BOOL in_job = FALSE;
	expect(p.job != NULL && IsProcessInJob((HANDLE)p.process, (HANDLE)p.job, &in_job) && in_job,
	       "it runs in its job");
	char buf[256];
	int32_t n, got = 0;
	while ((n = plat_proc_read(&p, buf + got, sizeof(buf) - 1 - (size_t)got)) > 0)
		got += n;
	buf[got] = '\0';
	expect(strncmp(buf, "started", 7) == 0, "its output arrives");
	uint32_t status = 1;
	expect(plat_proc_wait(&p, &status) == 1 && status == 0, "it exits 0");
	return failures != 0;
}

int main(int argc, char **argv)
{
	if (argc == 3 && strcmp(argv[1], "share") == 0)
		return check_share(argv[2]);
	if (argc == 2 && strcmp(argv[1], "paths") == 0)
		return check_paths();
	if (argc == 2 && strcmp(argv[1], "proc") == 0)
		return check_proc();
	if (argc == 4 && strcmp(argv[1], "gone") == 0)
		return print_gone(argv[2], argv[3]);
	fprintf(stderr, "usage: reader_check share LOCAL | gone DIR tail|search | paths | proc\n");
	return 2;
}
