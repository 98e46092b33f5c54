/* get_query_val for any query string, key and buffer size: stays inside the buffer, always
 * terminates it, and agrees with a plain reference decoder. */
#include "plugin_logs/plugin_logs.h"

#include <stdlib.h>
#include <string.h>
#include <string>

static int hex_digit(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

/* First segment whose name is key; its raw value cut to cap bytes, then decoded. */
static int reference(const std::string &qs, const std::string &key, size_t cap, std::string *out)
{
	out->clear();
	if (key.empty() || qs.empty())
		return 0;
	size_t pos = 0;
	for (;;) {
		size_t amp = qs.find('&', pos);
		std::string seg = qs.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
		size_t eq = seg.find('=');
		if (eq != std::string::npos && seg.compare(0, eq, key) == 0 && eq == key.size()) {
			std::string raw = seg.substr(eq + 1, cap);
			for (size_t i = 0; i < raw.size(); i++) {
				int hi = i + 1 < raw.size() ? hex_digit(raw[i + 1]) : -1;
				int lo = i + 2 < raw.size() ? hex_digit(raw[i + 2]) : -1;
				if (raw[i] == '%' && hi >= 0 && lo >= 0) {
					out->push_back((char)(hi * 16 + lo));
					i += 2;
				} else {
					out->push_back(raw[i] == '+' ? ' ' : raw[i]);
				}
			}
			/* The result is a C string: a decoded NUL ends it. */
			out->resize(strlen(out->c_str()));
			return 1;
		}
		if (amp == std::string::npos)
			return 0;
		pos = amp + 1;
	}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	/* Layout: buffer size byte, key length byte, key, query string (NULs end the C strings). */
	if (size < 2)
		return 0;
	size_t dst_size = 1 + data[0] % 64;
	size_t key_len = data[1] % 16;
	if (size - 2 < key_len)
		return 0;
	std::string key((const char *)data + 2, key_len);
	key.resize(strlen(key.c_str()));
	std::string qs((const char *)data + 2 + key_len, size - 2 - key_len);
	qs.resize(strlen(qs.c_str()));

	/* Exactly dst_size bytes on the heap, so AddressSanitizer sees any write past it. */
	char *dst = (char *)malloc(dst_size);
	memset(dst, 'Z', dst_size);
	int found = get_query_val(qs.c_str(), key.c_str(), dst, dst_size);
	if (memchr(dst, '\0', dst_size) == NULL)
		abort();
	std::string want;
	int want_found = reference(qs, key, dst_size - 1, &want);
	if (found != want_found || want != dst)
		abort();
	free(dst);
	return 0;
}
