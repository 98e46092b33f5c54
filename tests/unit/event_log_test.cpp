// The event record parser and the output stream fed from memory, and stream_event_log against a
// fake wevtutil.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "plugin_logs/plugin_logs.h"

namespace {

struct Got {
	std::vector<LogEntry> entries;
};

void collect_sink(void *ctx, const LogEntry *entry)
{
	static_cast<Got *>(ctx)->entries.push_back(*entry);
}

// Feeds text the way the pipe reader does: pieces of at most 8191 bytes, each ending at
// the first line feed.
int32_t parse(const std::string &text, const char *log_name, const char *query, Got *got, int multiline = 0)
{
	EventParser p;
	event_parser_init(&p, log_name, query, multiline, collect_sink, got);
	size_t pos = 0;
	while (pos < text.size()) {
		size_t n = 0;
		while (n < 8191 && pos + n < text.size()) {
			if (text[pos + n++] == '\n')
				break;
		}
		event_parser_line(&p, text.data() + pos, n);
		pos += n;
	}
	return event_parser_finish(&p);
}

struct Want {
	std::string ts;
	std::string unit;
	int32_t sev;
	std::string text;
};

struct ParseRow {
	const char *name;
	std::string input;
	const char *query;
	int32_t finished;
	std::vector<Want> want;
};

const std::string kExample =
	"Event[0]:\n"
	"  Log Name: System\n"
	"  Source: Example Source\n"
	"  Date: 2024-01-15T10:30:00.1230000Z\n"
	"  Level: Information\n"
	"  Description: The print spooler service entered the running state.\n"
	"\n"
	"Event[1]:\n"
	"  Date: 2024-01-15T09:00:00.0000000Z\n"
	"  Level: Information\n"
	"  Description:\n"
	"Text on the following line\n"
	"\n"
	"Event[2]:\n"
	"  Date: 2024-01-15T08:00:00.0000000Z\n"
	"  Description: disk retry scheduled";

const Want kSpooler = {"2024-01-15T10:30:00.1230000Z", "Example Source", 0,
		       "The print spooler service entered the running state."};
const Want kFollowing = {"2024-01-15T09:00:00.0000000Z", "System", 0, "Text on the following line"};
const Want kRetry = {"2024-01-15T08:00:00.0000000Z", "System", 1, "disk retry scheduled"};

std::string crlf(const std::string &s)
{
	std::string out;
	for (char c : s) {
		if (c == '\n')
			out += '\r';
		out += c;
	}
	return out;
}

std::string rec(const char *level, const std::string &description)
{
	return std::string("Event[0]:\n  Date: d\n  Level: ") + level + "\n  Description: " + description + "\n\n";
}

std::vector<ParseRow> parse_rows()
{
	const std::string a1023(1023, 'a');
	return {
		{"three records, one with its text on the next line", kExample, nullptr, 3,
		 {kSpooler, kFollowing, kRetry}},
		{"CR LF line ends", crlf(kExample), nullptr, 3, {kSpooler, kFollowing, kRetry}},
		{"empty query is no filter", kExample, "", 3, {kSpooler, kFollowing, kRetry}},
		{"filter on the text, every record counted", kExample, "SPOOLER", 3, {kSpooler}},
		{"filter does not search ts", kExample, "2024", 3, {}},
		{"filter does not search unit", kExample, "System", 3, {}},
		{"empty output", "", nullptr, 0, {}},
		{"only blank lines", "\n\r\n \t\n\n", nullptr, 0, {}},
		{"leading and repeated blank lines finish nothing",
		 "\n\n  Description: one\n\n\n\n  Description: two\n\n", nullptr, 2,
		 {{"", "System", 0, "one"}, {"", "System", 0, "two"}}},
		{"no Description line: dropped, not counted",
		 "Event[0]:\n  Date: d\n  Level: Error\n\nEvent[1]:\n  Description: kept\n", nullptr, 1,
		 {{"", "System", 0, "kept"}}},
		{"bare Description at the end of a record: dropped",
		 "  Date: d\n  Description:\n\n  Description:   \n", nullptr, 0, {}},
		{"description lines joined by one space, each trimmed",
		 "  Description: first\n\t second  \r\n   third\n", nullptr, 1,
		 {{"", "System", 0, "first second third"}}},
		{"field lines after Description are text",
		 "  Level: Warning\n  Description:\n  Level: Information\n  Date: x\n", nullptr, 1,
		 {{"", "System", 1, "Level: Information Date: x"}}},
		{"blank line inside a description keeps the first paragraph",
		 "  Date: d\n  Description:\nfirst paragraph\n\nsecond paragraph\n\n  Description: next\n",
		 nullptr, 2, {{"d", "System", 0, "first paragraph"}, {"", "System", 0, "next"}}},
		{"the issue's example record",
		 "Event[0]:\n  Log Name: Application\n  Source: Example Source\n"
		 "  Date: 2020-12-14T17:09:08.940\n  Event ID: 100\n  Task: None\n  Level: Information\n"
		 "  Opcode: Info\n  Keyword: Classic\n  User: N/A\n  User Name: N/A\n  Computer: HOST-01\n"
		 "  Description:\nSuccessfully scheduled the service for restart.\n",
		 nullptr, 1,
		 {{"2020-12-14T17:09:08.940", "Example Source", 0, "Successfully scheduled the service for restart."}}},
		{"Date remainder cut to 39 characters, then trimmed",
		 "  Date:   " + std::string(40, 'X') + "\n  Description: t\n", nullptr, 1,
		 {{std::string(36, 'X'), "System", 0, "t"}}},
		{"later field of the same kind replaces the earlier",
		 "  Date: first\n  Level: Error\n  Date: second\n  Level: Information\n  Description: ok\n",
		 nullptr, 1, {{"second", "System", 0, "ok"}}},
		{"prefixes are case-sensitive",
		 "  date: d\n  LEVEL: Error\n  description: x\n  Description: y\n", nullptr, 1,
		 {{"", "System", 0, "y"}}},
		{"prefix must start the trimmed line", "  The Date: d\n  xDescription: x\n", nullptr, 0, {}},
		{"a description line is cut to 1023 characters",
		 "  Description: " + std::string(1100, 'a') + "\n", nullptr, 1,
		 {{"", "System", 0, std::string(1023, 'a')}}},
		{"description cut to 1023 characters", "  Description:\n" + a1023 + "bbb\n", nullptr, 1,
		 {{"", "System", 0, a1023}}},
		{"joined description cut to 1023 characters",
		 "  Description:\n" + std::string(1020, 'a') + "\nbbbb\n", nullptr, 1,
		 {{"", "System", 0, std::string(1020, 'a') + " bb"}}},
		{"a line of 8191 bytes does not split its record",
		 "  Date: d\n  Source: " + std::string(8181, 'x') + "\n  Level: Warning\n  Description: kept\n", nullptr, 1,
		 {{"d", std::string(95, 'x'), 1, "kept"}}},
		{"the rest of a long line is never a field line",
		 "  Source: " + std::string(8181, 'x') + "Level: Error\n  Description: plain\n", nullptr, 1,
		 {{"", std::string(95, 'x'), 0, "plain"}}},
		{"CR LF that straddles the read buffer",
		 "  Date: d\n  Source: " + std::string(8180, 'x') + "\r\n  Description: kept\n", nullptr, 1,
		 {{"d", std::string(95, 'x'), 0, "kept"}}},
		{"the rest of a long description line is dropped, the next line joins",
		 "  Description: " + std::string(1000, 'z') + std::string(20000, 'y') + "\nmore\n", nullptr, 1,
		 {{"", "System", 0, std::string(1000, 'z') + std::string(23, 'y')}}},
		{"a NUL byte does not end the record",
		 std::string("  Date: d\n", 10) + std::string("\0junk\n", 6) + "  Description: t\n", nullptr,
		 1, {{"d", "System", 0, "t"}}},
		{"Error level", rec("Error", "all fine"), nullptr, 1, {{"d", "System", 2, "all fine"}}},
		{"Critical level", rec("Critical", "all fine"), nullptr, 1, {{"d", "System", 2, "all fine"}}},
		{"Warning level", rec("Warning", "all fine"), nullptr, 1, {{"d", "System", 1, "all fine"}}},
		{"level is case-insensitive", rec("warning", "all fine"), nullptr, 1,
		 {{"d", "System", 1, "all fine"}}},
		{"Warning level outranks an error keyword", rec("Warning", "disk error"), nullptr, 1,
		 {{"d", "System", 1, "disk error"}}},
		{"Information level outranks an error keyword", rec("Information", "start failed"), nullptr, 1,
		 {{"d", "System", 0, "start failed"}}},
		{"Verbose level leaves the keywords", rec("Verbose", "timeout reached"), nullptr, 1,
		 {{"d", "System", 1, "timeout reached"}}},
		{"empty level", rec("", "fine"), nullptr, 1, {{"d", "System", 0, "fine"}}},
		{"level does not leak into the next record",
		 rec("Error", "one") + "Event[1]:\n  Description: two\n", nullptr, 2,
		 {{"d", "System", 2, "one"}, {"", "System", 0, "two"}}},
		{"a level is matched whole", rec("Errors", "fine") + rec("Error 5", "fine") + rec("No warning", "x"),
		 nullptr, 3, {{"d", "System", 0, "fine"}, {"d", "System", 0, "fine"}, {"d", "System", 0, "x"}}},
		{"a level's surrounding blanks do not count", "  Level: \t Warning \t\n  Description: x\n", nullptr, 1,
		 {{"", "System", 1, "x"}}},

		// Records as real output has them: each begun by a header line.
		{"header without colon, paragraphs and TABs in the description",
		 "Event[0]\r\n  Log Name: Security\r\n  Date: 2021-12-25T07:33:18.1520000Z\r\n"
		 "  Level: Information\r\n  Description: \r\nAn account failed to log on.\r\n\r\n"
		 "Subject:\r\n\tSecurity ID:\t\tS-1-0-0\r\n\r\nFailure Information:\r\n\tStatus:\t\t0xC000006D\r\n\r\n"
		 "Event[1]\r\n  Date: 2019-05-26T10:21:11.251\r\n  Level: Warning\r\n  Description:\r\nsecond\r\n",
		 nullptr, 2,
		 {{"2021-12-25T07:33:18.1520000Z", "System", 0,
		   "An account failed to log on. Subject: Security ID:\t\tS-1-0-0 Failure Information: "
		   "Status:\t\t0xC000006D"},
		  {"2019-05-26T10:21:11.251", "System", 1, "second"}}},
		{"the blank line between header records ends nothing by itself",
		 "Event[0]:\n  Description: one\n\n\n\nEvent[1]:\n  Description: two\n\n", nullptr, 2,
		 {{"", "System", 0, "one"}, {"", "System", 0, "two"}}},
		{"a header ends a headerless record",
		 "  Description: one\nmore\nEvent[7]:\n  Description: two\n", nullptr, 2,
		 {{"", "System", 0, "one more"}, {"", "System", 0, "two"}}},
		{"headers are recognised after trimming", "Event[0]\n  Description: a\n\nb\n \tEvent[12]: \r\n"
		 "  Description: c\n", nullptr, 2, {{"", "System", 0, "a b"}, {"", "System", 0, "c"}}},
		{"lines that only look like headers are text",
		 "Event[0]\n  Description: a\nEvent[]\nEvent[x]\nEvent[1]x\nEvent[1]::\nevent[1]\nEvent[ 1]\n", nullptr, 1,
		 {{"", "System", 0, "a Event[] Event[x] Event[1]x Event[1]:: event[1] Event[ 1]"}}},
		{"before its description a header record ends at a blank line",
		 "Event[0]\n  Date: d\n\n  Level: Error\n  Description: x\n", nullptr, 1, {{"", "System", 2, "x"}}},
		{"a header record without text is dropped", "Event[0]\n  Description:\n\n\nEvent[1]\n  Description: y\n",
		 nullptr, 1, {{"", "System", 0, "y"}}},
		{"a joined description is never cut inside a character",
		 "Event[0]\n  Description:\n" + std::string(1011, 'a') + "\nПривет мир\n", nullptr, 1,
		 {{"", "System", 0, std::string(1011, 'a') + " Приве"}}},
	};
}

// The Level values of the display languages, each in a record whose text alone would say
// otherwise; unknown and near values leave the keywords to decide.
TEST(EventParser, TranslatedLevels)
{
	const struct {
		const char *level;
		int32_t sev;
	} rows[] = {
		{"Critical", 2}, {"Error", 2}, {"Warning", 1}, {"Information", 0},
		{"Kritisch", 2}, {"Fehler", 2}, {"Warnung", 1}, {"Informationen", 0},
		{"Critique", 2}, {"Erreur", 2}, {"Avertissement", 1}, {"Informations", 0},
		{"Crítico", 2}, {"Advertencia", 1}, {"Información", 0},
		{"Critico", 2}, {"Errore", 2}, {"Avviso", 1}, {"Informazioni", 0},
		{"Erro", 2}, {"Aviso", 1}, {"Informações", 0}, {"Informação", 0},
		{"Критический", 2}, {"Ошибка", 2}, {"Предупреждение", 1}, {"Сведения", 0},
		{"Krytyczne", 2}, {"Błąd", 2}, {"Ostrzeżenie", 1}, {"Informacje", 0},
		{"Kritiek", 2}, {"Fout", 2}, {"Waarschuwing", 1}, {"Informatie", 0},
		{"Kritik", 2}, {"Hata", 2}, {"Uyarı", 1}, {"Bilgi", 0},
		{"重大", 2}, {"エラー", 2}, {"警告", 1}, {"情報", 0},
		{"위험", 2}, {"오류", 2}, {"경고", 1}, {"정보", 0},
		{"关键", 2}, {"错误", 2}, {"信息", 0},
		{"錯誤", 2}, {"資訊", 0},
		{"Kritická", 2}, {"Chyba", 2}, {"Upozornění", 1}, {"Informace", 0},
		{"Kritisk", 2}, {"Fel", 2}, {"Varning", 1},
		{"ERROR", 2}, {"warnung", 1}, {"СВЕДЕНИЯ", -1}, {"Verbose", -1}, {"Подробности", -1},
		{"信息信息", -1}, {"Fehl", -1}, {"", -1},
	};
	for (const auto &row : rows) {
		// Texts with an error word and a warning word: a known level must outrank both.
		for (const char *text : {"disk failed", "retry later", "all fine"}) {
			Got got;
			parse(rec(row.level, text), "System", nullptr, &got);
			ASSERT_EQ(got.entries.size(), 1u) << row.level;
			int32_t want = row.sev >= 0 ? row.sev : severity_of(text);
			EXPECT_EQ(got.entries[0].sev, want) << row.level << " / " << text;
		}
	}
}

TEST(EventParser, Table)
{
	for (const ParseRow &row : parse_rows()) {
		Got got;
		int32_t finished = parse(row.input, "System", row.query, &got);
		EXPECT_EQ(finished, row.finished) << row.name;
		ASSERT_EQ(got.entries.size(), row.want.size()) << row.name;
		for (size_t i = 0; i < row.want.size(); i++) {
			const LogEntry &e = got.entries[i];
			EXPECT_EQ(std::string(e.ts), row.want[i].ts) << row.name << " #" << i;
			EXPECT_EQ(std::string(e.unit), row.want[i].unit) << row.name << " #" << i;
			EXPECT_EQ(e.sev, row.want[i].sev) << row.name << " #" << i;
			EXPECT_EQ(std::string(e.text), row.want[i].text) << row.name << " #" << i;
		}
	}
}

std::string utf16le(const std::string &utf8, bool mark)
{
	std::u16string units;
	for (size_t i = 0; i < utf8.size();) {
		unsigned char c = (unsigned char)utf8[i];
		int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
		uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
		for (int k = 1; k < len; k++)
			cp = (cp << 6) | ((unsigned char)utf8[i + k] & 0x3F);
		i += (size_t)len;
		if (cp >= 0x10000) {
			units += (char16_t)(0xD800 + ((cp - 0x10000) >> 10));
			units += (char16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF));
		} else {
			units += (char16_t)cp;
		}
	}
	std::string out = mark ? "\xff\xfe" : "";
	for (char16_t u : units) {
		out += (char)(u & 0xFF);
		out += (char)(u >> 8);
	}
	return out;
}

