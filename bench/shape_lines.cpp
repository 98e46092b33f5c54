// Shapes every line of a file a given number of times: run under callgrind with 0 and with N
// rounds, the difference over N rounds and the lines is the cost of one line.
#include "plugin_logs/plugin_logs.h"

#include <fstream>
#include <stdlib.h>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
	if (argc < 3)
		return 2;
	std::ifstream in(argv[1]);
	std::vector<std::string> lines;
	std::string l;
	while (std::getline(in, l))
		lines.push_back(l + "\n");
	int rounds = atoi(argv[2]);
	static char scratch[SHAPE_SCRATCH_SIZE];
	long sum = 0;
	for (int r = 0; r < rounds; r++) {
		for (const std::string &s : lines) {
			LineShape sh;
			shape_log_line(&sh, s.data(), s.size(), scratch);
			sum += sh.sev + (long)sh.text_len;
		}
	}
	return (int)(sum & 1);
}
