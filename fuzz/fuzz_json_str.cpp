/* json_str for any bytes: one JSON string literal that parses whenever the input is UTF-8, and
 * never a raw control byte. */
#include "plugin_logs/plugin_logs.h"
#include "capture.h"
#include "json_check.h"

#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string in((const char *)data, size);
	in.resize(strlen(in.c_str()));
	capture_begin();
	json_str(in.c_str());
	std::string out = capture_end();
	if (out.size() < 2 || out.front() != '"' || out.back() != '"')
		abort();
	for (unsigned char b : out)
		if (b < 0x20)
			abort();
	if (utf8_valid(in.data(), in.size()) && !json_valid(out.data(), out.size(), 0))
		abort();
	return 0;
}
