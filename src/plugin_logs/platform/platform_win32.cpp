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

void *plat_alloc_zeroed(size_t count, size_t size)
{
	/* Large pages need a privilege a CGI process does not hold. */
	return calloc(count, size);
}

void plat_free_zeroed(void *p, size_t count, size_t size)
{
	(void)count;
	(void)size;
	free(p);
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

/* Starts app suspended with only the two handles it needs inherited (a CGI's own standard
 * handles are inheritable, and a child holding the server's pipe would keep a response open). */
static int create_suspended(const wchar_t *app, wchar_t *cmd, const wchar_t *dir, HANDLE out, HANDLE nul,
			    PROCESS_INFORMATION *pi)
{
	SIZE_T size = 0;
	InitializeProcThreadAttributeList(NULL, 1, 0, &size);
	LPPROC_THREAD_ATTRIBUTE_LIST list = (LPPROC_THREAD_ATTRIBUTE_LIST)malloc(size);
	if (list == NULL)
		return 0;
	HANDLE inherit[2] = {out, nul};
	BOOL ok = InitializeProcThreadAttributeList(list, 1, 0, &size);
	if (ok)
		ok = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit, sizeof(inherit),
					       NULL, NULL);
	if (ok) {
		STARTUPINFOEXW si;
		memset(&si, 0, sizeof(si));
		si.StartupInfo.cb = sizeof(si);
		si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
		si.StartupInfo.hStdInput = nul;
		si.StartupInfo.hStdOutput = out;
		si.StartupInfo.hStdError = nul;
		si.lpAttributeList = list;
		ok = CreateProcessW(app, cmd, NULL, NULL, TRUE,
				    CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, NULL, dir,
				    &si.StartupInfo, pi);
		DeleteProcThreadAttributeList(list);
	}
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
	/* Its working folder is the system folder too: nothing is looked up in the CGI's. */
	int started = nul != INVALID_HANDLE_VALUE && p->ready != NULL &&
		      create_suspended(app, cmd, dir, out_write, nul, &pi);
	CloseHandle(out_write);
	if (nul != INVALID_HANDLE_VALUE)
		CloseHandle(nul);
	if (!started) {
		release(p);
		return 0;
	}
	p->process = pi.hProcess;
	/* Before Windows 8 a process already in a job cannot join another; then only the
	 * process itself can be ended. */
	if (p->job != NULL && !AssignProcessToJobObject((HANDLE)p->job, pi.hProcess)) {
		CloseHandle((HANDLE)p->job);
		p->job = NULL;
	}
	ResumeThread(pi.hThread);
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
