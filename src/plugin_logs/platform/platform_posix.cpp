/* POSIX implementation of the platform layer, for the Linux build. */
#include "platform.h"
#include "plugin_logs/plugin_logs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

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

int plat_local_to_utc(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
		      int64_t *utc)
{
	struct tm tmv;
	memset(&tmv, 0, sizeof(tmv));
	tmv.tm_year = year - 1900;
	tmv.tm_mon = month - 1;
	tmv.tm_mday = day;
	tmv.tm_hour = hour;
	tmv.tm_min = minute;
	tmv.tm_sec = second;
	tmv.tm_isdst = -1; /* the zone's rules decide whether summer time applies */
	errno = 0;
	time_t t = mktime(&tmv);
	/* -1 is also one second before 1970: only errno tells the two apart. */
	if (t == (time_t)-1 && errno != 0)
		return 0;
	*utc = (int64_t)t;
	return 1;
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

/* Fills out from st. Returns 1 for a directory or a regular file, 0 for anything else. */
static int file_info_of(const struct stat *st, PlatFileInfo *out)
{
	if (!(S_ISDIR(st->st_mode) || S_ISREG(st->st_mode)))
		return 0;
	out->is_dir = S_ISDIR(st->st_mode) ? 1 : 0;
	out->size = (int64_t)st->st_size;
	out->mtime = (int64_t)st->st_mtime;
	return 1;
}

int plat_file_info(const char *path, PlatFileInfo *out)
{
	struct stat st;
	if (stat(path, &st) != 0)
		return 0;
	return file_info_of(&st, out);
}

int plat_file_within(const char *path, const char *root, PlatFileInfo *out, char *real, size_t real_size)
{
	struct stat st;
	if (lstat(path, &st) != 0)
		return 0;
	if (S_ISLNK(st.st_mode)) {
		if (!plat_real_path(path, real, real_size) || !plat_path_within(root, real) || stat(real, &st) != 0)
			return 0;
	} else {
		/* Not a link in a folder inside root: its final path is its folder's and its name. */
		size_t n = strlen(path);
		if (n + 1 > real_size)
			return 0;
		memcpy(real, path, n + 1);
	}
	return file_info_of(&st, out);
}

int plat_real_path(const char *path, char *dst, size_t dst_size)
{
	char real[PATH_MAX];
	dst[0] = '\0';
	if (realpath(path, real) == NULL)
		return 0;
	if (!fmt_into(dst, dst_size, "%s", real)) {
		dst[0] = '\0';
		return 0;
	}
	return 1;
}

int plat_path_within(const char *root, const char *path)
{
	size_t n = strlen(root);
	if (n == 0 || strncmp(root, path, n) != 0)
		return 0;
	return path[n] == '\0' || path[n] == '/' || root[n - 1] == '/';
}

/* 1 when fd, opened through path, is the file at a final path that the roots allow: the final
 * path is resolved now, and must still name the very file that was opened. */
static int opened_inside(int fd, const char *path, const LogRoots *roots)
{
	char real[PATH_MAX];
	struct stat opened, named;
	return realpath(path, real) != NULL && fstat(fd, &opened) == 0 && stat(real, &named) == 0 &&
	       opened.st_dev == named.st_dev && opened.st_ino == named.st_ino && log_roots_allow(roots, real);
}

FILE *plat_log_open(const char *path)
{
	/* Opened below the root's final path, the way the walk listed it. */
	LogRoots roots;
	char call[CALL_PATH_BUF];
	log_roots(&roots);
	if (roots.defined) {
		if (!log_roots_call_path(&roots, path, call, sizeof(call)))
			return NULL;
		path = call;
	}
	/* Non-blocking open and a regular-file test: a FIFO or device named like a log would
	 * otherwise block the request on open or feed it bytes without end. */
	int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return NULL;
	struct stat st;
	int flags = fcntl(fd, F_GETFL);
	/* The link may have changed since the catalogue listed the file: what was opened must
	 * lie inside a root now. */
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
	    (roots.defined && !opened_inside(fd, path, &roots)) || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
		close(fd);
		return NULL;
	}
	FILE *f = fdopen(fd, "rb");
	if (f == NULL)
		close(fd);
	/* The readers read blocks of their own: a stream buffer would only copy them once more
	 * and split each read in three. */
	if (f != NULL)
		setvbuf(f, NULL, _IONBF, 0);
	return f;
}

int plat_file_id(FILE *f, PlatFileId *id)
{
	struct stat st;
	if (fstat(fileno(f), &st) != 0)
		return 0;
	id->volume = (uint64_t)st.st_dev;
	id->index = (uint64_t)st.st_ino;
	id->size = (int64_t)st.st_size;
	return 1;
}

const char *plat_text_to_utf8(const char *src, size_t *len, char *dst, size_t dst_size)
{
	if (utf8_valid_len(src, *len) == *len)
		return src;
	*len = utf8_repair(src, *len, dst, dst_size);
	return dst;
}

