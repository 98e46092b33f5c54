/* Windows-only checks of the log file reader that the black-box suite cannot reach:
 * a log stays writable, renamable and deletable while it is read, and a log that is
 * gone after listing gives the unreadable_source documents.
 * usage: reader_check.exe share DIR    -> prints "ok" lines, exits 1 on a failure
 *        reader_check.exe gone DIR tail|search -> prints the document for a vanished log */
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

static int check_share(const char *dir)
{
	char path[MAX_PATH], moved[MAX_PATH];
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
	EntryRequest req = {LINES_DEFAULT, "was", 0, NULL};
	if (strcmp(action, "tail") == 0)
		respond_tail(&row, &req, "U");
	else
		respond_search(&row, &req, "U");
	return 0;
}

int main(int argc, char **argv)
{
	if (argc == 3 && strcmp(argv[1], "share") == 0)
		return check_share(argv[2]);
	if (argc == 4 && strcmp(argv[1], "gone") == 0)
		return print_gone(argv[2], argv[3]);
	fprintf(stderr, "usage: reader_check share DIR | gone DIR tail|search\n");
	return 2;
}
