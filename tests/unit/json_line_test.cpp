// JSON log lines: read by key (Serilog compact, pino, bunyan, zap), values decoded.
#include <gtest/gtest.h>

#include <string>

#include "plugin_logs/plugin_logs.h"

namespace {

struct JsonRow {
	const char *what;
	std::string line;
	std::string ts;
	std::string unit;
	std::string text;
	int32_t sev;
};

const int32_t NONE = SEV_UNCLASSIFIED;

void check(const JsonRow &r)
{
	static char scratch[SHAPE_SCRATCH_SIZE];
	LineShape s;
	shape_log_line(&s, r.line.data(), r.line.size(), scratch);
	EXPECT_EQ(s.has_ts, 1) << r.what;
	EXPECT_EQ(std::string(s.ts, s.ts_len), r.ts) << r.what;
	EXPECT_EQ(std::string(s.unit, s.unit_len), r.unit) << r.what;
	EXPECT_EQ(std::string(s.text, s.text_len), r.text) << r.what;
	EXPECT_EQ(s.sev, r.sev) << r.what;
}

TEST(JsonLine, Writers)
{
	const JsonRow rows[] = {
		{"Serilog compact, Information has no @l",
		 R"({"@t":"2024-01-15T10:30:00.1234567Z","@mt":"Processed {@Position} in {Elapsed:000} ms.","Position":{"Latitude":25,"Longitude":134},"Elapsed":34,"SourceContext":"MyApp.Worker"})",
		 "2024-01-15T10:30:00.1234567Z", "MyApp.Worker", R"(Processed {"Latitude":25,"Longitude":134} in 34 ms.)", SEV_INFO},
		{"Serilog compact with a level and an exception",
		 R"({"@t":"2024-01-15T10:30:01.0000000Z","@mt":"Failed to load {Path}","@l":"Error","@x":"System.IO.IOException: boom","Path":"C:\\data\\x.json"})",
		 "2024-01-15T10:30:01.0000000Z", "", R"(Failed to load C:\data\x.json)", SEV_ERR},
		{"Serilog compact, rendered message wins",
		 R"({"@t":"2024-01-15T10:30:02Z","@m":"Hello, \"Ann\"","@i":"a1b2c3d4","@mt":"Hello, {Name}","@l":"Warning","Name":"Ann"})",
		 "2024-01-15T10:30:02Z", "", "Hello, \"Ann\"", SEV_WARN},
		{"pino", R"({"level":30,"time":1705314600123,"pid":4242,"hostname":"web-1","msg":"request completed"})",
		 "2024-01-15T10:30:00.123Z", "", "request completed", SEV_INFO},
		{"pino error", R"({"level":50,"time":1705314600000,"pid":4242,"hostname":"web-1","err":{"type":"Error","message":"boom"},"msg":"boom"})",
		 "2024-01-15T10:30:00.000Z", "", "boom", SEV_ERR},
		{"pino warn", R"({"level":40,"time":1705314600999,"msg":"slow"})", "2024-01-15T10:30:00.999Z", "", "slow", SEV_WARN},
		{"pino fatal", R"({"level":60,"time":0,"msg":"down"})", "1970-01-01T00:00:00.000Z", "", "down", SEV_ERR},
		{"pino trace", R"({"level":10,"time":1705314600123,"msg":"t"})", "2024-01-15T10:30:00.123Z", "", "t", SEV_INFO},
		{"bunyan", R"({"name":"myapp","hostname":"web-1","pid":1,"level":30,"msg":"hi","time":"2024-01-15T10:30:00.000Z","v":0})",
		 "2024-01-15T10:30:00.000Z", "myapp", "hi", SEV_INFO},
		{"zap production", R"({"level":"error","ts":1705314600.1234567,"logger":"api","caller":"api/handler.go:88","msg":"request failed","error":"EOF"})",
		 "2024-01-15T10:30:00.123Z", "api", "request failed", SEV_ERR},
		{"zap seconds without fraction", R"({"level":"warn","ts":1705314600,"msg":"w"})", "2024-01-15T10:30:00.000Z", "", "w", SEV_WARN},
		{"zap leap-year date", R"({"level":"info","ts":1709208000.5,"msg":"x"})", "2024-02-29T12:00:00.500Z", "", "x", SEV_INFO},
		{"ECS", R"({"@timestamp":"2024-01-15T10:30:00.000Z","log.level":"info","message":"started","ecs.version":"1.6.0"})",
		 "2024-01-15T10:30:00.000Z", "", "started", NONE},
		{"blanks around, severity key", "  {\"timestamp\" : \"2024-01-15 10:30:00\" , \"severity\" : \"CRITICAL\" , \"message\" : \"x\" }  ",
		 "2024-01-15 10:30:00", "", "x", SEV_ERR},
		{"level word unknown", R"({"time":"t","level":"loud","msg":"m"})", "t", "", "m", NONE},
		{"level number too small", R"({"time":"t","level":5,"msg":"m"})", "t", "", "m", NONE},
		{"a time as written, too long", R"({"time":"2024-01-15T10:30:00.123456789012345678901+01:00","msg":"m"})",
		 "2024-01-15T10:30:00.1234567890123456789", "", "m", NONE},
		{"a time that is no epoch", R"({"ts":-5,"msg":"m"})", "-5", "", "m", NONE},
		{"a time of exponent form", R"({"ts":1.7e9,"msg":"m"})", "1.7e9", "", "m", NONE},
		{"an epoch past 9999", R"({"ts":999999999999999,"msg":"m"})", "999999999999999", "", "m", NONE},
		{"no message key: the whole line", R"({"time":"t","event":"login"})", "t", "", R"({"time":"t","event":"login"})", NONE},
		{"unit not a string", R"({"time":"t","name":42,"msg":"m"})", "t", "42", "m", NONE},
		{"first time key of the table wins", R"({"time":"second","@t":"first","msg":"m"})", "first", "", "m", SEV_INFO},
		{"duplicate key: the first", R"({"time":"t","msg":"one","msg":"two"})", "t", "", "one", NONE},
	};
	for (const JsonRow &r : rows)
		check(r);
}

