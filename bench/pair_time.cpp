// Times two commands as whole processes, started alike: directly, with exactly the environment
// given (as env -i would), output into a pipe the harness drains, as a CGI host reads it.
//
//   pair_time RUNS SIDE --vs SIDE
//   SIDE:    COMMAND [--then COMMAND]...      (run one after the other, timed together)
//   COMMAND: [NAME=VALUE]... /absolute/program [ARG]...
//
// Runs one untimed pair, then RUNS pairs alternating the sides, and prints one line:
// "<median ns of side 1> <median ns of side 2> <peak KiB of side 1> <peak KiB of side 2>".
#include <algorithm>
#include <fcntl.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

struct Command {
	std::vector<char *> env;  // null-terminated
	std::vector<char *> argv; // null-terminated
};

using Side = std::vector<Command>;

int64_t now_ns()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

// Runs one command to its end; returns its peak resident memory in KiB, or -1.
long run(const Command &c)
{
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return -1;
	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
	posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
	pid_t pid;
	int rc = posix_spawn(&pid, c.argv[0], &fa, nullptr, c.argv.data(), c.env.data());
	posix_spawn_file_actions_destroy(&fa);
	close(fds[1]);
	if (rc != 0) {
		close(fds[0]);
		fprintf(stderr, "pair_time: cannot start %s\n", c.argv[0]);
		return -1;
	}
	static char sink[1 << 16];
	while (read(fds[0], sink, sizeof(sink)) > 0) {
	}
	close(fds[0]);
	int status;
	rusage ru;
	if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
		fprintf(stderr, "pair_time: %s failed\n", c.argv[0]);
		return -1;
	}
	return ru.ru_maxrss;
}

// Runs a side; *ns gets its time, the result is its largest peak or -1.
long run_side(const Side &s, int64_t *ns)
{
	long peak = 0;
	int64_t t = now_ns();
	for (const Command &c : s) {
		long p = run(c);
		if (p < 0)
			return -1;
		peak = std::max(peak, p);
	}
	*ns = now_ns() - t;
	return peak;
}

int64_t median(std::vector<int64_t> v)
{
	std::sort(v.begin(), v.end());
	return v[(v.size() - 1) / 2];
}

// Parses argv[from .. to) into a side; returns false when a command names no program.
bool parse_side(char **argv, int from, int to, Side *side)
{
	Command c;
	for (int i = from; i <= to; i++) {
		if (i == to || strcmp(argv[i], "--then") == 0) {
			if (c.argv.empty())
				return false;
			c.env.push_back(nullptr);
			c.argv.push_back(nullptr);
			side->push_back(c);
			c = Command();
			continue;
		}
		if (c.argv.empty() && argv[i][0] != '/' && strchr(argv[i], '=') != nullptr)
			c.env.push_back(argv[i]);
		else
			c.argv.push_back(argv[i]);
	}
	return true;
}

} // namespace

int main(int argc, char **argv)
{
	int vs = 0;
	for (int i = 2; i < argc; i++) {
		if (strcmp(argv[i], "--vs") == 0)
			vs = i;
	}
	int runs = argc > 1 ? atoi(argv[1]) : 0;
	Side a, b;
	if (runs < 1 || vs == 0 || !parse_side(argv, 2, vs, &a) || !parse_side(argv, vs + 1, argc, &b)) {
		fprintf(stderr, "usage: pair_time RUNS SIDE --vs SIDE\n");
		return 2;
	}
	std::vector<int64_t> ta, tb;
	long peak_a = 0, peak_b = 0;
	int64_t ns;
	// The first pair warms the page cache and is not counted.
	for (int i = -1; i < runs; i++) {
		long pa = run_side(a, &ns);
		if (i >= 0)
			ta.push_back(ns);
		long pb = run_side(b, &ns);
		if (i >= 0)
			tb.push_back(ns);
		if (pa < 0 || pb < 0)
			return 1;
		peak_a = std::max(peak_a, pa);
		peak_b = std::max(peak_b, pb);
	}
	printf("%lld %lld %ld %ld\n", (long long)median(ta), (long long)median(tb), peak_a, peak_b);
	return 0;
}