// Feeds raw output to an EventStream in pieces of `piece` bytes.
int32_t stream(const std::string &raw, size_t piece, int32_t limit, Got *got)
{
	EventStream s;
	event_stream_init(&s, "Application", limit, nullptr, 0, collect_sink, got);
	for (size_t at = 0; at < raw.size(); at += piece) {
		if (!event_stream_feed(&s, raw.data() + at, std::min(piece, raw.size() - at)))
			break;
	}
	return event_stream_finish(&s);
}

const std::string kReal =
	"Event[0]\r\n"
	"  Log Name: Application\r\n"
	"  Source: Application Error\r\n"
	"  Date: 2021-12-25T07:33:18.1520000Z\r\n"
	"  Event ID: 1001\r\n"
	"  Level: Сведения\r\n"
	"  Description: \r\n"
	"Сигнатура проблемы:\r\n"
	"P1: журнал.exe\r\n"
	"\r\n"
	"Вложенные файлы:\r\n"
	"\tC:\\Users\\Пётр\\AppData\\Local\\Temp\\WER1.tmp 😀\r\n"
	"\r\n"
	"Event[1]\r\n"
	"  Date: 2019-05-26T10:21:11.251\r\n"
	"  Level: 错误\r\n"
	"  Description: \r\n"
	"服务 \u010a 已停止。\r\n";

