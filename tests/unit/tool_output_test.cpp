// The output decoder: UTF-16LE to UTF-8 as the bytes stream in, anything else as bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_logs/plugin_logs.h"

namespace {

std::string le(const std::u16string &s)
{
	std::string out;
	for (char16_t u : s) {
		out += (char)(u & 0xFF);
		out += (char)(u >> 8);
	}
	return out;
}

const std::string kBom = "\xff\xfe";

// Decodes input cut into pieces at the given offsets (ascending), then ends it.
std::string decode(const std::string &input, const std::vector<size_t> &cuts)
{
	OutputDecoder d;
	output_decoder_init(&d);
	std::string out;
	size_t from = 0;
	std::vector<size_t> ends = cuts;
	ends.push_back(input.size());
	for (size_t to : ends) {
		std::vector<char> buf(OUTPUT_DECODE_ROOM(to - from));
		out.append(buf.data(), output_decode(&d, input.data() + from, to - from, buf.data()));
		from = to;
	}
	char rest[8];
	out.append(rest, output_decode_end(&d, rest));
	return out;
}

struct DecodeRow {
	const char *name;
	std::string input;
	std::string want;
};

std::vector<DecodeRow> decode_rows()
{
	return {
		{"empty output", "", ""},
		{"a mark alone", kBom, ""},
		{"ASCII after a mark", kBom + le(u"Event[0]\r\n"), "Event[0]\r\n"},
		{"ASCII without a mark", le(u"Event[0]:\n"), "Event[0]:\n"},
		{"two- and three-byte characters", kBom + le(u"Grüße Привет 信息"), "Grüße Привет 信息"},
		{"a surrogate pair", kBom + le(u"a\U0001F600b"), "a\xf0\x9f\x98\x80" "b"},
		{"the highest character", kBom + le(u"\U0010FFFF"), "\xf4\x8f\xbf\xbf"},
		{"a high surrogate before a plain unit", kBom + le(std::u16string(u"x") + (char16_t)0xD83D + u"y"),
		 "x\xef\xbf\xbdy"},
		{"two high surrogates, then a pair", kBom + le(std::u16string(1, (char16_t)0xD800) + u"\U0001F600"),
		 "\xef\xbf\xbd\xf0\x9f\x98\x80"},
		{"a low surrogate alone", kBom + le(std::u16string(u"x") + (char16_t)0xDE00 + u"y"), "x\xef\xbf\xbdy"},
		{"a high surrogate at the end", kBom + le(std::u16string(u"x") + (char16_t)0xDBFF), "x\xef\xbf\xbd"},
		{"an odd byte at the end", kBom + le(u"ab") + "c", "ab\xef\xbf\xbd"},
		{"a high surrogate and an odd byte at the end",
		 kBom + le(std::u16string(1, (char16_t)0xD800)) + "c", "\xef\xbf\xbd\xef\xbf\xbd"},
		{"a 0x0A byte inside a unit is no line feed", kBom + le(u"\u010A\u0A0D"), "\xc4\x8a\xe0\xa8\x8d"},
		{"NUL units stay bytes", kBom + le(std::u16string(u"a") + (char16_t)0 + u"b"), std::string("a\0b", 3)},
		{"a later mark is a character", kBom + le(u"\uFEFFx"), "\xef\xbb\xbfx"},
		{"UTF-8 passes as bytes", "Gr\xc3\xbc\xc3\x9f" "e\n", "Gr\xc3\xbc\xc3\x9f" "e\n"},
		{"invalid bytes pass as bytes", std::string("a\xff\xfe\x00", 4), std::string("a\xff\xfe\x00", 4)},
		{"one byte of output", "x", "x"},
		{"a mark the wrong way round is bytes", "\xfe\xff" "a", "\xfe\xff" "a"},
	};
}

TEST(OutputDecode, WholeAndAtEverySplit)
{
	for (const DecodeRow &row : decode_rows()) {
		EXPECT_EQ(decode(row.input, {}), row.want) << row.name;
		for (size_t cut = 0; cut <= row.input.size(); cut++)
			EXPECT_EQ(decode(row.input, {cut}), row.want) << row.name << ", cut at " << cut;
		std::vector<size_t> every;
		for (size_t i = 1; i < row.input.size(); i++)
			every.push_back(i);
		EXPECT_EQ(decode(row.input, every), row.want) << row.name << ", byte by byte";
	}
}

TEST(OutputDecode, WorstCaseFitsTheRoom)
{
	// Each unit a high surrogate followed by a three-byte character: the most output per byte.
	std::u16string units;
	for (int i = 0; i < 100; i++) {
		units += (char16_t)0xD800;
		units += (char16_t)0xFFFF;
	}
	std::string input = kBom + le(units);
	OutputDecoder d;
	output_decoder_init(&d);
	std::vector<char> buf(OUTPUT_DECODE_ROOM(input.size()), '\x01');
	size_t n = output_decode(&d, input.data(), input.size(), buf.data());
	EXPECT_EQ(n, 600u);
	EXPECT_LE(n, buf.size());
}

} // namespace
