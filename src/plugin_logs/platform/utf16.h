/* UTF-8 and UTF-16 conversions for the Windows border; portable, so the Linux build tests them. */
#ifndef PLUGIN_LOGS_UTF16_H
#define PLUGIN_LOGS_UTF16_H

#include <stddef.h>
#include <stdint.h>

/* Writes src[0..src_len) (UTF-16 units) to dst as UTF-8 and terminates it; an unpaired
 * surrogate becomes U+FFFD. Stops before a character that does not fit in dst_size-1 bytes.
 * Returns the bytes written; *exact (when not null) is 1 when every unit was converted and
 * none was an unpaired surrogate, that is when the text comes back unchanged from UTF-8. */
size_t utf16_to_utf8(const uint16_t *src, size_t src_len, char *dst, size_t dst_size, int *exact);

/* Writes src[0..src_len) (UTF-8) to dst as UTF-16 and terminates it. Returns the units
 * written, or UTF16_FAILED (dst empty) when src is not valid UTF-8 or does not fit in
 * dst_size-1 units. */
size_t utf8_to_utf16(const char *src, size_t src_len, uint16_t *dst, size_t dst_size);
#define UTF16_FAILED ((size_t)-1)

#endif