TEST(JsonLine, StringEscapes)
{
	const JsonRow rows[] = {
		{"simple escapes", R"({"time":"t","msg":"a\"b\\c\/d\be\ff\ng\rh\ti"})", "t", "", "a\"b\\c/d\be\ff\ng\rh\ti", NONE},
		{"\\u escapes", R"({"time":"t","msg":"caf\u00e9 \u0416 \u20AC"})", "t", "", "caf\xc3\xa9 \xd0\x96 \xe2\x82\xac", NONE},
		{"surrogate pair", R"({"time":"t","msg":"\ud83d\ude00!"})", "t", "", "\xf0\x9f\x98\x80!", NONE},
		{"lone high surrogate", R"({"time":"t","msg":"a\ud83dz"})", "t", "", "a\xef\xbf\xbdz", NONE},
		{"lone low surrogate", R"({"time":"t","msg":"a\ude00z"})", "t", "", "a\xef\xbf\xbdz", NONE},
		{"high then not a low", R"({"time":"t","msg":"\ud83d\u0041"})", "t", "", "\xef\xbf\xbd" "A", NONE},
		{"bad hex", R"({"time":"t","msg":"a\u12g4b"})", "t", "", "a\xef\xbf\xbd" "12g4b", NONE},
		{"unknown escape", R"({"time":"t","msg":"a\qb"})", "t", "", "a\xef\xbf\xbd" "b", NONE},
		{"NUL escape", R"({"time":"t","msg":"a\u0000b"})", "t", "", "a\xef\xbf\xbd" "b", NONE},
		{"raw UTF-8 passes", "{\"time\":\"t\",\"msg\":\"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xe4\xb8\x96\xe7\x95\x8c\"}", "t", "",
		 "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xe4\xb8\x96\xe7\x95\x8c", NONE},
		{"invalid UTF-8 is replaced", "{\"time\":\"t\",\"msg\":\"a\xff" "b\xc3\"}", "t", "", "a\xef\xbf\xbd" "b\xef\xbf\xbd", NONE},
		{"escaped unit", R"({"time":"t","SourceContext":"App.\u00c9t\u00e9","msg":"m"})", "t", "App.\xc3\x89t\xc3\xa9", "m", NONE},
	};
	for (const JsonRow &r : rows)
		check(r);
}

TEST(JsonLine, TemplateHoles)
{
	const std::string head = R"({"@t":"t","@mt":")";
	const std::string props = R"(","Name":"Jos\u00e9","N":42,"B":true,"Z":null,"A":[1,"x"],"O":{"k":"}"}})";
	const struct {
		const char *tpl;
		const char *text;
	} rows[] = {
		{"Hi {Name}", "Hi Jos\xc3\xa9"},
		{"{N} items", "42 items"},
		{"{@O}", "{\"k\":\"}\"}"},
		{"{$Name}", "Jos\xc3\xa9"},
		{"{N,10}|{N:000}|{N,-5:x}", "42|42|42"},
		{"{B} {Z} {A}", "true null [1,\"x\"]"},
		{"{{Name}} and }}", "{Name} and }"},
		{"{{{Name}}}", "{Jos\xc3\xa9}"},
		{"{Missing} stays", "{Missing} stays"},
		{"{not a hole} {} {Name", "{not a hole} {} {Name"},
		{"caf\\u00e9 {Name}", "caf\xc3\xa9 Jos\xc3\xa9"},
		{"{0} positional", "{0} positional"},
		{"", ""},
	};
	for (const auto &r : rows) {
		JsonRow row = {r.tpl, head + r.tpl + props, "t", "", r.text, SEV_INFO};
		check(row);
	}
}

TEST(JsonLine, TextIsCutBetweenCharactersInTheScratch)
{
	static char scratch[SHAPE_SCRATCH_SIZE];
	// Far more message than the scratch holds, in two-byte characters that a cut could split.
	std::string body;
	for (int i = 0; i < 9000; i++)
		body += "\\u00e9";
	std::string line = R"({"time":"t","msg":")" + body + R"("})";
	LineShape s;
	shape_log_line(&s, line.data(), line.size(), scratch);
	ASSERT_GT(s.text_len, (size_t)16000);
	EXPECT_LE(s.text_len, (size_t)16384);
	EXPECT_EQ(s.text_len % 2, 0u);
	EXPECT_EQ(utf8_valid_len(s.text, s.text_len), s.text_len);
	EXPECT_GE(s.text, scratch);
	EXPECT_LE(s.text + s.text_len, scratch + SHAPE_SCRATCH_SIZE);

	// Through parse_log_line the entry gets 1023 bytes at most, whole characters.
	LogEntry e;
	parse_log_line(&e, line.data(), line.size());
	EXPECT_EQ(std::string(e.text).size(), 1022u);
}

} // namespace
