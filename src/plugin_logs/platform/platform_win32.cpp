/* Win32 implementation of the platform layer, for the Windows build. Text is UTF-8 inside the
 * program; every call that names a path or reads the environment is a wide one, converted
 * here, so no name depends on the ANSI code page (nor on its best-fit mapping, which would
 * turn a fullwidth backslash in a name into a real one). */
#include "platform.h"
#include "plugin_logs/plugin_logs.h"
#include "utf16.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <windows.h>

enum {
	/* Units of a path for the wide calls: the walk's paths have at most 1023 UTF-8 bytes,
	 * and a relative one made whole gains the current folder. */
	WIDE_PATH_SIZE = 2048,
	/* Paths from this many units on take the \\?\ form: plain ones fail at MAX_PATH (260
	 * with the NUL), a folder's already at 248. */
	LONG_PATH_FROM = MAX_PATH - 12,
	ENV_NAME_SIZE = 64,
	ENV_INLINE_SIZE = 512
};

void plat_stdout_binary(void)
{
	/* The runtime's text mode would turn every LF into CR LF on the way to the web server. */
	_setmode(_fileno(stdout), _O_BINARY);
}

const char *plat_name(void)
{
	return "windows";
}

char plat_sep(void)
{
	return '\\';
}

/* What plat_getenv returns for a value of n units in buf, which GetEnvironmentVariableW has
 * just filled. */
static int env_value(const WCHAR *buf, DWORD n, char *dst, size_t dst_size)
{
	/* An empty value also gives 0; only the error code tells it from a missing one. */
	if (n == 0)
		return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? 0 : 1;
	int exact;
	utf16_to_utf8((const uint16_t *)buf, n, dst, dst_size, &exact);
	if (!exact) {
		dst[0] = '\0';
		return -1;
	}
	return 1;
}

int plat_getenv(const char *name, char *dst, size_t dst_size)
{
	WCHAR wname[ENV_NAME_SIZE];
	WCHAR inline_buf[ENV_INLINE_SIZE];
	dst[0] = '\0';
	if (utf8_to_utf16(name, strlen(name), (uint16_t *)wname, ENV_NAME_SIZE) == UTF16_FAILED)
		return 0;
	SetLastError(ERROR_SUCCESS);
	DWORD n = GetEnvironmentVariableW(wname, inline_buf, ENV_INLINE_SIZE);
	if (n < ENV_INLINE_SIZE)
		return env_value(inline_buf, n, dst, dst_size);
	/* Too long for the buffer: n is the size it needs. Long values are rare (a query string
	 * may have 32767 units), and that once is worth a heap buffer. */
	WCHAR *big = (WCHAR *)malloc(n * sizeof(WCHAR));
	if (big == NULL)
		return -1;
	SetLastError(ERROR_SUCCESS);
	DWORD m = GetEnvironmentVariableW(wname, big, n);
	int got = m < n ? env_value(big, m, dst, dst_size) : -1;
	free(big);
	return got;
}

void plat_utc_text(char *dst, size_t dst_size)
{
	__time64_t now = _time64(NULL);
	struct tm *tmv = _gmtime64(&now);
	dst[0] = '\0';
	if (tmv == NULL)
		tmv = _localtime64(&now);
	if (tmv == NULL)
		return;
	if (strftime(dst, dst_size, "%Y-%m-%dT%H:%M:%SZ", tmv) == 0)
		dst[0] = '\0';
}

/* 1 when the UTF-16 text p starts with the \\?\ prefix. */
static int is_literal(const WCHAR *p)
{
	return p[0] == L'\\' && p[1] == L'\\' && p[2] == L'?' && p[3] == L'\\';
}

/* path as UTF-16 for the wide calls. One in the \\?\ form is taken as it is: its names are
 * literal. A long plain one is made whole as the plain form would make it (".", "..", trailing
 * dots and spaces, forward slashes), then given in the \\?\ form, which takes a path up to
 * 32767 units. Returns 0 when path is not UTF-8 or too long. */
