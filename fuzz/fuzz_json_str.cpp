/* json_str for any bytes: one JSON string literal of valid UTF-8 that parses, never a raw
 * control byte, and the input itself between the quotes when it is UTF-8 without anything to
 * escape. */
#include "plugin_logs/plugin_logs.h"
#include "capture.h"
#include "json_check.h"

#include <algorithm>
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
	if (!json_valid(out.data(), out.size(), 0))
		abort();
	if (utf8_valid(in.data(), in.size()) && in.find_first_of("\"\\") == std::string::npos &&
	    std::none_of(in.begin(), in.end(), [](char c) { return (unsigned char)c < 0x20; }) &&
	    out != "\"" + in + "\"")
		abort();
	return 0;
}
