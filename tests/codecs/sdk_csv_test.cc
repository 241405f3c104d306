// CSV tables: the reader and writer rules, table operations with missing
// positions, the buffered reader against a character-by-character model, and
// round trips with Python's csv module.
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codecs/csv_internal.h"
#include "sdk_csv.h"
#include "support/python_peer.h"
#include "support/test_support.h"

namespace {

using qbtest::mut;
using qbtest::read_file;
using qbtest::write_file;
using Table = std::vector<std::vector<std::string>>;

Table table_of(CSV_BUFFER* b) {
    Table t(b->rows);
    for (size_t r = 0; r < b->rows; ++r)
        for (size_t i = 0; i < b->width[r]; ++i)
            t[r].emplace_back(b->field[r][i]->text, b->field[r][i]->length - 1);
    return t;
}

struct Csv {
    CSV_BUFFER* b = csv_create_buffer();
    ~Csv() { csv_destroy_buffer(b); }
    Table load_text(const std::string& text) {
        EXPECT_EQ(qb::csv_load_memory(b, text.data(), text.size()), 0);
        return table_of(b);
    }
    void fill(const Table& t) {
        for (size_t r = 0; r < t.size(); ++r)
            for (size_t i = 0; i < t[r].size(); ++i) ASSERT_EQ(csv_set_field(b, r, i, mut(t[r][i].c_str())), 0);
    }
};

// The reading rules, one character at a time, as a model for the buffered reader.
Table model_read(const std::string& in, char F, char T) {
    Table t(1, std::vector<std::string>());
    size_t pos = 0;
    auto get = [&]() -> int { return pos < in.size() ? static_cast<unsigned char>(in[pos++]) : -1; };
    const int f = static_cast<unsigned char>(F), q = static_cast<unsigned char>(T);
    for (;;) {
        std::string text;
        bool quoted = false, after_quote = false;
        int c;
        for (;;) {
            c = get();
            if (c == -1) break;
            if (!quoted) {
                if (c == q) {
                    quoted = true;
                    text.clear();
                } else if (c == f || c == '\n') {
                    break;
                } else {
                    text += static_cast<char>(c);
                }
            } else if (after_quote) {
                if (c == q) {
                    text += T;
                    after_quote = false;
                } else {
                    break;
                }
            } else if (c == q) {
                after_quote = true;
            } else {
                text += static_cast<char>(c);
            }
        }
        t.back().push_back(text);
        while (c != -1 && c != f && c != '\n') c = get();
        if (c == f) continue;
        if (c == '\n' && pos < in.size()) {
            t.emplace_back();
            continue;
        }
        return t;
    }
}

TEST(CsvRead, WorkedExamplesAndQuotingRules) {
    const struct {
        const char* name;
        std::string text;
        Table want;
    } cases[] = {
        {"quoted delimiter and doubled quote", "a,\"b,c\"\n\"x\"\"y\",z\n", {{"a", "b,c"}, {"x\"y", "z"}}},
        {"text around quotes dropped", "ab\"cd\"ef", {{"cd"}}},
        {"trailing delimiter", "a,b,\n", {{"a", "b", ""}}},
        {"empty file", "", {{""}}},
        {"blank line inside", "a\n\nb", {{"a"}, {""}, {"b"}}},
        {"final blank line kept once", "a\n\n", {{"a"}, {""}}},
        {"CR kept", "a,b\r\nc\r\n", {{"a", "b\r"}, {"c\r"}}},
        {"line feed and delimiter quoted", "\"l1\nl2,x\",y", {{"l1\nl2,x", "y"}}},
        {"unterminated quote", "a,\"open,\nstill", {{"a", "open,\nstill"}}},
        {"empty quoted", "\"\",\"\"\"\"", {{"", "\""}}},
        {"text after closing quote", "\"ab\"x\"cd\",z", {{"ab", "z"}}},
        {"0xFF is data", "\xff,a\xff\n\xff\xff", {{"\xff", "a\xff"}, {"\xff\xff"}}},
        {"NUL kept", std::string("a\0b,c", 5), {{std::string("a\0b", 3), "c"}}},
    };
    for (const auto& c : cases) {
        Csv csv;
        EXPECT_EQ(csv.load_text(c.text), c.want) << c.name;
        EXPECT_EQ(model_read(c.text, ',', '"'), c.want) << c.name << " (model)";
    }
}

TEST(CsvRead, BufferedFileReaderMatchesTheModel) {
    // Random text over the interesting bytes, long enough to cross the reader's block boundaries.
    qbtest::TempDir dir;
    const char alphabet[] = {'a', 'b', ',', ';', '"', '\'', '\n', '\r', '\xff', ' '};
    std::mt19937 rng(42);
    for (int round = 0; round < 3; ++round) {
        std::string text(round == 0 ? 700000 : 3000 + rng() % 5000, 'a');
        for (auto& ch : text) ch = rng() % 4 ? 'a' + rng() % 3 : alphabet[rng() % sizeof alphabet];
        const char F = round == 2 ? ';' : ',', T = round == 2 ? '\'' : '"';
        write_file(dir.file("r.csv"), text);
        Csv csv;
        csv_set_field_delim(csv.b, F);
        csv_set_text_delim(csv.b, T);
        ASSERT_EQ(csv_load(csv.b, mut(dir.file("r.csv").c_str())), 0);
        Table want = model_read(text, F, T);
        EXPECT_TRUE(table_of(csv.b) == want) << "round " << round;
        // What is written reads back the same (a last row of one empty field cannot survive).
        ASSERT_EQ(csv_save(mut(dir.file("w.csv").c_str()), csv.b), 0);
        Csv back;
        csv_set_field_delim(back.b, F);
        csv_set_text_delim(back.b, T);
        ASSERT_EQ(csv_load(back.b, mut(dir.file("w.csv").c_str())), 0);
        if (want.size() > 1 && want.back() == std::vector<std::string>{""}) want.pop_back();
        EXPECT_TRUE(table_of(back.b) == want) << "round " << round;
    }
}

TEST(CsvWrite, QuotesOnlyWhatNeedsItAndEndsWithoutLineFeed) {
    qbtest::TempDir dir;
    Csv csv;
    csv.fill({{"a", "b,c"}, {"x\"y", "z"}, {"multi\nline", "", "plain text"}});
    ASSERT_EQ(csv_save(mut(dir.file("o.csv").c_str()), csv.b), 0);
    EXPECT_EQ(read_file(dir.file("o.csv")), "a,\"b,c\"\n\"x\"\"y\",z\n\"multi\nline\",,plain text");
    // Round trip, and the settable delimiters.
    Csv back;
    ASSERT_EQ(csv_load(back.b, mut(dir.file("o.csv").c_str())), 0);
    EXPECT_EQ(table_of(back.b), table_of(csv.b));
    csv_set_field_delim(csv.b, ';');
    csv_set_text_delim(csv.b, '\'');
    ASSERT_EQ(csv_save(mut(dir.file("s.csv").c_str()), csv.b), 0);
    EXPECT_EQ(read_file(dir.file("s.csv")), "a;b,c\nx\"y;z\n'multi\nline';;plain text");
    // Errors: a missing folder, and a device that refuses writes.
    EXPECT_EQ(csv_save(mut(dir.file("no/such.csv").c_str()), csv.b), 1);
    EXPECT_EQ(csv_save(mut("/dev/full"), csv.b), 1);
    EXPECT_EQ(csv_load(back.b, mut(dir.file("missing.csv").c_str())), 1);
}

TEST(CsvTable, GetFieldCopiesBoundedText) {
    Csv csv;
    csv.fill({{"hello", "hi"}});
    char dest[8];
    EXPECT_EQ(csv_get_field(dest, 3, csv.b, 0, 0), 1);
    EXPECT_STREQ(dest, "hel");
    EXPECT_EQ(csv_get_field(dest, 5, csv.b, 0, 0), 0);
    EXPECT_STREQ(dest, "hello");
    EXPECT_EQ(csv_get_field(dest, 7, csv.b, 0, 1), 0);
    EXPECT_STREQ(dest, "hi");
    EXPECT_EQ(csv_get_field(dest, 7, csv.b, 0, 2), 2);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(csv_get_field(dest, 7, csv.b, 5, 0), 2);
    EXPECT_EQ(csv_get_field(dest, 0, csv.b, 0, 0), 3);
    EXPECT_EQ(csv_get_field_length(csv.b, 0, 0), 5);
    EXPECT_EQ(csv_get_field_length(csv.b, 0, 9), 0);
    EXPECT_STREQ(csv_get_field_ptr(csv.b, 0, 1), "hi");
    EXPECT_EQ(csv_get_field_ptr(csv.b, 1, 0), nullptr);
    EXPECT_EQ(csv_get_width(csv.b, 0), 2);
    EXPECT_EQ(csv_get_width(csv.b, 1), 0);
}

TEST(CsvTable, SetInsertAndRemoveKeepEveryRowAtLeastOneField) {
    Csv csv;
    ASSERT_EQ(csv_set_field(csv.b, 2, 3, mut("v")), 0);
    EXPECT_EQ(table_of(csv.b), (Table{{""}, {""}, {"", "", "", "v"}}));
    ASSERT_EQ(csv_insert_field(csv.b, 2, 1, mut("i")), 0);
    EXPECT_EQ(table_of(csv.b)[2], (std::vector<std::string>{"", "i", "", "", "v"}));
    ASSERT_EQ(csv_insert_field(csv.b, 0, 3, mut("far")), 0);  // beyond the row: as csv_set_field
    EXPECT_EQ(table_of(csv.b)[0], (std::vector<std::string>{"", "", "", "far"}));
    ASSERT_EQ(csv_insert_field(csv.b, 4, 0, mut("new")), 0);  // a missing row is appended
    EXPECT_EQ(csv_get_height(csv.b), 5);

    EXPECT_EQ(csv_remove_field(csv.b, 2, 1), 0);
    EXPECT_EQ(table_of(csv.b)[2], (std::vector<std::string>{"", "", "", "v"}));
    EXPECT_EQ(csv_remove_field(csv.b, 4, 0), 0);  // the only field becomes empty
    EXPECT_EQ(table_of(csv.b)[4], (std::vector<std::string>{""}));
    EXPECT_EQ(csv_remove_field(csv.b, 9, 0), 0);

    EXPECT_EQ(csv_clear_field(csv.b, 2, 3), 0);  // the last field of a wide row goes
    EXPECT_EQ(csv_get_width(csv.b, 2), 3);
    ASSERT_EQ(csv_set_field(csv.b, 2, 0, mut("x")), 0);
    EXPECT_EQ(csv_clear_field(csv.b, 2, 0), 0);  // any other is emptied
    EXPECT_EQ(table_of(csv.b)[2], (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(csv_clear_field(csv.b, 2, 7), 0);
}

TEST(CsvTable, RowOperationsAndMissingRows) {
    Csv csv;
    csv.fill({{"r0", "a"}, {"r1", "b"}, {"r2", "c"}});
    EXPECT_EQ(csv_remove_row(csv.b, 0), 0);
    EXPECT_EQ(table_of(csv.b), (Table{{"r1", "b"}, {"r2", "c"}}));
    EXPECT_EQ(csv_remove_row(csv.b, 7), 0);
    csv.fill({{"r1", "b"}, {"r2", "c"}, {"r3"}});
    EXPECT_EQ(csv_clear_row(csv.b, 0), 0);  // not the last: one empty field
    EXPECT_EQ(csv_get_height(csv.b), 3);
    EXPECT_EQ(csv_get_width(csv.b, 0), 1);
    EXPECT_EQ(csv_clear_row(csv.b, 2), 0);  // the last: removed
    EXPECT_EQ(csv_get_height(csv.b), 2);
    EXPECT_EQ(csv_clear_row(csv.b, 2), 0);  // missing: nothing happens
    EXPECT_EQ(table_of(csv.b), (Table{{""}, {"r2", "c"}}));

    EXPECT_EQ(csv_find_row_by_field(csv.b, 1, mut("c")), 1);
    EXPECT_EQ(csv_find_row_by_field(csv.b, 0, mut("")), 0);
    EXPECT_EQ(csv_find_row_by_field(csv.b, 5, mut("c")), -1);
    EXPECT_EQ(csv_find_row_by_field(csv.b, -1, mut("c")), -1);
    EXPECT_EQ(csv_find_row_by_field(csv.b, 1, mut("cc")), -1);

    EXPECT_EQ(csv_remove_all_row(csv.b), 0);
    EXPECT_EQ(csv_get_height(csv.b), 0);
    csv.fill({{"again"}});
    EXPECT_EQ(table_of(csv.b), (Table{{"again"}}));
}

TEST(CsvTable, CopiesRefuseMissingAndNegativePositions) {
    Csv src, dst;
    src.fill({{"a", "b", "c"}, {"d"}});
    dst.fill({{"x", "y"}});
    EXPECT_EQ(csv_copy_field(dst.b, 0, 1, src.b, 0, 2), 0);
    EXPECT_EQ(table_of(dst.b), (Table{{"x", "c"}}));
    for (auto [dr, de, sr, se] : {std::array{0, 5, 0, 0}, {3, 0, 0, 0}, {0, 0, 0, 9}, {0, 0, 4, 0}, {-1, 0, 0, 0},
                                  {0, -1, 0, 0}, {0, 0, -1, 0}, {0, 0, 0, -2}})
        EXPECT_EQ(csv_copy_field(dst.b, dr, de, src.b, sr, se), 1) << dr << de << sr << se;
    EXPECT_EQ(table_of(dst.b), (Table{{"x", "c"}}));

    EXPECT_EQ(csv_copy_row(dst.b, 2, src.b, 0), 0);  // rows appended up to the target
    EXPECT_EQ(table_of(dst.b), (Table{{"x", "c"}, {""}, {"a", "b", "c"}}));
    EXPECT_EQ(csv_copy_row(dst.b, 0, dst.b, 0), 0);  // onto itself
    EXPECT_EQ(table_of(dst.b)[0], (std::vector<std::string>{"x", "c"}));
    EXPECT_EQ(csv_copy_row(dst.b, 0, src.b, 1), 0);  // narrower source: same width afterwards
    EXPECT_EQ(table_of(dst.b)[0], (std::vector<std::string>{"d"}));
    EXPECT_EQ(csv_copy_row(dst.b, -1, src.b, 0), 1);
    EXPECT_EQ(csv_copy_row(dst.b, 1, src.b, -3), 0);  // missing source: the target is cleared
    EXPECT_EQ(csv_copy_row(dst.b, 2, src.b, 9), 0);   // ... and as the last row, removed
    EXPECT_EQ(table_of(dst.b), (Table{{"d"}, {""}}));

    csv_set_field_delim(src.b, ';');
    CSV_BUFFER* dup = csv_dup_buffer(src.b);
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(table_of(dup), table_of(src.b));
    EXPECT_EQ(dup->field_delim, ',');
    csv_destroy_buffer(dup);
}

TEST(CsvTable, LockSerialisesThreads) {
    Csv csv;
    ASSERT_EQ(csv_set_field(csv.b, 0, 0, mut("0")), 0);
    auto bump = [&] {
        for (int i = 0; i < 2000; ++i) {
            csv_lock(csv.b);
            const int v = std::stoi(csv_get_field_ptr(csv.b, 0, 0));
            csv_set_field(csv.b, 0, 0, mut(std::to_string(v + 1).c_str()));
            csv_unlock(csv.b);
        }
    };
    std::thread a(bump), b(bump);
    a.join();
    b.join();
    EXPECT_STREQ(csv_get_field_ptr(csv.b, 0, 0), "4000");
}

// Tables exchanged as lines of fields, each "x" + hex of its bytes.
std::string encode(const Table& t) {
    std::string s;
    static const char* hex = "0123456789abcdef";
    for (const auto& row : t) {
        for (size_t i = 0; i < row.size(); ++i) {
            s += i ? " x" : "x";
            for (unsigned char c : row[i]) (s += hex[c >> 4]) += hex[c & 15];
        }
        s += '\n';
    }
    return s;
}

Table decode(const std::string& text) {
    Table t;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        t.emplace_back();
        for (std::string f; fields >> f;) {
            std::string bytes;
            for (size_t i = 1; i + 1 < f.size(); i += 2) bytes += static_cast<char>(std::stoi(f.substr(i, 2), nullptr, 16));
            t.back().push_back(bytes);
        }
    }
    return t;
}

const char* kCsvPeer = R"PY(
import csv, os, sys
work = sys.argv[1]
fails = []
def decode(path):
    return [[bytes.fromhex(f[1:]).decode('latin-1') for f in line.split()] for line in open(path) if line.strip()]
def encode(rows):
    return ''.join(' '.join('x' + f.encode('latin-1').hex() for f in row) + '\n' for row in rows)
dialects = {'comma': (',', '"'), 'semi': (';', "'")}
for name, (delim, quote) in dialects.items():
    with open(os.path.join(work, 'ours_%s.csv' % name), newline='', encoding='latin-1') as f:
        rows = [row or [''] for row in csv.reader(f, delimiter=delim, quotechar=quote)]
    want = decode(os.path.join(work, 'ours_%s.txt' % name))
    if rows != want:
        fails.append('%s: python read %r, expected %r' % (name, rows, want))
theirs = [['plain', 'with,comma', 'with "quotes"', ''], ['multi\nline', 'cr\r\ninside', "it's"],
          [''], ['\xff\xfe', ' lead', 'trail ', ';semi'], ['last']]
for name, (delim, quote) in dialects.items():
    with open(os.path.join(work, 'theirs_%s.csv' % name), 'w', newline='', encoding='latin-1') as f:
        csv.writer(f, delimiter=delim, quotechar=quote, lineterminator='\n').writerows(theirs)
open(os.path.join(work, 'theirs.txt'), 'w').write(encode(theirs))
for f in fails: print('FAIL', f)
sys.exit(1 if fails else 0)
)PY";

TEST(CsvPeer, PythonCsvModuleReadsOursAndWeReadItsFiles) {
    qbtest::TempDir dir;
    // Everything but bare carriage returns (kept as data here, line ends for Python).
    const Table ours = {{"id", "name", "note"},
                        {"1", "a,b", "say \"hi\""},
                        {"2", "multi\nline", ""},
                        {""},
                        {"3", "\xff\x80 bytes", "'single'"},
                        {"4", ";", "  spaced  ", "extra"},
                        {"end"}};
    const struct {
        const char* name;
        char field, text;
    } dialects[] = {{"comma", ',', '"'}, {"semi", ';', '\''}};
    for (const auto& d : dialects) {
        Csv csv;
        csv_set_field_delim(csv.b, d.field);
        csv_set_text_delim(csv.b, d.text);
        csv.fill(ours);
        ASSERT_EQ(csv_save(mut(dir.file(std::string("ours_") + d.name + ".csv").c_str()), csv.b), 0);
        write_file(dir.file(std::string("ours_") + d.name + ".txt"), encode(ours));
    }
    std::string output;
    ASSERT_EQ(qbtest::run_python(kCsvPeer, {dir.path()}, &output), 0) << output;

    const Table theirs = decode(read_file(dir.file("theirs.txt")));
    ASSERT_EQ(theirs.size(), 5u);
    for (const auto& d : dialects) {
        Csv csv;
        csv_set_field_delim(csv.b, d.field);
        csv_set_text_delim(csv.b, d.text);
        ASSERT_EQ(csv_load(csv.b, mut(dir.file(std::string("theirs_") + d.name + ".csv").c_str())), 0);
        EXPECT_EQ(table_of(csv.b), theirs) << d.name;
    }
}

}  // namespace