static int wide_path(const char *path, WCHAR *dst, size_t dst_size)
{
	WCHAR plain[WIDE_PATH_SIZE];
	size_t n = utf8_to_utf16(path, strlen(path), (uint16_t *)plain, WIDE_PATH_SIZE);
	if (n == UTF16_FAILED)
		return 0;
	if (n < LONG_PATH_FROM || is_literal(plain)) {
		if (n + 1 > dst_size)
			return 0;
		memcpy(dst, plain, (n + 1) * sizeof(WCHAR));
		return 1;
	}
	WCHAR full[WIDE_PATH_SIZE];
	DWORD m = GetFullPathNameW(plain, WIDE_PATH_SIZE, full, NULL);
	if (m == 0 || m >= WIDE_PATH_SIZE)
		return 0;
	const WCHAR *rest = full;
	const WCHAR *prefix = L"\\\\?\\";
	if (full[0] == L'\\' && full[1] == L'\\') {
		if (full[2] == L'?' || full[2] == L'.') {
			prefix = L""; /* a device path already */
		} else {
			prefix = L"\\\\?\\UNC\\";
			rest = full + 2;
		}
	}
	size_t p = wcslen(prefix);
	size_t r = wcslen(rest);
	if (p + r + 1 > dst_size)
		return 0;
	memcpy(dst, prefix, p * sizeof(WCHAR));
	memcpy(dst + p, rest, (r + 1) * sizeof(WCHAR));
	return 1;
}

