// Runs a piece of code and returns what it wrote to standard output, for checking documents.
#ifndef PL_TEST_CAPTURE_STDOUT_H
#define PL_TEST_CAPTURE_STDOUT_H

#include <stdio.h>
#include <string>
#include <unistd.h>

template <typename F> std::string capture_stdout(F run)
{
	fflush(stdout);
	FILE *tmp = tmpfile();
	int saved = dup(fileno(stdout));
	dup2(fileno(tmp), fileno(stdout));
	run();
	fflush(stdout);
	dup2(saved, fileno(stdout));
	close(saved);
	std::string out;
	rewind(tmp);
	int c;
	while ((c = fgetc(tmp)) != EOF)
		out += (char)c;
	fclose(tmp);
	return out;
}

#endif
