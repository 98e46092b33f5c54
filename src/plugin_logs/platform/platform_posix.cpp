/* POSIX implementation of the platform layer, for the Linux build. */
#include "platform.h"
#include "plugin_logs/plugin_logs.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

void plat_stdout_binary(void)
{
}

const char *plat_name(void)
{
	return "linux";
}

char plat_sep(void)
{
	return '/';
}

const char *plat_null_redirect(void)
{
	return "2>/dev/null";
}

void plat_utc_text(char *dst, size_t dst_size)
{
	time_t now = time(NULL);
	struct tm tmv;
	dst[0] = '\0';
	if (gmtime_r(&now, &tmv) == NULL && localtime_r(&now, &tmv) == NULL)
		return;
	if (strftime(dst, dst_size, "%Y-%m-%dT%H:%M:%SZ", &tmv) == 0)
		dst[0] = '\0';
}

int plat_getenv(const char *name, char *dst, size_t dst_size)
{
	const char *value = getenv(name);
	dst[0] = '\0';
	if (value == NULL)
		return 0;
	size_t n = strlen(value);
	if (n > dst_size - 1)
		return -1;
	memcpy(dst, value, n + 1);
	return 1;
}

int plat_dir_open(PlatDir *d, const char *dir)
{
	DIR *h = opendir(dir);
	memset(d, 0, sizeof(*d));
	if (h == NULL)
		return 0;
	d->handle = h;
	return 1;
}

int plat_dir_next(PlatDir *d, PlatDirEntry *out)
{
	DIR *h = (DIR *)d->handle;
	struct dirent *de = readdir(h);
	if (de == NULL)
		return 0;
	size_t n = strlen(de->d_name);
	if (n >= sizeof(out->name))
		n = sizeof(out->name) - 1;
	memcpy(out->name, de->d_name, n);
	out->name[n] = '\0';
	/* Names are bytes here; only UTF-8 ones can go into a document and come back. */
	out->name_ok = utf8_valid_len(out->name, n) == n;
	if (de->d_type == DT_DIR) {
		out->is_dir = 1;
	} else if (de->d_type == DT_LNK || de->d_type == DT_UNKNOWN) {
		/* A link to a directory counts as a directory, as a junction does on Windows. */
		struct stat st;
		out->is_dir = fstatat(dirfd(h), de->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
	} else {
		out->is_dir = 0;
	}
	return 1;
}

void plat_dir_close(PlatDir *d)
{
	if (d->handle != NULL)
		closedir((DIR *)d->handle);
	d->handle = NULL;
}

int plat_file_info(const char *path, PlatFileInfo *out)
{
	struct stat st;
	if (stat(path, &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
		return 0;
	out->is_dir = S_ISDIR(st.st_mode) ? 1 : 0;
	out->size = (int64_t)st.st_size;
	return 1;
}

FILE *plat_log_open(const char *path)
{
	/* Non-blocking open and a regular-file test: a FIFO or device named like a log would
	 * otherwise block the request on open or feed it bytes without end. */
	int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return NULL;
	struct stat st;
	int flags = fcntl(fd, F_GETFL);
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
	    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
		close(fd);
		return NULL;
	}
	FILE *f = fdopen(fd, "rb");
	if (f == NULL)
		close(fd);
	return f;
}

size_t plat_read_line(FILE *f, char *dst, size_t dst_size)
{
	size_t n = 0;
	int c;
	while (n < dst_size - 1 && (c = getc_unlocked(f)) != EOF) {
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
	const size_t huge = (size_t)2 << 20;
	if (size != 0 && count > SIZE_MAX / size)
		return NULL;
	size_t n = count * size;
	if (n < huge)
		return calloc(count, size);
	/* Whole aligned huge pages, so the kernel can back the array with a few of them. */
	size_t span = (n + huge - 1) & ~(huge - 1);
	void *p = NULL;
	if (posix_memalign(&p, huge, span) != 0)
		return NULL;
	madvise(p, span, MADV_HUGEPAGE); /* advice only: ordinary pages work the same */
	memset(p, 0, n);
	return p;
}

const char *plat_text_to_utf8(const char *src, size_t *len, char *dst, size_t dst_size)
{
	if (utf8_valid_len(src, *len) == *len)
		return src;
	*len = utf8_repair(src, *len, dst, dst_size);
	return dst;
}

int plat_seek(FILE *f, int64_t offset)
{
	return fseeko(f, (off_t)offset, SEEK_SET);
}

FILE *plat_pipe_open(const char *cmd)
{
	return popen(cmd, "r");
}

void plat_pipe_close(FILE *p)
{
	pclose(p);
}