TEST(EventStream, Utf16AndUtf8OutputInPiecesOfEverySize)
{
	const std::vector<Want> want = {
		{"2021-12-25T07:33:18.1520000Z", "Application", 0,
		 "Сигнатура проблемы: P1: журнал.exe Вложенные файлы: "
		 "C:\\Users\\Пётр\\AppData\\Local\\Temp\\WER1.tmp 😀"},
		{"2019-05-26T10:21:11.251", "Application", 2, "服务 \u010a 已停止。"},
	};
	const std::pair<const char *, std::string> outputs[] = {
		{"UTF-16LE with a mark", utf16le(kReal, true)},
		{"UTF-16LE without a mark", utf16le(kReal, false)},
		{"UTF-8", kReal},
	};
	for (const auto &output : outputs) {
		for (size_t piece = 1; piece <= 9; piece++) {
			Got got;
			EXPECT_EQ(stream(output.second, piece, 0, &got), 2) << output.first << ", pieces of " << piece;
			ASSERT_EQ(got.entries.size(), want.size()) << output.first << ", pieces of " << piece;
			for (size_t i = 0; i < want.size(); i++) {
				EXPECT_EQ(std::string(got.entries[i].ts), want[i].ts) << output.first;
				EXPECT_EQ(got.entries[i].sev, want[i].sev) << output.first;
				EXPECT_EQ(std::string(got.entries[i].text), want[i].text) << output.first << ", pieces of " << piece;
			}
		}
	}
}