static void fill_entry(PlatDirEntry *out, const WIN32_FIND_DATAW *fd)
{
	utf16_to_utf8((const uint16_t *)fd->cFileName, wcslen(fd->cFileName), out->name, sizeof(out->name),
		      &out->name_ok);
	/* Junctions and directory links carry the directory bit too. The size here is left
	 * alone: NTFS updates it in the directory entry lazily, so a log being written would
	 * show a stale size. */
	out->is_dir = (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int plat_dir_open(PlatDir *d, const char *dir)
{
	char pattern[CALL_PATH_BUF + 2];
	WCHAR wide[WIDE_PATH_SIZE];
	WIN32_FIND_DATAW fd;
	memset(d, 0, sizeof(*d));
	if (!fmt_into(pattern, sizeof(pattern), "%s\\*", dir) || !wide_path(pattern, wide, WIDE_PATH_SIZE))
		return 0;
	HANDLE h = FindFirstFileW(wide, &fd);
	if (h == INVALID_HANDLE_VALUE)
		return 0;
	d->handle = h;
	d->pending = 1;
	fill_entry(&d->first, &fd);
	return 1;
}

int plat_dir_next(PlatDir *d, PlatDirEntry *out)
{
	WIN32_FIND_DATAW fd;
	if (d->pending) {
		d->pending = 0;
		*out = d->first;
		return 1;
	}
	if (!FindNextFileW((HANDLE)d->handle, &fd))
		return 0;
	fill_entry(out, &fd);
	return 1;
}

void plat_dir_close(PlatDir *d)
{
	if (d->handle != NULL)
		FindClose((HANDLE)d->handle);
	d->handle = NULL;
}

/* Seconds since 1970 of a FILETIME (100 ns units since 1601), rounded down as st_mtime is. */
static int64_t unix_seconds(FILETIME ft)
{
	const int64_t from_1601 = 116444736000000000LL;
	int64_t t = (int64_t)(((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime) - from_1601;
	return t >= 0 ? t / 10000000 : -((-t + 9999999) / 10000000);
}

/* The path to hand the file calls for path: as it is when no root variable is defined;
 * otherwise below its root's final path, names taken literally (Win32 would turn a folder
 * "logs." into "logs", and a file "com1.log" into a serial port). Returns 0 when a root
 * variable is defined and path lies under no resolved root. */
static int literal_path(const char *path, LogRoots *roots, char *dst, size_t dst_size)
{
	log_roots(roots);
	if (!roots->defined)
		return fmt_into(dst, dst_size, "%s", path);
	return log_roots_call_path(roots, path, dst, dst_size);
}

/* Fills out from the file open as h. Returns 1, or 0 when it cannot be queried. */
static int handle_info(HANDLE h, PlatFileInfo *out)
{
	BY_HANDLE_FILE_INFORMATION bi;
	if (!GetFileInformationByHandle(h, &bi))
		return 0;
	out->is_dir = (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
	out->size = (int64_t)(((uint64_t)bi.nFileSizeHigh << 32) | bi.nFileSizeLow);
	out->mtime = unix_seconds(bi.ftLastWriteTime);
	return 1;
}

/* GetFinalPathNameByHandleW as Wine needs it: Wine's gives up on a path longer than MAX_PATH
 * (0 and ERROR_MORE_DATA, whatever the buffer, where Windows would return the size it needs).
 * Then the object's own name is asked for, and its device turned back into the drive letter
 * that names it, as Wine does itself for a short path. Returns the length, or 0. */
static DWORD final_path_dos(HANDLE h, WCHAR *dst, DWORD dst_size)
{
	DWORD n = GetFinalPathNameByHandleW(h, dst, dst_size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
	if (n != 0 || GetLastError() != ERROR_MORE_DATA)
		return n < dst_size ? n : 0;
	typedef LONG(WINAPI * query_object_fn)(HANDLE, int, void *, ULONG, ULONG *);
	enum { OBJECT_NAME_INFORMATION_CLASS = 1 };
	struct {
		USHORT length, maximum_length;
		WCHAR *buffer;
		WCHAR text[WIDE_PATH_SIZE];
	} info;
	ULONG got = 0;
	query_object_fn query =
		(query_object_fn)(void (*)(void))GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject");
	if (query == NULL || query(h, OBJECT_NAME_INFORMATION_CLASS, &info, sizeof(info), &got) != 0)
		return 0;
	size_t len = info.length / sizeof(WCHAR);
	/* Wine names a file by its drive already: \??\Z:\... is \\?\Z:\... */
	if (len >= 4 && wcsncmp(info.buffer, L"\\??\\", 4) == 0) {
		if (len + 1 > dst_size)
			return 0;
		memcpy(dst, info.buffer, len * sizeof(WCHAR));
		dst[1] = L'\\';
		dst[len] = L'\0';
		return (DWORD)len;
	}
	DWORD drives = GetLogicalDrives();
	for (int i = 0; i < 26; i++) {
		WCHAR drive[3] = {(WCHAR)(L'A' + i), L':', L'\0'};
		WCHAR device[MAX_PATH];
		if ((drives & (1u << i)) == 0 || QueryDosDeviceW(drive, device, MAX_PATH) == 0)
			continue;
		size_t d = wcslen(device);
		if (d == 0 || d >= len || wcsncmp(info.buffer, device, d) != 0 || info.buffer[d] != L'\\')
			continue;
		/* \\?\ and the letter, then the rest of the name. */
		if (6 + (len - d) + 1 > dst_size)
			return 0;
		memcpy(dst, L"\\\\?\\", 4 * sizeof(WCHAR));
		dst[4] = drive[0];
		dst[5] = L':';
		memcpy(dst + 6, info.buffer + d, (len - d) * sizeof(WCHAR));
		dst[6 + len - d] = L'\0';
		return (DWORD)(6 + len - d);
	}
	return 0;
}

/* The final path of the file or folder open as h, in UTF-8, into dst. Returns 1, or 0 (dst
 * empty) when it cannot be had or does not fit. */
static int handle_final_path(HANDLE h, char *dst, size_t dst_size)
{
	enum { GLOBALROOT_LEN = 14 };
	WCHAR final[WIDE_PATH_SIZE + GLOBALROOT_LEN];
	dst[0] = '\0';
	DWORD n = final_path_dos(h, final, WIDE_PATH_SIZE);
	if (n == 0) {
		/* A volume with no drive letter, or a driver that cannot name it so: its device
		 * name, which \\?\GLOBALROOT turns into a path the file calls take. Every path on
		 * such a volume comes out in that form, so they compare with each other. */
		memcpy(final, L"\\\\?\\GLOBALROOT", GLOBALROOT_LEN * sizeof(WCHAR));
		n = GetFinalPathNameByHandleW(h, final + GLOBALROOT_LEN, WIDE_PATH_SIZE, FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
		if (n == 0 || n >= WIDE_PATH_SIZE)
			return 0;
		n += GLOBALROOT_LEN;
	}
	int exact;
	utf16_to_utf8((const uint16_t *)final, n, dst, dst_size, &exact);
	/* A cut or an unpaired surrogate would name another path. */
	if (!exact) {
		dst[0] = '\0';
		return 0;
	}
	return 1;
}

/* Opens path for its attributes and final path only, a folder too (backup semantics), and
 * without standing in the way of any writer. */
static HANDLE open_for_query(const WCHAR *wide)
{
	return CreateFileW(wide, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
			   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

int plat_file_info(const char *path, PlatFileInfo *out)
{
	LogRoots roots;
	char call[CALL_PATH_BUF];
	WCHAR wide[WIDE_PATH_SIZE];
	WIN32_FILE_ATTRIBUTE_DATA fa;
	if (!literal_path(path, &roots, call, sizeof(call)) || !wide_path(call, wide, WIDE_PATH_SIZE) ||
	    !GetFileAttributesExW(wide, GetFileExInfoStandard, &fa))
		return 0;
	out->is_dir = (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
	out->size = (int64_t)(((uint64_t)fa.nFileSizeHigh << 32) | fa.nFileSizeLow);
	out->mtime = unix_seconds(fa.ftLastWriteTime);
	if (out->is_dir || (fa.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
		return 1;
	/* The attribute query describes a file link itself (size 0), not the log it names;
	 * opening it follows the link. */
	HANDLE h = CreateFileW(wide, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
			       NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
	if (h == INVALID_HANDLE_VALUE)
		return 0;
	int ok = handle_info(h, out);
	CloseHandle(h);
	return ok;
}

int plat_file_within(const char *path, const char *root, PlatFileInfo *out, char *real, size_t real_size)
{
	WCHAR wide[WIDE_PATH_SIZE];
	if (!wide_path(path, wide, WIDE_PATH_SIZE))
		return 0;
	HANDLE h = open_for_query(wide);
	if (h == INVALID_HANDLE_VALUE)
		return 0;
	/* A pipe or device is no log, and its path no folder's. */
	int ok = GetFileType(h) == FILE_TYPE_DISK && handle_info(h, out) && handle_final_path(h, real, real_size) &&
		 plat_path_within(root, real);
	CloseHandle(h);
	return ok;
}

int plat_real_path(const char *path, char *dst, size_t dst_size)
{
	WCHAR wide[WIDE_PATH_SIZE];
	dst[0] = '\0';
	if (!wide_path(path, wide, WIDE_PATH_SIZE))
		return 0;
	HANDLE h = open_for_query(wide);
	if (h == INVALID_HANDLE_VALUE)
		return 0;
	int ok = handle_final_path(h, dst, dst_size);
	CloseHandle(h);
	return ok;
}

/* path as UTF-16 in its plain form: \\?\UNC\server\... as \\server\..., \\?\X:\... as X:\...
 * Returns its length, or UTF16_FAILED. */
static size_t plain_form(const char *path, WCHAR *dst, size_t dst_size)
{
	size_t n = utf8_to_utf16(path, strlen(path), (uint16_t *)dst, dst_size);
	if (n == UTF16_FAILED || !is_literal(dst))
		return n;
	size_t skip = 4;
	if (n >= 8 && wcsncmp(dst + 4, L"UNC\\", 4) == 0) {
		skip = 6; /* keep two of the eight units for the leading \\ */
		dst[6] = L'\\';
	}
	memmove(dst, dst + skip, (n - skip + 1) * sizeof(WCHAR));
	return n - skip;
}

int plat_path_within(const char *root, const char *path)
{
	WCHAR r[WIDE_PATH_SIZE];
	WCHAR p[WIDE_PATH_SIZE];
	size_t rn = plain_form(root, r, WIDE_PATH_SIZE);
	size_t pn = plain_form(path, p, WIDE_PATH_SIZE);
	if (rn == UTF16_FAILED || pn == UTF16_FAILED || rn == 0 || pn < rn)
		return 0;
	/* Names compare as the file system does, case ignored by the system's own table. */
	if (CompareStringOrdinal(r, (int)rn, p, (int)rn, TRUE) != CSTR_EQUAL)
		return 0;
	return pn == rn || p[rn] == L'\\' || r[rn - 1] == L'\\';
}

int plat_local_to_utc(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
		      int64_t *utc)
{
	/* SYSTEMTIME holds the years 1601 to 30827 only. */
	if (year < 1601 || year > 30827)
		return 0;
	SYSTEMTIME local = {};
	local.wYear = (WORD)year;
	local.wMonth = (WORD)month;
	local.wDay = (WORD)day;
	local.wHour = (WORD)hour;
	local.wMinute = (WORD)minute;
	local.wSecond = (WORD)second;
	SYSTEMTIME st;
	FILETIME ft;
	/* Null: the zone the node runs in, summer time by its rules for that date. */
	if (!TzSpecificLocalTimeToSystemTime(NULL, &local, &st) || !SystemTimeToFileTime(&st, &ft))
		return 0;
	*utc = unix_seconds(ft);
	return 1;
}

FILE *plat_log_open(const char *path)
{
	LogRoots roots;
	char call[CALL_PATH_BUF];
	char real[CALL_PATH_BUF];
	WCHAR wide[WIDE_PATH_SIZE];
	if (!literal_path(path, &roots, call, sizeof(call)) || !wide_path(call, wide, WIDE_PATH_SIZE))
		return NULL;
	/* Share read, write and delete: a viewer must never make a log rotation fail. */
	HANDLE h = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
			       NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
	if (h == INVALID_HANDLE_VALUE)
		return NULL;
	/* Only disk files: a pipe or device named like a log could block or never end. A link
	 * may have changed since the catalogue listed the file: what was opened must lie inside
	 * a root now. */
	if (GetFileType(h) != FILE_TYPE_DISK ||
	    (roots.defined && !(handle_final_path(h, real, sizeof(real)) && log_roots_allow(&roots, real)))) {
		CloseHandle(h);
		return NULL;
	}
	int fd = _open_osfhandle((intptr_t)h, _O_RDONLY | _O_BINARY);
	if (fd < 0) {
		CloseHandle(h);
		return NULL;
	}
	FILE *f = _fdopen(fd, "rb");
	if (f == NULL)
		_close(fd);
	/* The readers read blocks of their own: a stream buffer would only copy them once more
	 * and split each read in three. */
	if (f != NULL)
		setvbuf(f, NULL, _IONBF, 0);
	return f;
}

int plat_file_id(FILE *f, PlatFileId *id)
{
	HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
	BY_HANDLE_FILE_INFORMATION bi;
	if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &bi))
		return 0;
	id->volume = bi.dwVolumeSerialNumber;
	id->index = ((uint64_t)bi.nFileIndexHigh << 32) | bi.nFileIndexLow;
	id->size = (int64_t)(((uint64_t)bi.nFileSizeHigh << 32) | bi.nFileSizeLow);
	return 1;
}

/* src[0..len), which is not UTF-8, decoded from the ANSI code page into dst. Returns the
 * length written, or -1 when the code page cannot read it. Never inlined, so the common valid
 * line does not pay for this frame's stack probe. */
__attribute__((noinline)) static long ansi_to_utf8(const char *src, size_t len, char *dst, size_t dst_size)
{
	enum { TEXT_WIDE_SIZE = 8192 };
	WCHAR wide[TEXT_WIDE_SIZE];
	/* A byte gives at most one unit in any ANSI code page, single- or double-byte. */
	if (len > TEXT_WIDE_SIZE)
		return -1;
	int n = MultiByteToWideChar(CP_ACP, 0, src, (int)len, wide, TEXT_WIDE_SIZE);
	if (n <= 0)
		return -1;
	return (long)utf16_to_utf8((const uint16_t *)wide, (size_t)n, dst, dst_size, NULL);
}

const char *plat_text_to_utf8(const char *src, size_t *len, char *dst, size_t dst_size)
{
	if (utf8_valid_len(src, *len) == *len)
		return src;
	/* Windows programs write their narrow text in the ANSI code page ("Grüße" from a
	 * Western system is 47 72 FC DF 65). */
	long n = ansi_to_utf8(src, *len, dst, dst_size);
	*len = n >= 0 ? (size_t)n : utf8_repair(src, *len, dst, dst_size);
	return dst;
}

int plat_log_size(FILE *f, int64_t *size)
{
	LARGE_INTEGER n;
	HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
	if (h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &n))
		return 0;
	*size = (int64_t)n.QuadPart;
	return 1;
}

int plat_seek(FILE *f, int64_t offset)
{
	return _fseeki64(f, offset, SEEK_SET);
}

enum { PROC_CMD_LINE_SIZE = 2048, PROC_READ_MAX = 1 << 16, PROC_KILL_WAIT_MS = 5000 };

/* Appends arg in the quoting the C runtime's argument parser undoes. Returns 0 when it does
 * not fit. */
static int append_arg(wchar_t *cmd, size_t cmd_size, size_t *len, const wchar_t *arg)
{
	size_t n = *len;
	/* Room for the worst case: every character escaped, quotes, a space and the NUL. */
	if (cmd_size - n < 2 * wcslen(arg) + 4)
		return 0;
	if (n > 0)
		cmd[n++] = L' ';
	if (arg[0] != L'\0' && wcspbrk(arg, L" \t\"") == NULL) {
		wcscpy(cmd + n, arg);
		*len = n + wcslen(arg);
		return 1;
	}
	cmd[n++] = L'"';
	size_t slashes = 0;
	for (const wchar_t *c = arg; *c != L'\0'; c++) {
		if (*c == L'\\') {
			slashes++;
			continue;
		}
		/* Backslashes are literal except before a quote: there they are doubled and the
		 * quote escaped. */
		for (size_t i = 0; i < (*c == L'"' ? 2 * slashes + 1 : slashes); i++)
			cmd[n++] = L'\\';
		slashes = 0;
		cmd[n++] = *c;
	}
	for (size_t i = 0; i < 2 * slashes; i++)
		cmd[n++] = L'\\';
	cmd[n++] = L'"';
	cmd[n] = L'\0';
	*len = n;
	return 1;
}

/* append_arg for a UTF-8 argument; 0 also when it is not UTF-8. */
static int append_utf8_arg(wchar_t *cmd, size_t cmd_size, size_t *len, const char *arg)
{
	wchar_t wide[PROC_CMD_LINE_SIZE];
	if (utf8_to_utf16(arg, strlen(arg), (uint16_t *)wide, PROC_CMD_LINE_SIZE) == UTF16_FAILED)
		return 0;
	return append_arg(cmd, cmd_size, len, wide);
}

/* An overlapped pipe for the child's output: an anonymous pipe's ReadFile cannot be given a
 * time limit. *write_end is inheritable; the read end is not. */
static int open_output_pipe(HANDLE *read_end, HANDLE *write_end)
{
	wchar_t name[96];
	_snwprintf(name, sizeof(name) / sizeof(name[0]), L"\\\\.\\pipe\\plugin_logs.%lu.%llu",
		   (unsigned long)GetCurrentProcessId(), (unsigned long long)GetTickCount64());
	name[sizeof(name) / sizeof(name[0]) - 1] = L'\0';
	/* One instance, created first, and connected to at once below: nobody else can take it. */
	*read_end = CreateNamedPipeW(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
				     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
				     PROC_READ_MAX, 0, NULL);
	if (*read_end == INVALID_HANDLE_VALUE)
		return 0;
	SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
	*write_end = CreateFileW(name, GENERIC_WRITE, 0, &sa, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
	if (*write_end == INVALID_HANDLE_VALUE) {
		CloseHandle(*read_end);
		return 0;
	}
	return 1;
}

static void release(PlatProc *p)
{
	HANDLE *handles[] = {(HANDLE *)&p->out, (HANDLE *)&p->ready, (HANDLE *)&p->process, (HANDLE *)&p->job};
	/* The job goes last: closing it ends whatever the process left running in it. */
	for (HANDLE *h : handles) {
		if (*h != NULL && *h != INVALID_HANDLE_VALUE)
			CloseHandle(*h);
		*h = NULL;
	}
}

/* A job that ends every process in it when its last handle closes, whatever the exit path. */
static HANDLE open_kill_job(void)
{
	HANDLE job = CreateJobObjectW(NULL, NULL);
	if (job == NULL)
		return NULL;
	JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
	memset(&limits, 0, sizeof(limits));
	limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
	if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
		CloseHandle(job);
		return NULL;
	}
	return job;
}

/* Starts app with only the two handles it needs inherited (a CGI's own standard handles are
 * inheritable, and a child holding the server's pipe would keep a response open), placed in
 * job at its creation when job is not null. Returns 1 with pi filled, 0 when the system
 * refuses (Windows before 10 does not know the job attribute). */
static int create_child(const wchar_t *app, wchar_t *cmd, const wchar_t *dir, HANDLE out, HANDLE nul, HANDLE job,
			DWORD flags, PROCESS_INFORMATION *pi)
{
	DWORD count = job != NULL ? 2 : 1;
	SIZE_T size = 0;
	InitializeProcThreadAttributeList(NULL, count, 0, &size);
	LPPROC_THREAD_ATTRIBUTE_LIST list = (LPPROC_THREAD_ATTRIBUTE_LIST)malloc(size);
	if (list == NULL)
		return 0;
	HANDLE inherit[2] = {out, nul};
	BOOL made = InitializeProcThreadAttributeList(list, count, 0, &size);
	BOOL ok = made && UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit,
						    sizeof(inherit), NULL, NULL);
	if (ok && job != NULL)
		ok = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job, sizeof(job), NULL, NULL);
	if (ok) {
		STARTUPINFOEXW si;
		memset(&si, 0, sizeof(si));
		si.StartupInfo.cb = sizeof(si);
		si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
		si.StartupInfo.hStdInput = nul;
		si.StartupInfo.hStdOutput = out;
		si.StartupInfo.hStdError = nul;
		si.lpAttributeList = list;
		/* No console at all: the tool needs only its standard handles, and a console per
		 * request comes out of the desktop heap of a service's non-interactive session (IIS),
		 * whose exhaustion makes every later child fail to start (0xC0000142). */
		ok = CreateProcessW(app, cmd, NULL, NULL, TRUE, DETACHED_PROCESS | flags | EXTENDED_STARTUPINFO_PRESENT,
				    NULL, dir, &si.StartupInfo, pi);
	}
	if (made)
		DeleteProcThreadAttributeList(list);
	free(list);
	return ok ? 1 : 0;
}

int plat_proc_start(PlatProc *p, const char *tool, const char *const *args, int argc, int32_t limit_ms)
{
	memset(p, 0, sizeof(*p));
	if (argc < 0 || argc > PLAT_PROC_ARGS_MAX)
		return 0;
	/* The system folder's own copy, named in full: CreateProcessW searches the current folder
	 * and PATH for a bare name, and a command interpreter would too. */
	wchar_t dir[MAX_PATH];
	wchar_t app[MAX_PATH + 64];
	UINT dir_len = GetSystemDirectoryW(dir, MAX_PATH);
	wchar_t wide_tool[64];
	if (dir_len == 0 || dir_len >= MAX_PATH ||
	    utf8_to_utf16(tool, strlen(tool), (uint16_t *)wide_tool, 64) == UTF16_FAILED)
		return 0;
	int n = _snwprintf(app, MAX_PATH + 64, L"%ls\\%ls.exe", dir, wide_tool);
	if (n < 0 || n >= MAX_PATH + 64)
		return 0;
	wchar_t cmd[PROC_CMD_LINE_SIZE];
	size_t len = 0;
	cmd[0] = L'\0';
	if (!append_arg(cmd, PROC_CMD_LINE_SIZE, &len, app))
		return 0;
	for (int i = 0; i < argc; i++) {
		if (!append_utf8_arg(cmd, PROC_CMD_LINE_SIZE, &len, args[i]))
			return 0;
	}

	HANDLE out_write;
	HANDLE out_read;
	if (!open_output_pipe(&out_read, &out_write))
		return 0;
	p->out = out_read;
	SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
	HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
				 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
	p->ready = CreateEventW(NULL, TRUE, FALSE, NULL);
	p->job = open_kill_job();
	PROCESS_INFORMATION pi;
	/* Its working folder is the system folder too: nothing is looked up in the CGI's. In the
	 * job from its creation, it cannot start anything outside it; where the system refuses
	 * that, it starts suspended and joins the job before it runs. */
	HANDLE job = (HANDLE)p->job;
	int started = 0;
	int suspended = 0;
	if (nul != INVALID_HANDLE_VALUE && p->ready != NULL) {
		started = job != NULL && create_child(app, cmd, dir, out_write, nul, job, 0, &pi);
		if (!started) {
			suspended = job != NULL;
			started = create_child(app, cmd, dir, out_write, nul, NULL, suspended ? CREATE_SUSPENDED : 0, &pi);
		}
	}
	CloseHandle(out_write);
	if (nul != INVALID_HANDLE_VALUE)
		CloseHandle(nul);
	if (!started) {
		release(p);
		return 0;
	}
	p->process = pi.hProcess;
	if (suspended) {
		/* Before Windows 8 a process already in a job cannot join another; then only the
		 * process itself can be ended. */
		if (!AssignProcessToJobObject(job, pi.hProcess)) {
			CloseHandle(job);
			p->job = NULL;
		}
		/* A thread that never resumes would hold the request for the whole time limit. */
		if (ResumeThread(pi.hThread) == (DWORD)-1) {
			CloseHandle(pi.hThread);
			plat_proc_kill(p);
			return 0;
		}
	}
	CloseHandle(pi.hThread);
	p->deadline_ms = (int64_t)GetTickCount64() + limit_ms;
	return 1;
}

int32_t plat_proc_read(PlatProc *p, char *dst, size_t dst_size)
{
	HANDLE out = (HANDLE)p->out;
	DWORD want = dst_size > (size_t)PROC_READ_MAX ? (DWORD)PROC_READ_MAX : (DWORD)dst_size;
	for (;;) {
		OVERLAPPED ov;
		memset(&ov, 0, sizeof(ov));
		ov.hEvent = (HANDLE)p->ready;
		if (!ReadFile(out, dst, want, NULL, &ov)) {
			DWORD err = GetLastError();
			if (err == ERROR_BROKEN_PIPE)
				return 0;
			if (err != ERROR_IO_PENDING)
				return -1;
			int64_t left = p->deadline_ms - (int64_t)GetTickCount64();
			if (left <= 0 || WaitForSingleObject(ov.hEvent, (DWORD)left) != WAIT_OBJECT_0) {
				/* dst must outlive the read: wait for the cancelled one to finish. */
				DWORD ignored;
				CancelIoEx(out, &ov);
				GetOverlappedResult(out, &ov, &ignored, TRUE);
				return PLAT_PROC_TIMED_OUT;
			}
		}
		DWORD got = 0;
		if (!GetOverlappedResult(out, &ov, &got, FALSE))
			return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
		if (got > 0)
			return (int32_t)got;
		/* A write of zero bytes completes a read with nothing; only a closed pipe ends. */
		if (p->deadline_ms - (int64_t)GetTickCount64() <= 0)
			return PLAT_PROC_TIMED_OUT;
	}
}

int plat_proc_wait(PlatProc *p, uint32_t *status)
{
	int64_t left = p->deadline_ms - (int64_t)GetTickCount64();
	*status = 0;
	if (WaitForSingleObject((HANDLE)p->process, left > 0 ? (DWORD)left : 0) != WAIT_OBJECT_0) {
		plat_proc_kill(p);
		return 0;
	}
	DWORD code = 0;
	if (!GetExitCodeProcess((HANDLE)p->process, &code))
		code = 1;
	*status = code;
	release(p);
	return 1;
}

void plat_proc_kill(PlatProc *p)
{
	if (p->job != NULL)
		TerminateJobObject((HANDLE)p->job, 1);
	else if (p->process != NULL)
		TerminateProcess((HANDLE)p->process, 1);
	/* Termination is asynchronous: let it complete before the request ends. */
	if (p->process != NULL)
		WaitForSingleObject((HANDLE)p->process, PROC_KILL_WAIT_MS);
	release(p);
}
