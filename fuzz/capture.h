/* Test-only capture of standard output: the program streams to stdout, so the harness points
 * descriptor 1 at an anonymous file and reads back what one call wrote. */
#ifndef PL_FUZZ_CAPTURE_H
#define PL_FUZZ_CAPTURE_H

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

static int capture_fd = -1;

static void capture_begin(void)
{
	if (capture_fd < 0) {
		fflush(stdout);
		capture_fd = memfd_create("pl_fuzz_stdout", 0);
		if (capture_fd < 0 || dup2(capture_fd, 1) < 0)
			abort();
	}
	fflush(stdout);
	if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0)
		abort();
}

static std::string capture_end(void)
{
	fflush(stdout);
	off_t len = lseek(1, 0, SEEK_CUR);
	std::string out((size_t)len, '\0');
	if (len > 0 && pread(1, &out[0], (size_t)len, 0) != len)
		abort();
	return out;
}

#endif