TEST(EventStream, LinesLongerThanTheBufferArriveInPieces)
{
	// A long line is cut at 8191 bytes: its rest is no field line and no blank line.
	std::string raw = "  Date: d\n  Source: " + std::string(8181, 'x') + "Level: Error\n\n" + "  Description: t\n";
	Got got;
	EXPECT_EQ(stream(utf16le(raw, true), 4096, 0, &got), 1);
	ASSERT_EQ(got.entries.size(), 1u);
	EXPECT_STREQ(got.entries[0].unit, "Application");
	EXPECT_STREQ(got.entries[0].text, "t");
}

// n records "record 0" .. "record n-1", each begun by its header.
std::string numbered_records(int n)
{
	std::string out;
	for (int i = 0; i < n; i++)
		out += "Event[" + std::to_string(i) + "]\n  Description: record " + std::to_string(i) + "\n\n";
	return out;
}

TEST(EventStream, StopsAtTheLimit)
{
	std::string raw = numbered_records(50);
	for (size_t piece : {(size_t)1, (size_t)7, raw.size()}) {
		Got got;
		EXPECT_EQ(stream(raw, piece, 3, &got), 3) << piece;
		ASSERT_EQ(got.entries.size(), 3u) << piece;
		EXPECT_STREQ(got.entries[2].text, "record 2");
	}
	// The limit met at the very end: the last record is not finished twice.
	Got got;
	EXPECT_EQ(stream(raw, raw.size(), 50, &got), 50);
	EXPECT_EQ(got.entries.size(), 50u);
}

