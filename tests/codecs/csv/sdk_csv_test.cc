// CSV tables: the reader and writer rules (at every offset of the reader's
// 64-byte scan, from memory, files and pipes), table operations with missing
// positions, edits of loaded tables, and round trips with Python's csv module.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codecs/csv/csv_internal.h"
#include "sdk_csv.h"
#include "support/python_peer.h"
#include "support/test_support.h"

namespace {

using qbtest::mut;
using Table = std::vector<std::vector<std::string>>;

Table table_of(CSV_BUFFER* b) {
    Table t(b->rows);
    for (size_t r = 0; r < b->rows; ++r)
        for (size_t i = 0; i < b->width[r]; ++i) t[r].emplace_back(b->field[r][i]->text, b->field[r][i]->length - 1);
    return t;
}

// Every byte scanner must cut the same fields; the processor may lack the widest.
constexpr qb::CsvScan kScans[] = {qb::CsvScan::kPortable, qb::CsvScan::kSse2, qb::CsvScan::kAvx2};

struct ScanLevel {
    qb::CsvScan used;
    explicit ScanLevel(qb::CsvScan s) : used(qb::csv_use_scan(s)) {}
    ~ScanLevel() { qb::csv_use_scan(qb::csv_scan_best()); }
};

struct Csv {
    CSV_BUFFER* b = csv_create_buffer();
    explicit Csv(const Table& t = {}, char field = ',', char text = '"') {
        csv_set_field_delim(b, field);
        csv_set_text_delim(b, text);
        for (size_t r = 0; r < t.size(); ++r)
            for (size_t i = 0; i < t[r].size(); ++i) EXPECT_EQ(csv_set_field(b, r, i, mut(t[r][i].c_str())), 0);
    }
    ~Csv() { csv_destroy_buffer(b); }
    Table load(const std::string& path) {
        EXPECT_EQ(csv_load(b, mut(path.c_str())), 0) << path;
        return table_of(b);
    }
};

TEST(CsvRead, QuotingRulesAtEveryScanOffsetFromMemoryFilesAndPipes) {
    const struct { const char* name; std::string text; Table want; } cases[] = {
        {"quoted delimiter and doubled quote", "a,\"b,c\"\n\"x\"\"y\",z\n", {{"a", "b,c"}, {"x\"y", "z"}}},
        {"trailing delimiter", "a,b,\n", {{"a", "b", ""}}}, {"empty file", "", {{""}}},
        {"blank lines", "a\n\nb\n\n", {{"a"}, {""}, {"b"}, {""}}},
        {"CR kept", "a,b\r\nc\r\n", {{"a", "b\r"}, {"c\r"}}}, {"text around quotes dropped", "ab\"cd\"ef", {{"cd"}}},
        {"line feed and delimiter quoted", "\"l1\nl2,x\",y", {{"l1\nl2,x", "y"}}},
        {"unterminated quote", "a,\"open,\nstill", {{"a", "open,\nstill"}}},
        {"empty quoted", "\"\",\"\"\"\"", {{"", "\""}}}, {"text after closing quote", "\"ab\"x\"cd\",z", {{"ab", "z"}}},
        {"0xFF is data", "\xff,a\xff\n\xff\xff", {{"\xff", "a\xff"}, {"\xff\xff"}}},
        {"NUL kept", std::string("a\0b,c", 5), {{std::string("a\0b", 3), "c"}}},
    };
    qbtest::TempDir dir;
    for (const auto& c : cases) {
        // A first line of `shift` bytes moves the case across a scan block (an empty case would read as no row).
        for (size_t shift = 0; shift <= (c.text.empty() ? 0 : 64); ++shift) {
            const std::string text = shift ? std::string(shift - 1, 'p') + "\n" + c.text : c.text;
            for (qb::CsvScan scan : kScans) {
                ScanLevel level(scan);
                Csv mem;
                EXPECT_EQ(qb::csv_load_memory(mem.b, text.data(), text.size()), 0);
                const Table t = table_of(mem.b);
                EXPECT_EQ(Table(t.begin() + (shift ? 1 : 0), t.end()), c.want)
                    << c.name << " shifted by " << shift << ", scanner " << static_cast<int>(level.used);
            }
        }
        qbtest::write_file(dir.file("b.csv"), c.text);
        EXPECT_EQ(Csv().load(dir.file("b.csv")), c.want) << c.name;
    }
    // A pipe has no size: the reader grows its block as data arrives.
    std::string big;
    size_t rows = 0;
    for (; big.size() < (size_t{3} << 20); ++rows) big += std::to_string(rows) + ",\"q,\"\"" + std::to_string(rows) + "\"\n";
    qbtest::write_file(dir.file("big.csv"), big);
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    std::jthread writer([&] {
        const int fd = open(dir.file("pipe").c_str(), O_WRONLY);
        for (size_t at = 0; fd >= 0 && at < big.size();) {
            const ssize_t n = write(fd, big.data() + at, big.size() - at);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        if (fd >= 0) close(fd);
    });
    const Table piped = Csv().load(dir.file("pipe"));
    writer.join();
    const Table whole = Csv().load(dir.file("big.csv"));
    ASSERT_EQ(whole.size(), rows);
    EXPECT_EQ(whole[rows - 1], (Table::value_type{std::to_string(rows - 1), "q,\"" + std::to_string(rows - 1)}));
    EXPECT_TRUE(piped == whole);
}

// Some MiB of awkward fields, so the reader sizes its storage from a sample
// of the first MiB and fills it on two threads: a start of narrow fields
// overstates the table, a start of long ones understates it, and a second
// load appends to the first.
TEST(CsvRead, LargeTablesWhoseStartMisleadsTheSizing) {
    std::mt19937 rng(7);
    auto part = [&](Table& t, std::string& text, size_t bytes, size_t width, size_t longest) {
        static const char kBytes[] = {'a', 'b', ' ', ',', '"', '\n', '\r', '\xff'};
        for (const size_t end = text.size() + bytes; text.size() < end;) {
            auto& row = t.emplace_back(1 + rng() % width);
            for (size_t i = 0; i < row.size(); ++i) {
                for (size_t n = rng() % (longest + 1); n > 0; --n) row[i] += kBytes[rng() % 8];
                const bool quote = row[i].find_first_of(",\"\n") != std::string::npos;
                if (i) text += ',';
                if (quote) text += '"';
                for (char c : row[i]) text.append(c == '"' ? 2 : 1, c);
                if (quote) text += '"';
            }
            text += '\n';
        }
    };
    Table narrow_first, long_first;
    std::string narrow_text, long_text;
    part(narrow_first, narrow_text, size_t{3} << 19, 40, 1);
    part(narrow_first, narrow_text, size_t{3} << 19, 3, 300);
    part(long_first, long_text, size_t{3} << 19, 2, 400);
    part(long_first, long_text, size_t{3} << 19, 40, 2);
    qbtest::TempDir dir;
    qbtest::write_file(dir.file("narrow.csv"), narrow_text);
    qbtest::write_file(dir.file("long.csv"), long_text);
    Csv csv;
    EXPECT_TRUE(csv.load(dir.file("narrow.csv")) == narrow_first);
    const Table both = csv.load(dir.file("long.csv"));
    EXPECT_TRUE(both.size() == narrow_first.size() + long_first.size() &&
                std::equal(long_first.begin(), long_first.end(), both.begin() + narrow_first.size()));
}

// Loaded fields and rows live in the table's bulk storage; every edit must
// work on them as on fields made by edits, and the table must free both.
TEST(CsvTable, EditsOfALoadedTable) {
    Csv csv;
    const std::string text = "a,b,c\nd\n\"e,\",f\ng,h";
    ASSERT_EQ(qb::csv_load_memory(csv.b, text.data(), text.size()), 0);
    EXPECT_EQ(csv_insert_field(csv.b, 0, 0, mut("i0")), 0);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(csv_insert_field(csv.b, 1, 1, mut("w")), 0);  // grows the row many times
    EXPECT_EQ(csv_set_field(csv.b, 2, 4, mut("s")), 0);
    EXPECT_EQ(csv_remove_field(csv.b, 0, 2) + csv_clear_field(csv.b, 3, 1) + csv_copy_field(csv.b, 3, 0, csv.b, 2, 0), 0);
    EXPECT_EQ(csv_copy_row(csv.b, 4, csv.b, 0), 0);
    EXPECT_EQ(table_of(csv.b), (Table{{"i0", "a", "c"}, {"d", "w", "w", "w", "w", "w", "w", "w", "w", "w", "w", "w", "w", "w",
                                      "w", "w", "w", "w", "w", "w", "w"}, {"e,", "f", "", "", "s"}, {"e,"}, {"i0", "a", "c"}}));
    qbtest::TempDir dir;
    ASSERT_EQ(csv_save(mut(dir.file("e.csv").c_str()), csv.b), 0);
    EXPECT_EQ(qbtest::read_file(dir.file("e.csv")).substr(0, 14), "i0,a,c\nd,w,w,w");
    EXPECT_EQ(csv_remove_all_row(csv.b), 0);  // empties the bulk storage; the table is usable again
    EXPECT_EQ(csv_load(csv.b, mut(dir.file("e.csv").c_str())), 0);
    EXPECT_EQ(csv_get_height(csv.b), 5);
    EXPECT_STREQ(csv_get_field_ptr(csv.b, 2, 0), "e,");
}

TEST(CsvWrite, QuotesOnlyWhatNeedsItAndEndsWithoutLineFeed) {
    qbtest::TempDir dir;
    Csv csv(Table{{"a", "b,c"}, {"x\"y", "z"}, {"multi\nline", "", "plain text"}});
    ASSERT_EQ(csv_save(mut(dir.file("o.csv").c_str()), csv.b), 0);
    EXPECT_EQ(qbtest::read_file(dir.file("o.csv")), "a,\"b,c\"\n\"x\"\"y\",z\n\"multi\nline\",,plain text");
    csv_set_field_delim(csv.b, ';');
    csv_set_text_delim(csv.b, '\'');
    ASSERT_EQ(csv_save(mut(dir.file("s.csv").c_str()), csv.b), 0);
    EXPECT_EQ(qbtest::read_file(dir.file("s.csv")), "a;b,c\nx\"y;z\n'multi\nline';;plain text");
    EXPECT_EQ(csv_save(mut(dir.file("no/such.csv").c_str()), csv.b), 1);
    EXPECT_EQ(csv_save(mut("/dev/full"), csv.b), 1);  // a write error is reported
    EXPECT_EQ(csv_load(csv.b, mut(dir.file("missing.csv").c_str())), 1);
}

TEST(CsvTable, OperationsKeepEveryRowAtLeastOneFieldAndIgnoreMissingPositions) {
    Csv csv;
    ASSERT_EQ(csv_set_field(csv.b, 2, 3, mut("v")), 0);
    EXPECT_EQ(table_of(csv.b), (Table{{""}, {""}, {"", "", "", "v"}}));
    ASSERT_EQ(csv_insert_field(csv.b, 2, 1, mut("i")), 0);
    ASSERT_EQ(csv_insert_field(csv.b, 0, 2, mut("far")), 0);  // beyond the row: as csv_set_field
    ASSERT_EQ(csv_insert_field(csv.b, 3, 0, mut("new")), 0);  // a missing row is appended
    EXPECT_EQ(table_of(csv.b), (Table{{"", "", "far"}, {""}, {"", "i", "", "", "v"}, {"new"}}));
    // Removing the only field empties it; clearing the last field of a row drops it, any other is emptied.
    for (auto [row, entry] : {std::array{2, 2}, {3, 0}, {9, 0}}) EXPECT_EQ(csv_remove_field(csv.b, row, entry), 0);
    for (auto [row, entry] : {std::array{2, 3}, {2, 1}, {0, 2}, {2, 7}}) EXPECT_EQ(csv_clear_field(csv.b, row, entry), 0);
    EXPECT_EQ(table_of(csv.b), (Table{{"", ""}, {""}, {"", "", ""}, {""}}));

    Csv rows(Table{{"r0", "a"}, {"r1", "b"}, {"r2", "c"}, {"r3"}});
    EXPECT_EQ(csv_remove_row(rows.b, 0) + csv_remove_row(rows.b, 7), 0);
    EXPECT_EQ(table_of(rows.b), (Table{{"r1", "b"}, {"r2", "c"}, {"r3"}}));
    EXPECT_EQ(csv_clear_row(rows.b, 0), 0);  // not the last: one empty field
    EXPECT_EQ(csv_clear_row(rows.b, 2), 0);  // the last: removed
    EXPECT_EQ(csv_clear_row(rows.b, 2), 0);  // missing: nothing happens
    EXPECT_EQ(table_of(rows.b), (Table{{""}, {"r2", "c"}}));
    EXPECT_EQ(csv_find_row_by_field(rows.b, 1, mut("c")), 1);
    for (int field : {5, -1}) EXPECT_EQ(csv_find_row_by_field(rows.b, field, mut("c")), -1);
    EXPECT_EQ(csv_find_row_by_field(rows.b, 1, mut("cc")), -1);
    EXPECT_EQ(csv_remove_all_row(rows.b), 0);
    EXPECT_EQ(csv_get_height(rows.b), 0);

    Csv get(Table{{"hello", "hi"}});
    char dest[8];
    EXPECT_EQ(csv_get_field(dest, 3, get.b, 0, 0), 1);
    EXPECT_STREQ(dest, "hel");
    EXPECT_EQ(csv_get_field(dest, 5, get.b, 0, 0), 0);
    EXPECT_STREQ(dest, "hello");
    EXPECT_EQ(csv_get_field(dest, 7, get.b, 0, 2), 2);  // missing: dest empty
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(csv_get_field(dest, 7, get.b, 5, 0) + csv_get_field(dest, 0, get.b, 0, 0), 2 + 3);
    EXPECT_EQ(csv_get_field_length(get.b, 0, 0) + csv_get_field_length(get.b, 0, 9), 5);
    EXPECT_EQ(csv_get_field_ptr(get.b, 1, 0), nullptr);
}

TEST(CsvTable, CopiesRefuseMissingAndNegativePositions) {
    Csv src(Table{{"a", "b", "c"}, {"d"}}, ';'), dst(Table{{"x", "y"}});
    EXPECT_EQ(csv_copy_field(dst.b, 0, 1, src.b, 0, 2), 0);
    for (auto [dr, de, sr, se] : {std::array{0, 5, 0, 0}, {3, 0, 0, 0}, {0, 0, 0, 9}, {0, 0, 4, 0}, {-1, 0, 0, 0},
                                  {0, -1, 0, 0}, {0, 0, -1, 0}, {0, 0, 0, -2}})
        EXPECT_EQ(csv_copy_field(dst.b, dr, de, src.b, sr, se), 1) << dr << de << sr << se;
    EXPECT_EQ(table_of(dst.b), (Table{{"x", "c"}}));
    EXPECT_EQ(csv_copy_row(dst.b, 2, src.b, 0), 0);  // rows appended up to the target
    EXPECT_EQ(table_of(dst.b), (Table{{"x", "c"}, {""}, {"a", "b", "c"}}));
    EXPECT_EQ(csv_copy_row(dst.b, 0, dst.b, 0), 0);  // onto itself
    EXPECT_EQ(csv_copy_row(dst.b, 0, src.b, 1), 0);  // narrower source: same width afterwards
    EXPECT_EQ(csv_copy_row(dst.b, -1, src.b, 0), 1);
    EXPECT_EQ(csv_copy_row(dst.b, 1, src.b, -3), 0);  // missing source: the target is cleared
    EXPECT_EQ(csv_copy_row(dst.b, 2, src.b, 9), 0);   // ... and as the last row, removed
    EXPECT_EQ(table_of(dst.b), (Table{{"d"}, {""}}));
    CSV_BUFFER* dup = csv_dup_buffer(src.b);
    ASSERT_NE(dup, nullptr);
    EXPECT_TRUE(table_of(dup) == table_of(src.b) && dup->field_delim == ',');  // the delimiters are not copied
    csv_destroy_buffer(dup);
}

TEST(CsvTable, LockSerialisesThreads) {
    Csv csv(Table{{"0"}});
    auto bump = [&] {
        for (int i = 0; i < 2000; ++i) {
            csv_lock(csv.b);
            csv_set_field(csv.b, 0, 0, mut(std::to_string(std::stoi(csv_get_field_ptr(csv.b, 0, 0)) + 1).c_str()));
            csv_unlock(csv.b);
        }
    };
    { std::jthread a(bump), b(bump); }
    EXPECT_STREQ(csv_get_field_ptr(csv.b, 0, 0), "4000");
}

// Python makes a random table of awkward bytes, larger than a read block, writes it with its csv module
// ("theirs") and as hex fields; then ("ours") it reads back what we wrote.
const char* kCsvPeer = R"PY(
import csv, os, random, sys
work, step = sys.argv[1], sys.argv[2]
rng = random.Random(5)
table = [[''.join(rng.choices('abc ,;"\'\n\xff\x80', k=rng.randrange(12))) for _ in range(rng.randint(1, 6))]
         for _ in range(20000)] + [['end']]  # a last row of one empty field cannot survive our writer
if step == 'theirs':
    open(os.path.join(work, 'hex.csv'), 'w').writelines(','.join(v.encode('latin-1').hex() for v in row) + '\n' for row in table)
for name, delim, quote in (('comma', ',', '"'), ('semi', ';', "'")):
    with open(os.path.join(work, '%s_%s.csv' % (step, name)), 'w' if step == 'theirs' else 'r', newline='', encoding='latin-1') as f:
        if step == 'theirs':
            csv.writer(f, delimiter=delim, quotechar=quote, lineterminator='\n').writerows(table)
        elif [row or [''] for row in csv.reader(f, delimiter=delim, quotechar=quote)] != table:
            sys.exit(name + ': Python reads our file as a different table')
)PY";

TEST(CsvPeer, PythonCsvModuleAndWeReadEachOthersFiles) {
    qbtest::TempDir dir;
    std::string output;
    ASSERT_EQ(qbtest::run_python(kCsvPeer, {dir.path(), "theirs"}, &output), 0) << output;
    Table want = Csv().load(dir.file("hex.csv"));  // plain hex digits: nothing to quote
    for (auto& row : want)
        for (auto& f : row) {
            for (size_t i = 0; i < f.size() / 2; ++i) f[i] = static_cast<char>(std::stoi(f.substr(2 * i, 2), nullptr, 16));
            f.resize(f.size() / 2);
        }
    for (auto [name, field, text] : {std::array<char, 3>{'c', ',', '"'}, {'s', ';', '\''}}) {
        const std::string theirs = dir.file(name == 'c' ? "theirs_comma.csv" : "theirs_semi.csv");
        Csv csv(Table{}, field, text);
        EXPECT_TRUE(csv.load(theirs) == want) << theirs;
        ASSERT_EQ(csv_save(mut(dir.file(name == 'c' ? "ours_comma.csv" : "ours_semi.csv").c_str()), csv.b), 0);
    }
    ASSERT_EQ(qbtest::run_python(kCsvPeer, {dir.path(), "ours"}, &output), 0) << output;
}

}  // namespace
