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

const char *plat_null_redirect(void)
{
	return "2>NUL";
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

/* path as UTF-16 for the wide calls. A long one is made whole as the plain form would make it
 * (".", "..", trailing dots and spaces, forward slashes), then given in the \\?\ form, which
 * takes a path literally up to 32767 units. Returns 0 when path is not UTF-8 or too long. */
static int wide_path(const char *path, WCHAR *dst, size_t dst_size)
{
	WCHAR plain[WIDE_PATH_SIZE];
	size_t n = utf8_to_utf16(path, strlen(path), (uint16_t *)plain, WIDE_PATH_SIZE);
	if (n == UTF16_FAILED)
		return 0;
	if (n < LONG_PATH_FROM) {
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
	char pattern[1024];
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

int plat_file_info(const char *path, PlatFileInfo *out)
{
	WCHAR wide[WIDE_PATH_SIZE];
	WIN32_FILE_ATTRIBUTE_DATA fa;
	if (!wide_path(path, wide, WIDE_PATH_SIZE) || !GetFileAttributesExW(wide, GetFileExInfoStandard, &fa))
		return 0;
	out->is_dir = (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
	out->size = (int64_t)(((uint64_t)fa.nFileSizeHigh << 32) | fa.nFileSizeLow);
	if (out->is_dir || (fa.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
		return 1;
	/* The attribute query describes a file link itself (size 0), not the log it names;
	 * opening it follows the link. */
	HANDLE h = CreateFileW(wide, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
			       NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
	if (h == INVALID_HANDLE_VALUE)
		return 0;
	BY_HANDLE_FILE_INFORMATION bi;
	BOOL ok = GetFileInformationByHandle(h, &bi);
	CloseHandle(h);
	if (!ok)
		return 0;
	out->is_dir = (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
	out->size = (int64_t)(((uint64_t)bi.nFileSizeHigh << 32) | bi.nFileSizeLow);
	return 1;
}

FILE *plat_log_open(const char *path)
{
	/* Share read, write and delete: a viewer must never make a log rotation fail. */
	WCHAR wide[WIDE_PATH_SIZE];
	if (!wide_path(path, wide, WIDE_PATH_SIZE))
		return NULL;
	HANDLE h = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
			       NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
	if (h == INVALID_HANDLE_VALUE)
		return NULL;
	/* Only disk files: a pipe or device named like a log could block or never end. */
	if (GetFileType(h) != FILE_TYPE_DISK) {
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
	return f;
}

size_t plat_read_line(FILE *f, char *dst, size_t dst_size)
{
	size_t n = 0;
	int c;
	while (n < dst_size - 1 && (c = _getc_nolock(f)) != EOF) {
		dst[n++] = (char)c;
		if (c == '\n')
			break;
	}
	if (ferror(f))
		n = 0;
	dst[n] = '\0';
	return n;
}

void *plat_alloc_zeroed(size_t count, size_t size)
{
	/* Large pages need a privilege a CGI process does not hold. */
	return calloc(count, size);
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

int plat_seek(FILE *f, int64_t offset)
{
	return _fseeki64(f, offset, SEEK_SET);
}

FILE *plat_pipe_open(const char *cmd)
{
	/* Binary: a text-mode pipe ends at the first Ctrl-Z byte, and an event message may hold
	 * one; the CR of each CR LF is a blank byte that the reader trims anyway. */
	return _popen(cmd, "rb");
}

void plat_pipe_close(FILE *p)
{
	_pclose(p);
}