TEST(EventParser, UnitIsTheLogNameWithoutASource)
{
	Got got;
	EXPECT_EQ(parse("  Level: Information\n  Description: x\n", "Application", nullptr, &got), 1);
	ASSERT_EQ(got.entries.size(), 1u);
	EXPECT_STREQ(got.entries[0].unit, "Application");
	EXPECT_EQ(got.entries[0].event_id, EVENT_ID_NONE);
}

// Records as wevtutil qe /f:text writes them: Kernel-Power's unexpected shutdown and a
// Windows Error Reporting record, whose description is a block of lines.
const std::string kKernelPower =
	"Event[0]:\r\n"
	"  Log Name: System\r\n"
	"  Source: Microsoft-Windows-Kernel-Power\r\n"
	"  Date: 2024-01-15T10:30:00.1230000Z\r\n"
	"  Event ID: 41\r\n"
	"  Task: N/A\r\n"
	"  Level: Critical\r\n"
	"  Opcode: Info\r\n"
	"  Keyword: N/A\r\n"
	"  User: S-1-5-18\r\n"
	"  User Name: NT AUTHORITY\\SYSTEM\r\n"
	"  Computer: HOST-01\r\n"
	"  Description: \r\n"
	"The system has rebooted without cleanly shutting down first. This error could be caused if the "
	"system stopped responding, crashed, or lost power unexpectedly.\r\n"
	"\r\n"
	"Event[1]:\r\n"
	"  Log Name: Application\r\n"
	"  Source: Windows Error Reporting\r\n"
	"  Date: 2024-01-15T10:31:00.0000000Z\r\n"
	"  Event ID: 1001\r\n"
	"  Task: N/A\r\n"
	"  Level: Information\r\n"
	"  Description: \r\n"
	"Fault bucket , type 0\r\n"
	"Event Name: APPCRASH\r\n"
	"Response: Not available\r\n"
	"\r\n"
	"Problem signature:\r\n"
	"P1: app.exe\r\n"
	"P2: 1.0.0.0\r\n"
	"\r\n"
	"\r\n"
	"Event[2]:\r\n"
	"  Source: Service Control Manager\r\n"
	"  Event ID: not a number\r\n"
	"  Description: The service entered the running state.\r\n";

