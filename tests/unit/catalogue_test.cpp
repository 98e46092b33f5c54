// add_src and scan_root: the row rules, and the walk's bounds on small trees made here.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "plugin_logs/plugin_logs.h"

namespace fs = std::filesystem;

namespace {

// The table is 180 KiB: too big for a test's stack frame next to gtest's own.
std::unique_ptr<SourceCatalogue> empty_catalogue()
{
	std::unique_ptr<SourceCatalogue> cat(new SourceCatalogue);
	memset(cat.get(), 0, sizeof(*cat));
	return cat;
}

void fill_table(SourceCatalogue *cat)
{
	for (int i = 0; i < CATALOGUE_ROWS; i++) {
		std::string id = "file:/x/" + std::to_string(i) + ".log";
		add_src(cat, id.c_str(), "x", "file", i, 0);
	}
}

std::set<std::string> ids_of(const SourceCatalogue *cat)
{
	std::set<std::string> ids;
	for (int32_t i = 0; i < cat->count; i++)
		ids.insert(cat->sources[i].id);
	return ids;
}

// A fresh folder under /tmp, removed with everything in it at the end of the test.
class TempTree {
public:
	TempTree()
	{
		char pattern[] = "/tmp/pl_cat_unit_XXXXXX";
		const char *made = mkdtemp(pattern);
		root_ = made != nullptr ? made : "";
	}
	~TempTree()
	{
		std::error_code ec;
		if (!root_.empty())
			fs::remove_all(root_, ec);
	}
	const std::string &root() const { return root_; }
	std::string file(const std::string &rel, const std::string &content = "")
	{
		std::string path = root_ + "/" + rel;
		fs::create_directories(fs::path(path).parent_path());
		FILE *f = fopen(path.c_str(), "wb");
		if (f != nullptr) {
			fwrite(content.data(), 1, content.size(), f);
			fclose(f);
		}
		return path;
	}
	std::string dir(const std::string &rel)
	{
		std::string path = root_ + "/" + rel;
		fs::create_directories(path);
		return path;
	}

private:
	std::string root_;
};

// Five entries: three files and a folder holding one more file. Returns the folder's path.
std::string five_entry_folder(TempTree &tree)
{
	tree.file("w/a.log");
	tree.file("w/b.log");
	tree.file("w/c.txt");
	tree.file("w/sub/d.log");
	return tree.root() + "/w";
}

// A folder whose full path has exactly `length` characters, made of components short
// enough for any file system.
std::string dir_of_length(TempTree &tree, size_t length)
{
	std::string path = tree.root();
	std::string rel;
	while (path.size() < length) {
		size_t left = length - path.size() - 1;
		size_t part = left > 200 ? 200 : left;
		// Never leave a remainder of 1, which cannot form a "/x" component.
		if (left - part == 1)
			part -= 1;
		std::string component(part, 'd');
		path += "/" + component;
		rel += (rel.empty() ? "" : "/") + component;
	}
	return tree.dir(rel);
}

TEST(AddSrc, StoresAllFields)
{
	auto cat = empty_catalogue();
	// Garbage in the row proves every field is written and terminated.
	memset(&cat->sources[0], 0xAB, sizeof(cat->sources[0]));
	add_src(cat.get(), "file:/a/app.log", "app.log", "file", 5368709120LL, 4102444800LL);
	ASSERT_EQ(cat->count, 1);
	const LogSource &row = cat->sources[0];
	EXPECT_STREQ(row.id, "file:/a/app.log");
	EXPECT_STREQ(row.label, "app.log");
	EXPECT_STREQ(row.kind, "file");
	EXPECT_EQ(row.size, 5368709120LL);
	EXPECT_EQ(row.mtime, 4102444800LL); // past 2038: 64 bits
	EXPECT_EQ(cat->truncated, 0);
}

struct CopyRow {
	size_t id_len, label_len, kind_len;
	size_t id_kept, label_kept, kind_kept;
};

const CopyRow kCopyRows[] = {
	{599, 95, 9, 599, 95, 9},    // exactly the room: whole
	{600, 96, 10, 599, 95, 9},   // one more: cut by one
	{900, 200, 40, 599, 95, 9},  // far more: cut, never overrun
	{1, 0, 1, 1, 0, 1},
};

TEST(AddSrc, BoundedCopies)
{
	for (const CopyRow &r : kCopyRows) {
		auto cat = empty_catalogue();
		std::string id(r.id_len, 'i'), label(r.label_len, 'l'), kind(r.kind_len, 'k');
		add_src(cat.get(), id.c_str(), label.c_str(), kind.c_str(), 0, 0);
		ASSERT_EQ(cat->count, 1);
		EXPECT_EQ(std::string(cat->sources[0].id), id.substr(0, r.id_kept)) << r.id_len;
		EXPECT_EQ(std::string(cat->sources[0].label), label.substr(0, r.label_kept)) << r.label_len;
		EXPECT_EQ(std::string(cat->sources[0].kind), kind.substr(0, r.kind_kept)) << r.kind_len;
		// The row after stays untouched.
		EXPECT_EQ(cat->sources[1].id[0], '\0');
	}
}

TEST(AddSrc, LabelIsCutBetweenCharacters)
{
	auto cat = empty_catalogue();
	// 94 bytes and é: the 96-byte label has room for 95, which would end inside é.
	std::string label = std::string(94, 'l') + "\xc3\xa9.log";
	add_src(cat.get(), "file:/x", label.c_str(), "file", 0, 0);
	EXPECT_EQ(std::string(cat->sources[0].label), std::string(94, 'l'));
}

TEST(AddSrc, DuplicateIsDroppedWithoutFlag)
{
	auto cat = empty_catalogue();
	add_src(cat.get(), "event:System", "Windows System log", "event", 0, 0);
	add_src(cat.get(), "event:System", "other", "file", 9, 0);
	EXPECT_EQ(cat->count, 1);
	EXPECT_EQ(cat->truncated, 0);
	EXPECT_STREQ(cat->sources[0].label, "Windows System log");
	EXPECT_EQ(cat->sources[0].size, 0);
}

TEST(AddSrc, IdsAreComparedByteForByte)
{
	const char *ids[] = {"file:/a/app.log", "file:/a/App.log", "file:/a/app.lo", "file:/a/app.log ",
			     "file:/a//app.log", "event:system"};
	auto cat = empty_catalogue();
	for (const char *id : ids)
		add_src(cat.get(), id, "x", "file", 0, 0);
	EXPECT_EQ(cat->count, (int32_t)(sizeof(ids) / sizeof(ids[0])));
}

TEST(AddSrc, LastFreeRowIsFilledWithoutFlag)
{
	auto cat = empty_catalogue();
	for (int i = 0; i < CATALOGUE_ROWS - 1; i++)
		add_src(cat.get(), ("id" + std::to_string(i)).c_str(), "x", "file", 0, 0);
	add_src(cat.get(), "last", "x", "file", 0, 0);
	EXPECT_EQ(cat->count, CATALOGUE_ROWS);
	EXPECT_EQ(cat->truncated, 0);
	EXPECT_STREQ(cat->sources[CATALOGUE_ROWS - 1].id, "last");
}

TEST(AddSrc, FullTableFlagsNewId)
{
	auto cat = empty_catalogue();
	fill_table(cat.get());
	ASSERT_EQ(cat->truncated, 0);
	add_src(cat.get(), "file:/x/new.log", "new.log", "file", 0, 0);
	EXPECT_EQ(cat->count, CATALOGUE_ROWS);
	EXPECT_EQ(cat->truncated, 1);
}

TEST(AddSrc, FullTableFlagsEvenADuplicate)
{
	auto cat = empty_catalogue();
	fill_table(cat.get());
	add_src(cat.get(), "file:/x/0.log", "x", "file", 0, 0);
	EXPECT_EQ(cat->count, CATALOGUE_ROWS);
	EXPECT_EQ(cat->truncated, 1);
}

TEST(ScanRoot, ReturnsAtOnceWithoutBudgetOrText)
{
	TempTree tree;
	tree.file("wendquil/a.log");
	std::string root = tree.root() + "/wendquil";
	const int32_t budgets[] = {0, -1, -40000};
	for (int32_t start : budgets) {
		auto cat = empty_catalogue();
		int32_t budget = start;
		scan_root(cat.get(), root.c_str(), WALK_DEPTH, &budget);
		EXPECT_EQ(cat->count, 0) << start;
		EXPECT_EQ(cat->truncated, 0) << start;
		EXPECT_EQ(budget, start);
	}
	auto cat = empty_catalogue();
	int32_t budget = 10;
	scan_root(cat.get(), "", WALK_DEPTH, &budget);
	EXPECT_EQ(budget, 10);
	EXPECT_EQ(cat->count, 0);
}

TEST(ScanRoot, MissingOrFileRootAddsNothing)
{
	TempTree tree;
	std::string file = tree.file("plain.log");
	const std::string roots[] = {tree.root() + "/absent", file};
	for (const std::string &root : roots) {
		auto cat = empty_catalogue();
		int32_t budget = 10;
		scan_root(cat.get(), root.c_str(), WALK_DEPTH, &budget);
		EXPECT_EQ(cat->count, 0) << root;
		EXPECT_EQ(cat->truncated, 0) << root;
		EXPECT_EQ(budget, 10) << root;
	}
}

TEST(ScanRoot, NameRuleAndLabel)
{
	TempTree tree;
	const char *names[] = {"app.log", "APP.LOG", "a.Log", "app.log.1", ".log", "log", "x.log",
			       ".hidden.log", "back\\slash.log"};
	for (const char *name : names)
		tree.file(std::string("w/") + name);
	tree.file("w/old.log/inner.log");
	auto cat = empty_catalogue();
	int32_t budget = 100;
	std::string w = tree.root() + "/w";
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	std::set<std::string> want = {"file:" + w + "/app.log", "file:" + w + "/x.log",
				      "file:" + w + "/.hidden.log", "file:" + w + "/back\\slash.log",
				      "file:" + w + "/old.log/inner.log"};
	EXPECT_EQ(ids_of(cat.get()), want);
	// Every entry but "." and ".." cost one unit, the folder "old.log" and its file too.
	EXPECT_EQ(budget, 100 - 11);
	for (int32_t i = 0; i < cat->count; i++) {
		const LogSource &row = cat->sources[i];
		std::string id = row.id;
		std::string label = id.substr(id.find_last_of("/\\") + 1);
		EXPECT_EQ(std::string(row.label), label);
		EXPECT_STREQ(row.kind, "file");
		struct stat st;
		ASSERT_EQ(stat(id.c_str() + 5, &st), 0);
		EXPECT_EQ(row.mtime, (int64_t)st.st_mtime);
	}
}

TEST(ScanRoot, NamesThatAreNotUtf8AreLeftOutButCostBudget)
{
	TempTree tree;
	tree.file("w/caf\xc3\xa9.log");
	tree.file("w/caf\xe9.log");
	tree.file("w/dossier-\xe9/inner.log");
	auto cat = empty_catalogue();
	int32_t budget = 100;
	std::string w = tree.root() + "/w";
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	EXPECT_EQ(ids_of(cat.get()), std::set<std::string>{"file:" + w + "/caf\xc3\xa9.log"});
	// The folder is not entered: its file costs nothing.
	EXPECT_EQ(budget, 100 - 3);
}

TEST(ScanRoot, BudgetBoundary)
{
	TempTree tree;
	std::string w = five_entry_folder(tree);

	auto cat = empty_catalogue();
	int32_t budget = 6;  // five entries examined, one unit left
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	EXPECT_EQ(budget, 1);
	EXPECT_EQ(cat->truncated, 0);
	EXPECT_EQ(cat->count, 3);

	cat = empty_catalogue();
	budget = 5;  // the fifth entry brings the counter to 0: not examined, walk over
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	EXPECT_LE(budget, 0);
	EXPECT_EQ(cat->truncated, 1);
	EXPECT_LE(cat->count, 3);

	// A later walk (the second root) returns at its first step.
	int32_t before = budget;
	cat->truncated = 0;
	int32_t rows = cat->count;
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	EXPECT_EQ(budget, before);
	EXPECT_EQ(cat->count, rows);
	EXPECT_EQ(cat->truncated, 0);
}

TEST(ScanRoot, SpentBudgetEndsEveryLevel)
{
	TempTree tree;
	// One file in each of four nested folders, then many siblings at the top.
	tree.file("w/a/b/c/deep.log");
	for (int i = 0; i < 20; i++)
		tree.file("w/top" + std::to_string(i) + ".log");
	std::string w = tree.root() + "/w";
	for (int32_t start = 1; start < 30; start++) {
		auto cat = empty_catalogue();
		int32_t budget = start;
		scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
		// 24 entries in all: a, b, c, deep.log and 20 files.
		if (start > 24) {
			EXPECT_EQ(cat->truncated, 0) << start;
			EXPECT_EQ(cat->count, 21) << start;
		} else {
			EXPECT_EQ(cat->truncated, 1) << start;
			// No more files than entries examined, which is start - 1.
			EXPECT_LE(cat->count, start - 1) << start;
		}
	}
}

TEST(ScanRoot, DepthBound)
{
	TempTree tree;
	tree.file("w/0.log");
	tree.file("w/a/1.log");
	tree.file("w/a/b/2.log");
	tree.file("w/a/b/c/3.log");
	tree.file("w/a/b/c/d/4.log");
	tree.file("w/a/b/c/d/e/5.log");
	std::string w = tree.root() + "/w";
	for (int32_t depth = 0; depth <= 5; depth++) {
		auto cat = empty_catalogue();
		int32_t budget = 100;
		scan_root(cat.get(), w.c_str(), depth, &budget);
		std::set<std::string> want;
		std::string dir = w;
		const char *parts[] = {"a", "b", "c", "d", "e"};
		for (int32_t level = 0; level <= depth && level <= 5; level++) {
			want.insert("file:" + dir + "/" + std::to_string(level) + ".log");
			if (level < 5)
				dir += std::string("/") + parts[level];
		}
		EXPECT_EQ(ids_of(cat.get()), want) << depth;
		// The folder at the last level is met (and paid for) but not opened.
		int32_t met = depth >= 5 ? 11 : 2 * (depth + 1);
		EXPECT_EQ(budget, 100 - met) << depth;
	}
}

TEST(ScanRoot, FullTableKeepsWalkingAndFlagging)
{
	TempTree tree;
	std::string w = five_entry_folder(tree);
	auto cat = empty_catalogue();
	fill_table(cat.get());
	int32_t budget = 100;
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	EXPECT_EQ(cat->truncated, 1);
	EXPECT_EQ(cat->count, CATALOGUE_ROWS);
	EXPECT_EQ(budget, 100 - 5);

	// A tree without a single candidate leaves a full table unflagged.
	TempTree quiet;
	quiet.file("w/a.txt");
	std::string qw = quiet.root() + "/w";
	cat = empty_catalogue();
	fill_table(cat.get());
	scan_root(cat.get(), qw.c_str(), WALK_DEPTH, &budget);
	EXPECT_EQ(cat->truncated, 0);
}

TEST(ScanRoot, IdentifierLengthLimit)
{
	TempTree tree;
	// Paths of 593 characters fit the identifier ("file:" + path < 600); 594 do not.
	std::string dir = dir_of_length(tree, 500);
	std::string fits = dir + "/" + std::string(593 - dir.size() - 1 - 4, 'f') + ".log";
	std::string over = dir + "/" + std::string(594 - dir.size() - 1 - 4, 'o') + ".log";
	ASSERT_EQ(fits.size(), 593u);
	ASSERT_EQ(over.size(), 594u);
	fclose(fopen(fits.c_str(), "wb"));
	fclose(fopen(over.c_str(), "wb"));
	auto cat = empty_catalogue();
	int32_t budget = 100;
	scan_root(cat.get(), dir.c_str(), 0, &budget);
	EXPECT_EQ(ids_of(cat.get()), std::set<std::string>{"file:" + fits});
	EXPECT_EQ(strlen(cat->sources[0].id), 598u);
	EXPECT_EQ(budget, 98);
}

TEST(ScanRoot, DirectoryTextLimit)
{
	TempTree tree;
	// A folder text of 1020 characters is listed; 1021 is not (its entries cost nothing).
	const size_t lengths[] = {1020, 1021};
	for (size_t length : lengths) {
		std::string dir = dir_of_length(tree, length);
		ASSERT_EQ(dir.size(), length);
		fclose(fopen((dir + "/e").c_str(), "wb"));
		auto cat = empty_catalogue();
		int32_t budget = 10;
		scan_root(cat.get(), dir.c_str(), 0, &budget);
		EXPECT_EQ(budget, length == 1020 ? 9 : 10) << length;
		EXPECT_EQ(cat->count, 0);
	}
}

TEST(ScanRoot, SizeIsSixtyFourBits)
{
	TempTree tree;
	std::string path = tree.file("w/big.log");
	// Sparse: five GiB of apparent size, no disk blocks.
	ASSERT_EQ(truncate(path.c_str(), 5368709120LL), 0);
	tree.file("w/small.log", "12345");
	auto cat = empty_catalogue();
	int32_t budget = 10;
	std::string w = tree.root() + "/w";
	scan_root(cat.get(), w.c_str(), 0, &budget);
	ASSERT_EQ(cat->count, 2);
	for (int32_t i = 0; i < 2; i++) {
		std::string id = cat->sources[i].id;
		EXPECT_EQ(cat->sources[i].size, id == "file:" + path ? 5368709120LL : 5) << id;
	}
}

TEST(ScanRoot, OnlyRegularFilesAndLinksThatStayInsideTheRoot)
{
	TempTree tree;
	std::string w = tree.dir("w");
	std::string real = tree.file("w/data/real.txt", "abc");
	tree.file("w/data/x.log");
	tree.file("elsewhere/r.log");
	tree.file("w2/s.log");
	std::string target = tree.file("target.txt", "secret");
	ASSERT_EQ(mkfifo((w + "/pipe.log").c_str(), 0600), 0);
	struct {
		const char *link;
		std::string to;
		bool listed; // the link, or for a folder the x.log seen through it
	} rows[] = {
		{"null.log", "/dev/null", false},
		{"dangling.log", "absent.log", false},
		{"out_file.log", target, false},
		{"out_rel.log", "../target.txt", false},
		{"out_dir", tree.root() + "/elsewhere", false},
		// Shares the root's text as a prefix, but not on a component boundary.
		{"sibling", "../w2", false},
		{"in_file.log", real, true},
		{"in_rel.log", "data/real.txt", true},
		{"in_back.log", "../w/data/real.txt", true}, // leaves the root and comes back
		{"in_dir", "data", true},
	};
	for (const auto &row : rows)
		ASSERT_EQ(symlink(row.to.c_str(), (w + "/" + row.link).c_str()), 0) << row.link;
	auto cat = empty_catalogue();
	int32_t budget = 100;
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	std::set<std::string> want = {"file:" + w + "/data/x.log"};
	for (const auto &row : rows) {
		if (row.listed)
			want.insert("file:" + w + "/" + row.link + (strstr(row.link, ".log") ? "" : "/x.log"));
	}
	EXPECT_EQ(ids_of(cat.get()), want);
	struct stat st;
	ASSERT_EQ(stat(real.c_str(), &st), 0);
	for (int32_t i = 0; i < cat->count; i++) {
		if (strstr(cat->sources[i].id, "/in_") != nullptr && strstr(cat->sources[i].id, "in_dir") == nullptr) {
			// The target's size and time: links are followed.
			EXPECT_EQ(cat->sources[i].size, 3) << cat->sources[i].id;
			EXPECT_EQ(cat->sources[i].mtime, (int64_t)st.st_mtime) << cat->sources[i].id;
		}
	}
	// A link that leads out is neither listed nor entered, but costs its entry like any other:
	// the links, "data" and the FIFO at the top, data's two entries, and the same two again
	// through in_dir.
	EXPECT_EQ(budget, 100 - ((int32_t)(sizeof(rows) / sizeof(rows[0])) + 2) - 2 - 2);
}

TEST(ScanRoot, ARootThatIsALinkIsTakenWhereItLeads)
{
	TempTree tree;
	tree.file("real/w/a.log");
	tree.file("real/b.log");
	std::string w = tree.root() + "/w";
	ASSERT_EQ(symlink((tree.root() + "/real/w").c_str(), w.c_str()), 0);
	ASSERT_EQ(symlink("..", (tree.root() + "/real/w/up").c_str()), 0);
	auto cat = empty_catalogue();
	int32_t budget = 100;
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	// Ids keep the root's text; "up" leads above the folder the root resolves to.
	EXPECT_EQ(ids_of(cat.get()), std::set<std::string>{"file:" + w + "/a.log"});
}

TEST(ScanRoot, LinkLoopIsBoundByDepth)
{
	TempTree tree;
	std::string w = tree.dir("w");
	tree.file("w/x.log");
	ASSERT_EQ(symlink(w.c_str(), (w + "/loop").c_str()), 0);
	auto cat = empty_catalogue();
	int32_t budget = 100;
	scan_root(cat.get(), w.c_str(), WALK_DEPTH, &budget);
	std::set<std::string> want;
	std::string dir = w;
	for (int level = 0; level <= WALK_DEPTH; level++) {
		want.insert("file:" + dir + "/x.log");
		dir += "/loop";
	}
	EXPECT_EQ(ids_of(cat.get()), want);
	EXPECT_EQ(budget, 100 - 2 * (WALK_DEPTH + 1));
}

TEST(BuildCatalogue, EventRowsFirstAndSecondRootSkippedWhenIdentical)
{
	TempTree tree;
	for (int i = 0; i < CATALOGUE_ROWS - 2; i++)
		tree.file("AppData/Local/wendquil/f" + std::to_string(i) + ".log");
	std::string local = tree.root() + "/AppData/Local";
	struct EnvRow {
		const char *local;
		const char *profile;
		int32_t count;
		int32_t truncated;
	};
	std::string profile = tree.root();
	std::string profile_other = tree.root() + "/.";
	// A root that names the same folder through one that is not UTF-8: no id under it could
	// stand in a document.
	tree.dir("x\xe9");
	std::string local_bad = tree.root() + "/x\xe9/../AppData/Local";
	const EnvRow rows[] = {
		{nullptr, nullptr, 2, 0},
		{"", nullptr, 2, 0},
		{local.c_str(), nullptr, CATALOGUE_ROWS, 0},
		{nullptr, profile.c_str(), CATALOGUE_ROWS, 0},
		// Byte-identical roots: walked once, a full table but nothing left out.
		{local.c_str(), profile.c_str(), CATALOGUE_ROWS, 0},
		// The same folder spelt differently: walked twice, its files do not fit twice.
		{local.c_str(), profile_other.c_str(), CATALOGUE_ROWS, 1},
		{local_bad.c_str(), nullptr, 2, 0},
	};
	for (const EnvRow &row : rows) {
		if (row.local != nullptr)
			setenv("LOCALAPPDATA", row.local, 1);
		else
			unsetenv("LOCALAPPDATA");
		if (row.profile != nullptr)
			setenv("USERPROFILE", row.profile, 1);
		else
			unsetenv("USERPROFILE");
		auto cat = empty_catalogue();
		memset(cat.get(), 0x5A, sizeof(*cat));  // the build empties it first
		build_catalogue(cat.get(), nullptr);
		std::string where = std::string(row.local ? row.local : "-") + " " + (row.profile ? row.profile : "-");
		EXPECT_EQ(cat->count, row.count) << where;
		EXPECT_EQ(cat->truncated, row.truncated) << where;
		EXPECT_EQ(cat->journal_available, 0);
		EXPECT_STREQ(cat->sources[0].id, "event:System");
		EXPECT_STREQ(cat->sources[0].label, "Windows System log");
		EXPECT_STREQ(cat->sources[0].kind, "event");
		EXPECT_STREQ(cat->sources[1].id, "event:Application");
		EXPECT_STREQ(cat->sources[1].label, "Windows Application log");
		EXPECT_STREQ(cat->sources[1].kind, "event");
		EXPECT_EQ(cat->sources[1].size, 0);
		// It writes its own rows and nothing after them.
		if (cat->count < CATALOGUE_ROWS)
			EXPECT_EQ(cat->sources[cat->count].id[0], 0x5A) << where;
	}
	unsetenv("LOCALAPPDATA");
	unsetenv("USERPROFILE");
}

// A tail or search needs one row: the build stops once that row is added, at any level of
// the walk, and the rows before it are those of the full build.
TEST(BuildCatalogue, StopsOnceTheWantedRowIsAdded)
{
	TempTree tree;
	const char *files[] = {"a.log", "one/b.log", "one/two/c.log", "one/two/d.log", "three/e.log", "f.log"};
	for (const char *f : files)
		tree.file(std::string("wendquil/") + f);
	tree.file("wendquil/one/skip.txt");
	setenv("LOCALAPPDATA", tree.root().c_str(), 1);
	unsetenv("USERPROFILE");
	auto full = empty_catalogue();
	build_catalogue(full.get(), nullptr);
	ASSERT_EQ(full->count, 2 + 6);
	for (int32_t i = 0; i < full->count; i++) {
		const char *want = full->sources[i].id;
		auto cat = empty_catalogue();
		build_catalogue(cat.get(), want);
		// Both event rows come first whatever is wanted.
		EXPECT_EQ(cat->count, i < 2 ? 2 : i + 1) << want;
		EXPECT_EQ(cat->truncated, 0) << want;
		ASSERT_NE(lookup_source(cat.get(), want), nullptr) << want;
		for (int32_t k = 0; k < cat->count; k++)
			EXPECT_STREQ(cat->sources[k].id, full->sources[k].id) << want;
	}
	// An id the walk never meets leaves the full table.
	auto cat = empty_catalogue();
	build_catalogue(cat.get(), "file:/nowhere/x.log");
	EXPECT_EQ(ids_of(cat.get()), ids_of(full.get()));
	unsetenv("LOCALAPPDATA");
}

}  // namespace