int plat_log_size(FILE *f, int64_t *size)
{
	struct stat st;
	if (fstat(fileno(f), &st) != 0)
		return 0;
	*size = (int64_t)st.st_size;
	return 1;
}

int plat_seek(FILE *f, int64_t offset)
{
	return fseeko(f, (off_t)offset, SEEK_SET);
}

static int64_t clock_ms(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

int plat_proc_start(PlatProc *p, const char *tool, const char *const *args, int argc, int32_t limit_ms)
{
	char *argv[PLAT_PROC_ARGS_MAX + 2];
	memset(p, 0, sizeof(*p));
	p->out_fd = -1;
	if (argc < 0 || argc > PLAT_PROC_ARGS_MAX)
		return 0;
	argv[0] = (char *)tool;
	for (int i = 0; i < argc; i++)
		argv[i + 1] = (char *)args[i];
	argv[argc + 1] = NULL;
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return 0;

	posix_spawn_file_actions_t fa;
	posix_spawnattr_t attr;
	sigset_t none, defaults;
	sigemptyset(&none);
	sigemptyset(&defaults);
	sigaddset(&defaults, SIGPIPE);
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
	posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
	posix_spawnattr_init(&attr);
	/* A group of its own, so a kill reaches everything it started; a web server may have
	 * ignored SIGPIPE or blocked signals, which the child would otherwise inherit. */
	posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
	posix_spawnattr_setpgroup(&attr, 0);
	posix_spawnattr_setsigdefault(&attr, &defaults);
	posix_spawnattr_setsigmask(&attr, &none);
	pid_t pid;
	int rc = posix_spawnp(&pid, tool, &fa, &attr, argv, environ);
	posix_spawnattr_destroy(&attr);
	posix_spawn_file_actions_destroy(&fa);
	close(fds[1]);
	if (rc != 0) {
		close(fds[0]);
		return 0;
	}
	p->pid = (int)pid;
	p->out_fd = fds[0];
	p->deadline_ms = clock_ms() + limit_ms;
	return 1;
}

int32_t plat_proc_read(PlatProc *p, char *dst, size_t dst_size)
{
	if (dst_size > INT32_MAX)
		dst_size = INT32_MAX;
	for (;;) {
		int64_t left = p->deadline_ms - clock_ms();
		if (left <= 0)
			return PLAT_PROC_TIMED_OUT;
		struct pollfd pfd = {p->out_fd, POLLIN, 0};
		int ready = poll(&pfd, 1, (int)left);
		if (ready == 0)
			return PLAT_PROC_TIMED_OUT;
		if (ready < 0) {
			if (errno == EINTR)
				continue;
			return -1;
		}
		ssize_t n = read(p->out_fd, dst, dst_size);
		if (n >= 0)
			return (int32_t)n;
		if (errno != EINTR && errno != EAGAIN)
			return -1;
	}
}

static void release(PlatProc *p)
{
	if (p->out_fd >= 0)
		close(p->out_fd);
	p->out_fd = -1;
	p->pid = 0;
}

static uint32_t reap(pid_t pid)
{
	int st = 0;
	while (waitpid(pid, &st, 0) < 0) {
		if (errno != EINTR)
			return 0; /* already reaped: SIGCHLD is ignored where the server set it so */
	}
	return WIFEXITED(st) ? (uint32_t)WEXITSTATUS(st) : 128u + (uint32_t)WTERMSIG(st);
}

int plat_proc_wait(PlatProc *p, uint32_t *status)
{
	pid_t pid = (pid_t)p->pid;
	*status = 0;
	/* There is no waitpid with a time limit: look, and nap a little longer each time. An
	 * exited child stays a zombie until it is reaped (WNOWAIT), which keeps its group id
	 * from being reused before the group is killed below. */
	for (long nap_us = 100;; nap_us = nap_us < 10000 ? nap_us * 2 : nap_us) {
		siginfo_t si;
		memset(&si, 0, sizeof(si));
		if (waitid(P_PID, (id_t)pid, &si, WEXITED | WNOHANG | WNOWAIT) != 0) {
			if (errno == EINTR)
				continue;
			release(p);
			return 1;
		}
		if (si.si_pid == pid)
			break;
		int64_t left = p->deadline_ms - clock_ms();
		if (left <= 0) {
			plat_proc_kill(p);
			return 0;
		}
		if (nap_us / 1000 > left)
			nap_us = (long)left * 1000;
		struct timespec nap = {0, nap_us * 1000};
		nanosleep(&nap, NULL);
	}
	/* What it left running in its group goes with it, as a Windows job would end it. */
	if (pid > 0)
		kill(-pid, SIGKILL);
	*status = reap(pid);
	release(p);
	return 1;
}

void plat_proc_kill(PlatProc *p)
{
	/* Never group 0: that is the caller's own. */
	if (p->pid > 0) {
		kill(-(pid_t)p->pid, SIGKILL);
		reap((pid_t)p->pid);
	}
	release(p);
}