TEST(EventParser, SourceAndEventIdAsEventViewerShowsThem)
{
	Got got;
	EXPECT_EQ(parse(kKernelPower, "System", nullptr, &got), 3);
	ASSERT_EQ(got.entries.size(), 3u);
	EXPECT_STREQ(got.entries[0].unit, "Kernel-Power");
	EXPECT_EQ(got.entries[0].event_id, 41);
	EXPECT_EQ(got.entries[0].sev, SEV_ERR);
	EXPECT_STREQ(got.entries[1].unit, "Windows Error Reporting");
	EXPECT_EQ(got.entries[1].event_id, 1001);
	// Without its line breaks a description reads as one line, as before.
	EXPECT_STREQ(got.entries[1].text, "Fault bucket , type 0 Event Name: APPCRASH Response: Not available "
					  "Problem signature: P1: app.exe P2: 1.0.0.0");
	EXPECT_STREQ(got.entries[2].unit, "Service Control Manager");
	EXPECT_EQ(got.entries[2].event_id, EVENT_ID_NONE);
}

TEST(EventParser, MultilineKeepsLinesAndParagraphs)
{
	Got got;
	EXPECT_EQ(parse(kKernelPower, "System", nullptr, &got, 1), 3);
	ASSERT_EQ(got.entries.size(), 3u);
	EXPECT_STREQ(got.entries[1].text, "Fault bucket , type 0\nEvent Name: APPCRASH\nResponse: Not available\n\n"
					  "Problem signature:\nP1: app.exe\nP2: 1.0.0.0");
	EXPECT_STREQ(got.entries[2].text, "The service entered the running state.");

	// The longer bound holds, cut between characters; a line of "Error" in the middle does not
	// change the level the first line gives.
	std::string big = "Event[0]:\n  Description:\nfirst line fine\nan error follows\n";
	for (int i = 0; i < 3000; i++)
		big += "Привет\n";
	got.entries.clear();
	EXPECT_EQ(parse(big, "System", nullptr, &got, 1), 1);
	ASSERT_EQ(got.entries.size(), 1u);
	size_t len = strlen(got.entries[0].text);
	EXPECT_LE(len, (size_t)ENTRY_TEXT_MAX);
	EXPECT_GT(len, (size_t)ENTRY_TEXT_MAX - 14);
	EXPECT_EQ(utf8_valid_len(got.entries[0].text, len), len);
	EXPECT_EQ(got.entries[0].sev, SEV_INFO);
}

// A folder holding a fake wevtutil first on PATH: it records its arguments, where its
// standard input and error go and whether it leads its own process group, prints the canned
// output, writes noise to its error output, then runs the commands in "then" (an exit status,
// a kill, a sleep).
class FakeWevtutil : public ::testing::Test {
protected:
	std::string dir, saved_path;

	void SetUp() override
	{
		char tmpl[] = "/tmp/pl_event_XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir = tmpl;
		std::string script = "#!/bin/sh\n"
				     "printf '%s\\n' \"$@\" > '" + dir + "/args'\n"
				     "readlink /proc/$$/fd/0 /proc/$$/fd/2 >> '" + dir + "/args'\n"
				     "[ \"$(cut -d' ' -f5 /proc/$$/stat)\" = $$ ] && echo own-group >> '" + dir + "/args'\n"
				     "cat '" + dir + "/out' 2>/dev/null\n"
				     "echo noise >&2\n"
				     "[ -f '" + dir + "/then' ] && . '" + dir + "/then'\n"
				     "exit 0\n";
		write_file("wevtutil", script);
		chmod((dir + "/wevtutil").c_str(), 0755);
		const char *path = getenv("PATH");
		saved_path = path ? path : "";
		setenv("PATH", (dir + ":" + saved_path).c_str(), 1);
	}

	void TearDown() override
	{
		setenv("PATH", saved_path.c_str(), 1);
		for (const char *name : {"wevtutil", "args", "out", "then"})
			unlink((dir + "/" + name).c_str());
		rmdir(dir.c_str());
	}

	void write_file(const char *name, const std::string &text)
	{
		FILE *f = fopen((dir + "/" + name).c_str(), "wb");
		ASSERT_NE(f, nullptr);
		fwrite(text.data(), 1, text.size(), f);
		fclose(f);
	}

	std::string args()
	{
		std::string out;
		FILE *f = fopen((dir + "/args").c_str(), "rb");
		if (f == nullptr)
			return "(not run)";
		int c;
		while ((c = fgetc(f)) != EOF)
			out += (char)c;
		fclose(f);
		return out;
	}
};

TEST_F(FakeWevtutil, RefusedNamesStartNoCommand)
{
	for (const char *name : {"system", "Security", "System ", " System", "", "Application;ls",
				 "SystemX"}) {
		Got got;
		EXPECT_EQ(stream_event_log(name, 200, nullptr, 0, collect_sink, &got), -1) << name;
		EXPECT_EQ(args(), "(not run)") << name;
	}
	Got got;
	EXPECT_EQ(stream_event_log(nullptr, 200, nullptr, 0, collect_sink, &got), -1);
	EXPECT_EQ(args(), "(not run)");
}

TEST_F(FakeWevtutil, CommandLineAndStandardHandles)
{
	write_file("out", kExample);
	Got got;
	EXPECT_EQ(stream_event_log("System", 200, nullptr, 0, collect_sink, &got), 3);
	EXPECT_EQ(got.entries.size(), 3u);
	EXPECT_EQ(args(), "qe\nSystem\n/c:200\n/rd:true\n/f:text\n/uni:true\n/dev/null\n/dev/null\nown-group\n");
	Got hits;
	EXPECT_EQ(stream_event_log("Application", 600, "disk", 0, collect_sink, &hits), 3);
	ASSERT_EQ(hits.entries.size(), 1u);
	EXPECT_STREQ(hits.entries[0].unit, "Application");
	EXPECT_EQ(args(), "qe\nApplication\n/c:600\n/rd:true\n/f:text\n/uni:true\n/dev/null\n/dev/null\nown-group\n");
}

TEST_F(FakeWevtutil, Utf16Output)
{
	write_file("out", utf16le(kReal, true));
	Got got;
	EXPECT_EQ(stream_event_log("Application", 200, nullptr, 0, collect_sink, &got), 2);
	ASSERT_EQ(got.entries.size(), 2u);
	EXPECT_STREQ(got.entries[1].text, "服务 \u010a 已停止。");
}

TEST_F(FakeWevtutil, NoMoreRecordsThanAskedFor)
{
	write_file("out", numbered_records(5000));
	Got got;
	EXPECT_EQ(stream_event_log("System", 3, nullptr, 0, collect_sink, &got), 3);
	ASSERT_EQ(got.entries.size(), 3u);
	EXPECT_STREQ(got.entries[0].text, "record 0");
	EXPECT_STREQ(got.entries[2].text, "record 2");
}

TEST_F(FakeWevtutil, AtTheCountTheToolIsNotWaitedFor)
{
	write_file("out", numbered_records(4));
	write_file("then", "sleep 30\n");
	time_t start = time(nullptr);
	Got got;
	EXPECT_EQ(stream_event_log("System", 3, nullptr, 0, collect_sink, &got), 3);
	EXPECT_LT(time(nullptr) - start, 10);
	ASSERT_EQ(got.entries.size(), 3u);
	EXPECT_STREQ(got.entries[2].text, "record 2");
}

TEST_F(FakeWevtutil, ExitStatus)
{
	const struct {
		const char *name;
		std::string out;
		const char *then;
		int32_t want;
	} rows[] = {
		{"silent success is an empty log", "", "exit 0", 0},
		{"failure before any record", "", "exit 5", -1},
		{"failure after an unfinished record", "Event[0]\n  Date: d\n", "exit 1", -1},
		{"failure after records keeps them", kExample, "exit 1", 3},
		{"killed after records keeps them", kExample, "kill -9 $$", 3},
	};
	for (const auto &row : rows) {
		write_file("out", row.out);
		write_file("then", row.then);
		Got got;
		EXPECT_EQ(stream_event_log("System", 200, nullptr, 0, collect_sink, &got), row.want) << row.name;
		EXPECT_NE(args(), "(not run)") << row.name;
	}
}

TEST_F(FakeWevtutil, ToolThatCannotStart)
{
	Got got;
	chmod((dir + "/wevtutil").c_str(), 0644);
	setenv("PATH", dir.c_str(), 1);
	EXPECT_EQ(stream_event_log("System", 200, nullptr, 0, collect_sink, &got), -1);
	setenv("PATH", "/nonexistent", 1);
	EXPECT_EQ(stream_event_log("System", 200, nullptr, 0, collect_sink, &got), -1);
	EXPECT_TRUE(got.entries.empty());
	EXPECT_EQ(args(), "(not run)");
}

}  // namespace
