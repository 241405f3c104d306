// NPY files and NPZ archives: the worked examples, hostile inputs, and
// round trips with NumPy in both directions.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codecs/npy_io.h"
#include "crc32.h"
#include "npy_array.h"
#include "support/python_peer.h"
#include "support/test_support.h"
#include "zipcontainer.h"

namespace {

using qbtest::read_file;
using qbtest::write_file;

std::string captured_stderr(const std::function<void()>& fn) {
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

// A fresh array owning a copy of data.
npy_array_t* make_array(char order, char type, size_t elem, std::vector<size_t> shape, const std::string& data,
                        bool fortran = false) {
    auto* m = static_cast<npy_array_t*>(calloc(1, sizeof(npy_array_t)));
    m->endianness = order;
    m->typechar = type;
    m->elem_size = elem;
    m->fortran_order = fortran;
    m->ndim = static_cast<int32_t>(shape.size());
    for (size_t i = 0; i < shape.size(); ++i) m->shape[i] = shape[i];
    m->data = static_cast<char*>(malloc(data.size() + 1));
    memcpy(m->data, data.data(), data.size());
    return m;
}

std::string pattern(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// An NPY image with any header text (not padded), for hostile inputs.
std::string npy_image(const std::string& header, const std::string& data, int major = 1) {
    std::string s = NPY_ARRAY_MAGIC_STRING;
    s += static_cast<char>(major);
    s += '\0';
    s += static_cast<char>(header.size() & 0xff);
    s += static_cast<char>(header.size() >> 8);
    return s + header + data;
}

void le(std::string& s, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
}

// One local entry of a ZIP archive with fields as given (the walk never needs the directory).
std::string zip_entry(const std::string& name, const std::string& body, uint16_t method = 0, uint16_t flags = 0,
                      int64_t compressed = -1, int64_t uncompressed = -1, const std::string& extra = "") {
    std::string s;
    le(s, LOCAL_HEADER_SIGNATURE, 4);
    le(s, 20, 2);
    le(s, flags, 2);
    le(s, method, 2);
    le(s, 0, 4);
    le(s, crc32(0, body.data(), body.size()), 4);
    le(s, compressed < 0 ? body.size() : static_cast<uint64_t>(compressed), 4);
    le(s, uncompressed < 0 ? body.size() : static_cast<uint64_t>(uncompressed), 4);
    le(s, name.size(), 2);
    le(s, extra.size(), 2);
    return s + name + extra + body;
}

const std::string kDirectoryStart = std::string("PK\x01\x02", 4) + std::string(42, '\0');

std::string valid_npy(const std::string& data, const char* descr = "<f8") {
    return npy_image(std::string("{'descr': '") + descr + "', 'fortran_order': False, 'shape': (" +
                         std::to_string(data.size() / 8) + ",), }\n",
                     data);
}

class Npy : public ::testing::Test {
protected:
    qbtest::TempDir dir_;
    std::string path(const std::string& name) const { return dir_.file(name); }
};

TEST_F(Npy, SavesTheExact128ByteHeader) {
    const std::string data = pattern(48, 1);
    npy_array_t* m = make_array('<', 'f', 8, {2, 3}, data);
    npy_array_save(path("a.npy").c_str(), m);
    const std::string file = read_file(path("a.npy"));
    ASSERT_EQ(file.size(), 128u + 48u);
    const std::string dict = "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }";
    EXPECT_EQ(file.substr(0, 10), std::string("\x93NUMPY\x01\x00\x76\x00", 10));
    EXPECT_EQ(file.substr(10, dict.size()), dict);
    EXPECT_EQ(file.substr(10 + dict.size(), 117 - dict.size()), std::string(117 - dict.size(), ' '));
    EXPECT_EQ(file[127], '\n');
    EXPECT_EQ(file.substr(128), data);

    npy_array_t* back = npy_array_load(path("a.npy").c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->ndim, 2);
    EXPECT_EQ(back->shape[0], 2u);
    EXPECT_EQ(back->shape[1], 3u);
    EXPECT_EQ(back->shape[2], 0u);
    EXPECT_EQ(back->endianness, '<');
    EXPECT_EQ(back->typechar, 'f');
    EXPECT_EQ(back->elem_size, 8u);
    EXPECT_EQ(back->fortran_order, 0);
    EXPECT_EQ(std::string(back->data, 48), data);
    npy_array_free(back);
    npy_array_free(m);
}

TEST_F(Npy, ShapeTextsOfOneZeroAndEightDimensions) {
    const struct {
        std::vector<size_t> shape;
        const char* text;
        int loaded_ndim;  // -1: does not load (more than 7 extents)
    } cases[] = {
        {{5}, "(5,)", 1}, {{}, "()", 0}, {{0}, "(0,)", 1}, {{3, 0, 2}, "(3, 0, 2)", 3},
        {{1, 1, 1, 1, 1, 1, 1, 2}, "(1, 1, 1, 1, 1, 1, 1, 2)", -1},
    };
    for (const auto& c : cases) {
        size_t count = 1;
        for (size_t e : c.shape) count *= e;
        npy_array_t* m = make_array('<', 'i', 4, c.shape, pattern(count * 4, 2));
        npy_array_save(path("s.npy").c_str(), m);
        EXPECT_NE(read_file(path("s.npy")).find(std::string("'shape': ") + c.text + ", }"), std::string::npos)
            << c.text;
        std::string err;
        npy_array_t* back = nullptr;
        err = captured_stderr([&] { back = npy_array_load(path("s.npy").c_str()); });
        if (c.loaded_ndim < 0) {
            EXPECT_EQ(back, nullptr);
            EXPECT_EQ(err, "Too many dimensions.\nCannot read matrix.\n");
        } else {
            ASSERT_NE(back, nullptr) << c.text;
            EXPECT_EQ(back->ndim, c.loaded_ndim);
            EXPECT_EQ(std::string(back->data, count * 4), std::string(m->data, count * 4));
            npy_array_free(back);
        }
        npy_array_free(m);
    }
}

TEST_F(Npy, RefusedSavesLeaveTheOldFileAlone) {
    write_file(path("keep.npy"), "old");
    struct Case {
        std::vector<size_t> shape;
        int ndim;
        size_t elem;
        char order;
        const char* message;
    };
    const Case cases[] = {
        {{2}, 9, 4, '<', "Too many dimensions.\n"},
        {{2}, -1, 4, '<', "Invalid number of dimensions.\n"},
        {{2}, 1, 0, '<', "Invalid element size.\n"},
        {{2}, 1, 4, '\0', "Invalid type descriptor.\n"},
        // Long extents (their product is 0, so no overflow) make a dictionary beyond 107 characters.
        {{0, 1000000000000000000, 1000000000000000000, 1000000000000000000}, 4, 1, '<', "Header too long.\n"},
        {{SIZE_MAX / 2, 3}, 2, 1, '<', "Array size overflows.\n"},
    };
    for (const auto& c : cases) {
        npy_array_t* m = make_array(c.order, 'i', c.elem, c.shape, "12345678");
        m->ndim = c.ndim;
        EXPECT_EQ(captured_stderr([&] { npy_array_save(path("keep.npy").c_str(), m); }), c.message);
        EXPECT_TRUE(read_file(path("keep.npy")) == "old") << c.message;
        npy_array_free(m);
    }
    EXPECT_EQ(captured_stderr([&] { npy_array_save(path("keep.npy").c_str(), nullptr); }),
              "Warning: No matrix found. (npy_array_save)\n");
    npy_array_t* m = make_array('<', 'i', 4, {2}, "12345678");
    const std::string err = captured_stderr([&] { npy_array_save(path("no/such/dir.npy").c_str(), m); });
    EXPECT_EQ(err.rfind("Cannot open '" + path("no/such/dir.npy") + "' for writing.\nError: ", 0), 0u) << err;
    npy_array_free(m);
}

TEST_F(Npy, HostileHeadersFailCleanly) {
    const std::string dict_f8 = "{'descr': '<f8', 'fortran_order': False, 'shape': (2,), }";
    const struct {
        const char* name;
        std::string file;
        std::string message;
    } cases[] = {
        {"short", "\x93NUMPY\x01", "Cannot read pre header bytes.\n"},
        {"magic", std::string("\x93NUMPZ\x01\x00\x02\x00{}", 12), "File format not recognised as numpy array.\n"},
        {"version 2", npy_image(dict_f8, pattern(16, 3), 2),
         "Wrong numpy save version. Expected version 1.x This is version 2.0\n"},
        {"header past the end", npy_image(dict_f8, "").substr(0, 30), "Cannot read header. 57 bytes.\n"},
        {"no descr", npy_image("{'fortran_order': False, 'shape': (2,), }", ""), "Missing 'descr' in header.\n"},
        {"no order", npy_image("{'descr': '<f8', 'shape': (2,), }", ""), "Missing 'fortran_order' in header.\n"},
        {"no shape", npy_image("{'descr': '<f8', 'fortran_order': False, }", ""), "Missing 'shape' in header.\n"},
        {"size 0", npy_image("{'descr': '<f0', 'fortran_order': False, 'shape': (2,), }", ""),
         "Invalid element size.\n"},
        // The header ends in the middle of the descriptor: no terminator to run past.
        {"cut descr", npy_image("{'descr': '<", ""), "Invalid element size.\n"},
        {"huge element", npy_image("{'descr': '<f99999999999999999999999', 'fortran_order': False, 'shape': (2,), }", ""),
         "Invalid element size.\n"},
        {"8 extents", npy_image("{'descr': '<f8', 'fortran_order': False, 'shape': (1,1,1,1,1,1,1,1), }", ""),
         "Too many dimensions.\n"},
        {"extent overflow", npy_image("{'descr': '<f8', 'fortran_order': False, 'shape': (99999999999999999999999,), }", ""),
         "Array size overflows.\n"},
        {"product overflow",
         npy_image("{'descr': '<f8', 'fortran_order': False, 'shape': (4294967296, 4294967296), }", ""),
         "Array size overflows.\n"},
        // A terabyte claimed by an 80-byte file: refused before anything is allocated.
        {"terabyte", npy_image("{'descr': '<f8', 'fortran_order': False, 'shape': (137438953472,), }", ""),
         "Could not read all data.\n"},
        {"short data", npy_image(dict_f8, pattern(15, 4)), "Could not read all data.\n"},
    };
    for (const auto& c : cases) {
        write_file(path("bad.npy"), c.file);
        npy_array_t* m = reinterpret_cast<npy_array_t*>(1);
        const std::string err = captured_stderr([&] { m = npy_array_load(path("bad.npy").c_str()); });
        EXPECT_EQ(m, nullptr) << c.name;
        EXPECT_EQ(err, c.message + "Cannot read matrix.\n") << c.name;
    }
    const std::string err = captured_stderr([&] { EXPECT_EQ(npy_array_load(path("missing.npy").c_str()), nullptr); });
    EXPECT_EQ(err, "Cannot open '" + path("missing.npy") + "' for reading.\nError: No such file or directory\n");
}

TEST_F(Npy, LenientHeaderFieldsWarnAndLoad) {
    // Big-endian data loads unconverted after a warning without a line feed.
    write_file(path("be.npy"), npy_image("{'descr': '>u2', 'fortran_order': False, 'shape': (2,), }", "\x01\x02\x03\x04"));
    npy_array_t* m = nullptr;
    EXPECT_EQ(captured_stderr([&] { m = npy_array_load(path("be.npy").c_str()); }),
              "Warning: Endianess of system and file does not match.");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->endianness, '>');
    EXPECT_EQ(std::string(m->data, 4), "\x01\x02\x03\x04");
    npy_array_free(m);

    write_file(path("odd.npy"), npy_image("{'descr': 'b1', 'fortran_order': maybe, 'shape': [3], }", std::string("\x01\x00\x01", 3)));
    EXPECT_EQ(captured_stderr([&] { m = npy_array_load(path("odd.npy").c_str()); }),
              "Warning: Endianness not found.Warning: No matrix order found, assuming fortran_order=False");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->typechar, 'b');
    EXPECT_EQ(m->ndim, 1);
    EXPECT_EQ(m->shape[0], 3u);
    npy_array_free(m);
    EXPECT_EQ(captured_stderr([] { npy_array_free(nullptr); }), "Warning: No matrix found. (npy_array_free)\n");
}

TEST_F(Npy, LoadsFromAPipeWithoutTrustingTheHeader) {
    // A pipe has no size to check against: the block grows only with data that arrives.
    const std::string fifo = path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string good = valid_npy(pattern(800, 5));
    const std::string liar = npy_image("{'descr': '<f8', 'fortran_order': False, 'shape': (137438953472,), }", pattern(100, 6));
    for (const std::string* image : {&good, &liar}) {
        std::thread writer([&] {
            const int fd = open(fifo.c_str(), O_WRONLY);
            if (fd >= 0) {
                EXPECT_EQ(write(fd, image->data(), image->size()), static_cast<ssize_t>(image->size()));
                close(fd);
            }
        });
        npy_array_t* m = nullptr;
        const std::string err = captured_stderr([&] { m = npy_array_load(fifo.c_str()); });
        writer.join();
        if (image == &good) {
            ASSERT_NE(m, nullptr) << err;
            EXPECT_EQ(std::string(m->data, 800), good.substr(good.size() - 800));
            npy_array_free(m);
        } else {
            EXPECT_EQ(m, nullptr);
            EXPECT_EQ(err, "Could not read all data.\nCannot read matrix.\n");
        }
    }
}

TEST_F(Npy, DumpPrintsTheSummary) {
    npy_array_t* m = make_array('<', 'f', 8, {2, 3}, pattern(48, 7), true);
    EXPECT_EQ(qbtest::capture_stdout([&] { npy_array_dump(m); }),
              "Dimensions   : 2\nShape        : ( 2, 3)\nType         : 'f' (8 bytes each element)\nFortran order: True\n");
    npy_array_free(m);
    EXPECT_EQ(captured_stderr([] { npy_array_dump(nullptr); }), "Warning: No matrix found. (npy_array_dump)\n");
}

TEST_F(Npy, BmpToNpyWrapsThePixelsAndRefusesBadSizes) {
    char pixels[64];
    for (int i = 0; i < 64; ++i) pixels[i] = static_cast<char>(i);
    char* out = nullptr;
    int len = 0;
    ASSERT_EQ(bmp_to_npy(pixels, 54 - 48, 2, 1, &out, &len), 0);
    EXPECT_EQ(len, 134);
    const std::string image(out, 134);
    EXPECT_NE(image.find("{'descr': '|u1', 'fortran_order': False, 'shape': (1, 2, 3), }"), std::string::npos);
    EXPECT_EQ(image.substr(128), std::string(pixels + 6, 6));
    EXPECT_EQ(std::string(out + 134, 1034 - 128), std::string(1034 - 128, '\0'));  // zero-filled tail
    free(out);
    const struct {
        int offset, w, h;
    } bad[] = {{0, 0, 1}, {0, 1, 0}, {0, -2, 1}, {0, 2, -1}, {-1, 2, 1}, {0, 65536, 65536}, {0, 46341, 46341},
               {0, 0x7fffffff, 1}, {0, 1, 715827882}};
    for (const auto& b : bad) {
        out = nullptr;
        EXPECT_EQ(bmp_to_npy(pixels, b.offset, b.w, b.h, &out, &len), -1) << b.w << "x" << b.h;
        EXPECT_EQ(out, nullptr);
    }
}

TEST_F(Npy, ListsTakeLiteralNamesAndRefuseLongOnes) {
    npy_array_list_t* list = nullptr;
    list = npy_array_list_append(list, make_array('<', 'f', 8, {1}, "abcdefgh"), "b_%d.npy", 1);
    list = npy_array_list_prepend(list, make_array('<', 'f', 8, {1}, "ABCDEFGH"), "a.npy");
    list = npy_array_list_append(list, make_array('<', 'f', 8, {1}, "12345678"), nullptr);
    ASSERT_EQ(npy_array_list_length(list), 3u);
    EXPECT_STREQ(list->filename, "a.npy");
    EXPECT_STREQ(list->next->filename, "b_1.npy");
    EXPECT_EQ(list->next->next->filename, nullptr);
    // The node's CRC is that of the NPY image, header included.
    char header[NPY_ARRAY_HEADER_SIZE];
    uint64_t bytes = 0;
    ASSERT_TRUE(qb::npy::build_header(list->array, header, &bytes));
    EXPECT_EQ(list->crc32, crc32(crc32(0, header, sizeof header), "ABCDEFGH", 8));

    npy_array_t* extra = make_array('<', 'f', 8, {1}, "zzzzzzzz");
    const std::string name81(81, 'n');
    npy_array_list_t* same = nullptr;
    EXPECT_EQ(captured_stderr([&] { same = npy_array_list_append(list, extra, "%s", name81.c_str()); }),
              "Warning: Cannot save neural network. Your filename is too long. Please limit the filename to 80 "
              "characters.\n");
    EXPECT_EQ(same, list);
    EXPECT_EQ(npy_array_list_length(list), 3u);
    list = npy_array_list_append(list, extra, "%s", std::string(80, 'n').c_str());  // exactly 80 is fine
    EXPECT_EQ(npy_array_list_length(list), 4u);
    npy_array_list_free(list);
    EXPECT_EQ(npy_array_list_length(nullptr), 0u);
}

TEST_F(Npy, TheTwoArrayArchiveIs562Bytes) {
    npy_array_list_t* list = nullptr;
    list = npy_array_list_append(list, make_array('<', 'f', 8, {2, 3}, pattern(48, 8)), nullptr);
    list = npy_array_list_append(list, make_array('<', 'f', 8, {2, 3}, pattern(48, 9)), nullptr);
    ASSERT_EQ(npy_array_list_save(path("two.npz").c_str(), list), 2);
    EXPECT_STREQ(list->filename, "arr_0.npy");  // named in place
    EXPECT_STREQ(list->next->filename, "arr_1.npy");
    const std::string z = read_file(path("two.npz"));
    ASSERT_EQ(z.size(), 562u);
    auto u16 = [&](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(z[at]) | static_cast<unsigned char>(z[at + 1]) << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    EXPECT_EQ(u32(0), LOCAL_HEADER_SIGNATURE);
    EXPECT_EQ(u32(18), 176u);
    EXPECT_EQ(z.substr(30, 9), "arr_0.npy");
    EXPECT_EQ(u32(215), LOCAL_HEADER_SIGNATURE);  // 30 + 9 + 176
    EXPECT_EQ(u32(430), CENTRAL_DIRECTORY_HEADER_SIGNATURE);
    EXPECT_EQ(u16(430 + 4), 0x0314u);
    EXPECT_EQ(u32(430 + 38), 0x01A40000u);
    EXPECT_EQ(u32(485 + 42), 215u);  // second entry's local header offset
    EXPECT_EQ(u32(14), u32(430 + 16));  // same CRC in both headers
    EXPECT_EQ(u32(14), list->crc32);
    EXPECT_EQ(u32(540), END_OF_CENTRAL_DIR_SIGNATURE);
    EXPECT_EQ(u16(548), 2u);
    EXPECT_EQ(u16(550), 2u);
    EXPECT_EQ(u32(552), 110u);
    EXPECT_EQ(u32(556), 430u);

    npy_array_list_t* back = npy_array_list_load(path("two.npz").c_str());
    ASSERT_EQ(npy_array_list_length(back), 2u);
    EXPECT_STREQ(back->filename, "arr_0.npy");
    EXPECT_STREQ(back->next->filename, "arr_1.npy");
    EXPECT_EQ(std::string(back->next->array->data, 48), std::string(list->next->array->data, 48));
    npy_array_list_free(back);
    npy_array_list_free(list);
    EXPECT_EQ(npy_array_list_save(path("none.npz").c_str(), nullptr), 0);
    EXPECT_FALSE(std::ifstream(path("none.npz")).good());
}

TEST_F(Npy, ArchiveSaveRefusesWhatZipCannotHoldAndReportsWriteErrors) {
    // A 5 GiB array (never read: the archive is refused before any byte is written).
    char small[8] = {};
    npy_array_t huge{};
    huge.data = small;
    huge.ndim = 1;
    huge.shape[0] = size_t{5} << 30;
    huge.endianness = '|';
    huge.typechar = 'u';
    huge.elem_size = 1;
    npy_array_list_t node{&huge, strdup("big.npy"), 0, nullptr};
    std::string err = captured_stderr([&] { EXPECT_EQ(npy_array_list_save(path("big.npz").c_str(), &node), -1); });
    EXPECT_EQ(err, "Cannot save '" + path("big.npz") + "': the archive would reach 4 GiB.\n");
    EXPECT_FALSE(std::ifstream(path("big.npz")).good());
    free(node.filename);

    // 65535 entries do not fit the 16-bit count (0xFFFF means ZIP64).
    std::vector<npy_array_t> arrays(65535);
    std::vector<npy_array_list_t> nodes(65535);
    for (size_t i = 0; i < nodes.size(); ++i) {
        arrays[i] = npy_array_t{};
        arrays[i].data = small;
        arrays[i].endianness = '|';
        arrays[i].typechar = 'u';
        arrays[i].elem_size = 1;
        nodes[i] = npy_array_list_t{&arrays[i], const_cast<char*>("x.npy"), 0, i + 1 < nodes.size() ? &nodes[i + 1] : nullptr};
    }
    err = captured_stderr([&] { EXPECT_EQ(npy_array_list_save(path("many.npz").c_str(), nodes.data()), -1); });
    EXPECT_NE(err.find("more than 65534 arrays"), std::string::npos) << err;
    nodes[65533].next = nullptr;
    EXPECT_EQ(npy_array_list_save(path("many.npz").c_str(), nodes.data()), 65534);

    // A write error is a failure, not a count.
    npy_array_list_t one{&arrays[0], const_cast<char*>("x.npy"), 0, nullptr};
    captured_stderr([&] { EXPECT_EQ(npy_array_list_save("/dev/full", &one), -1); });
    err = captured_stderr([&] { EXPECT_EQ(npy_array_list_save(path("no/dir.npz").c_str(), &one), -1); });
    EXPECT_EQ(err, "Cannot open file '" + path("no/dir.npz") + "' for writing\n");
}

TEST_F(Npy, ArchiveWalkSkipsBadEntriesAndNeverLeavesAnEntry) {
    const std::string a = valid_npy(pattern(16, 10)), b = valid_npy(pattern(24, 11));
    // Claims 4 elements but the entry holds 2: the read stops at the entry's end.
    const std::string greedy = npy_image("{'descr': '<f8', 'fortran_order': False, 'shape': (4,), }", pattern(16, 12));
    std::string zip64_extra;
    le(zip64_extra, 1, 2);
    le(zip64_extra, 16, 2);
    le(zip64_extra, b.size(), 8);
    le(zip64_extra, b.size(), 8);
    const std::string archive =
        zip_entry("packed.npy", "xxxxxxxx", 8) + zip_entry("secret.npy", "yyyy", 0, 1) +
        zip_entry("%n%s%n.npy", a) + zip_entry("greedy.npy", greedy) + zip_entry("sizes.npy", a, 0, 0, -1, 5) +
        zip_entry(std::string("nul\0.npy", 8), a) + zip_entry(std::string(81, 'L'), a) +
        zip_entry("zip64.npy", b, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, zip64_extra) +
        zip_entry("streamed.npy", a, 0, 8) + zip_entry("never.npy", a) + kDirectoryStart;
    write_file(path("mixed.npz"), archive);
    npy_array_list_t* list = nullptr;
    const std::string err = captured_stderr([&] { list = npy_array_list_load(path("mixed.npz").c_str()); });
    ASSERT_EQ(npy_array_list_length(list), 2u) << err;
    EXPECT_STREQ(list->filename, "%n%s%n.npy");  // a name is data, never a format
    EXPECT_EQ(std::string(list->array->data, 16), a.substr(a.size() - 16));
    EXPECT_STREQ(list->next->filename, "zip64.npy");
    EXPECT_EQ(std::string(list->next->array->data, 24), b.substr(b.size() - 24));
    npy_array_list_free(list);
    EXPECT_EQ(err,
              "local file 'packed.npy' is compressed. Skipping.\n"
              "Still no support for reading compressed files.\nPlease store numpy array with np.savez() instead of "
              "np.savez_compressed().\n"
              "local file 'secret.npy' is encrypted. Skipping.\n"
              "Could not read all data.\nCannot read matrix.\n"
              "local file 'sizes.npy' has inconsistent sizes. Skipping.\n"
              "local file 'nul' has an invalid name. Skipping.\n"
              "Warning: Cannot save neural network. Your filename is too long. Please limit the filename to 80 "
              "characters.\n"
              "No support for streamed datafiles with data descriptor.\n");
}

TEST_F(Npy, ArchiveWalkStopsAtTruncationsAndRefusesNonArchives) {
    const std::string a = valid_npy(pattern(16, 13));
    const std::string first = zip_entry("a.npy", a);
    const struct {
        const char* name;
        std::string file;
        std::string message;
        size_t arrays;
    } cases[] = {
        {"entry past the end", first + zip_entry("b.npy", a, 0, 0, 1 << 30, 1 << 30),
         "local file 'b.npy' has inconsistent sizes. Skipping.\n", 1},
        {"no zip64 field", first + zip_entry("c.npy", a, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF),
         "local file 'c.npy' has inconsistent sizes. Skipping.\n", 1},
        {"cut header", first + zip_entry("d.npy", a).substr(0, 20), "Cannot read header.\n", 1},
        {"cut name", first + zip_entry("e.npy", a).substr(0, 33), "3 != 5.\n", 1},
        {"cut extra", first + zip_entry("f.npy", a, 0, 0, -1, -1, "0123456789").substr(0, 38), "Incorrect read.\n", 1},
        {"bare npy", a, "", 0},
        {"tiny", "PK", "Warning: cannot read from '" + path("t.npz") + "'.\n", 0},
    };
    for (const auto& c : cases) {
        write_file(path("t.npz"), c.file);
        npy_array_list_t* list = nullptr;
        const std::string err = captured_stderr([&] { list = npy_array_list_load(path("t.npz").c_str()); });
        EXPECT_EQ(npy_array_list_length(list), c.arrays) << c.name;
        EXPECT_EQ(err, c.message) << c.name;
        npy_array_list_free(list);
    }
}

// Reads a manifest line per array: name descr fortran extents(comma-separated or '-') raw-data-file [npz key].
struct Expected {
    std::string name, descr, raw;
    bool fortran = false;
    std::vector<size_t> shape;
};

std::string descr_of(const npy_array_t* m) {
    return std::string(1, m->endianness) + m->typechar + std::to_string(m->elem_size);
}

std::string shape_text(const std::vector<size_t>& shape) {
    if (shape.empty()) return "-";
    std::string s;
    for (size_t e : shape) s += (s.empty() ? "" : ",") + std::to_string(e);
    return s;
}

void check_array(const npy_array_t* m, const Expected& e, const std::string& raw) {
    ASSERT_NE(m, nullptr) << e.name;
    EXPECT_EQ(descr_of(m), e.descr) << e.name;
    EXPECT_EQ(m->fortran_order != 0, e.fortran) << e.name;
    EXPECT_EQ(std::vector<size_t>(m->shape, m->shape + m->ndim), e.shape) << e.name;
    uint64_t bytes = 0;
    ASSERT_TRUE(qb::npy::data_size(m, &bytes));
    EXPECT_EQ(std::string(m->data, bytes), raw) << e.name;
}

// NumPy loads what we write, and we load what NumPy writes: one Python run for both.
const char* kNumpyPeer = R"PY(
import io, os, sys, zipfile
import numpy as np
work = sys.argv[1]
fails = []
def shape_of(text):
    return () if text == '-' else tuple(int(x) for x in text.split(','))
def check(a, descr, fortran, shape, raw, what):
    if a.dtype.str != descr: fails.append('%s: dtype %s' % (what, a.dtype.str)); return
    if a.shape != shape: fails.append('%s: shape %s' % (what, a.shape)); return
    if fortran and a.ndim > 1 and not a.flags.f_contiguous: fails.append('%s: not Fortran order' % what)
    if a.tobytes(order='F' if fortran else 'C') != raw: fails.append('%s: bytes differ' % what)
# 1. Ours.
for line in open(os.path.join(work, 'ours.txt')):
    name, descr, fortran, shape, raw, key = line.split()
    raw = open(os.path.join(work, raw), 'rb').read()
    path = os.path.join(work, name)
    try:
        if key == '-':
            a = np.load(path, allow_pickle=False)
        else:
            with np.load(path, allow_pickle=False) as z:
                a = z[key]
    except Exception as e:
        fails.append('%s: %r' % (name, e)); continue
    check(a, descr, fortran == '1', shape_of(shape), raw, name + ':' + key)
# 2. Theirs.
os.makedirs(os.path.join(work, 'theirs'))
out = open(os.path.join(work, 'theirs.txt'), 'w')
cases = []
for dt in ['<f4', '<f8', '|i1', '<i2', '<i4', '<i8', '|u1', '<u2', '<u4', '<u8', '|b1', '<c8', '<c16', '>i4']:
    cases.append((dt.strip('<>|') + ('_be' if dt[0] == '>' else ''), np.arange(1, 13).reshape(3, 4).astype(dt)))
cases += [('fortran', np.asfortranarray(np.arange(24.0).reshape(2, 3, 4))),
          ('scalar', np.array(7.5)), ('empty', np.zeros((0,), dtype='<i4')), ('empty2d', np.zeros((2, 0))),
          ('complex', (np.arange(6) + 1j * np.arange(6)).astype('<c16')), ('bools', np.arange(5) % 2 == 0),
          ('vector', np.linspace(0, 1, 7))]
arrays = {}
for name, a in cases:
    np.save(os.path.join(work, 'theirs', name + '.npy'), a)
    fortran = a.ndim > 1 and a.flags.f_contiguous and not a.flags.c_contiguous
    open(os.path.join(work, 'theirs', name + '.raw'), 'wb').write(a.tobytes(order='F' if fortran else 'C'))
    shape = ','.join(str(x) for x in a.shape) or '-'
    out.write('theirs/%s.npy %s %d %s theirs/%s.raw -\n' % (name, a.dtype.str, fortran, shape, name))
    arrays[name] = a
np.savez(os.path.join(work, 'theirs', 'savez.npz'), **arrays)
for name in arrays:
    a = arrays[name]
    fortran = a.ndim > 1 and a.flags.f_contiguous and not a.flags.c_contiguous
    shape = ','.join(str(x) for x in a.shape) or '-'
    out.write('theirs/savez.npz %s %d %s theirs/%s.raw %s.npy\n' % (a.dtype.str, fortran, shape, name, name))
np.savez_compressed(os.path.join(work, 'theirs', 'compressed.npz'), a=arrays['f8'])
# A deflated entry first, then a stored one.
with zipfile.ZipFile(os.path.join(work, 'theirs', 'mixed.npz'), 'w') as z:
    for key, method in (('deflated', zipfile.ZIP_DEFLATED), ('stored', zipfile.ZIP_STORED)):
        b = io.BytesIO(); np.save(b, arrays['i8']); z.writestr(key + '.npy', b.getvalue(), compress_type=method)
out.close()
for f in fails: print('FAIL', f)
sys.exit(1 if fails else 0)
)PY";

TEST_F(Npy, NumpyRoundTripsInBothDirections) {
    // Ours: every dtype NumPy writes with a version-1 header, both orders, 0-d and empty arrays.
    struct Case {
        std::string name;
        char order, type;
        size_t elem;
        std::vector<size_t> shape;
        bool fortran;
    };
    const std::vector<Case> cases = {
        {"f4", '<', 'f', 4, {2, 3}, false},   {"f8", '<', 'f', 8, {4}, false},     {"i1", '|', 'i', 1, {3, 5}, false},
        {"i2", '<', 'i', 2, {7}, false},      {"i4", '<', 'i', 4, {2, 2, 2}, false}, {"i8", '<', 'i', 8, {3}, false},
        {"u1", '|', 'u', 1, {9}, false},      {"u2", '<', 'u', 2, {2, 5}, false},  {"u4", '<', 'u', 4, {1}, false},
        {"u8", '<', 'u', 8, {2, 2}, false},   {"b1", '|', 'b', 1, {6}, false},     {"c8", '<', 'c', 8, {3}, false},
        {"c16", '<', 'c', 16, {2, 2}, false}, {"be", '>', 'i', 4, {3}, false},     {"fortran", '<', 'f', 8, {3, 4}, true},
        {"fortran3", '<', 'i', 2, {2, 3, 4}, true}, {"scalar", '<', 'f', 8, {}, false}, {"empty", '<', 'f', 8, {0}, false},
        {"empty2d", '<', 'i', 4, {3, 0}, false},
    };
    std::string manifest;
    npy_array_list_t* list = nullptr;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        size_t count = 1;
        for (size_t e : c.shape) count *= e;
        std::string data = pattern(count * c.elem, 100 + static_cast<uint32_t>(i));
        if (c.type == 'b')
            for (auto& ch : data) ch = static_cast<char>(ch & 1);
        if (c.type == 'f' || c.type == 'c')  // finite values, so no NaN payload questions arise
            for (size_t k = c.elem - 1; k < data.size(); k += (c.type == 'c' ? c.elem / 2 : c.elem)) data[k] &= 0x3f;
        npy_array_t* m = make_array(c.order, c.type, c.elem, c.shape, data, c.fortran);
        npy_array_save(path(c.name + ".npy").c_str(), m);
        write_file(path(c.name + ".raw"), data);
        const std::string descr = std::string(1, c.elem == 1 ? '|' : c.order) + c.type + std::to_string(c.elem);
        manifest += c.name + ".npy " + descr + " " + (c.fortran ? "1 " : "0 ") + shape_text(c.shape) + " " + c.name + ".raw -\n";
        manifest += "ours.npz " + descr + " " + (c.fortran ? "1 " : "0 ") + shape_text(c.shape) + " " + c.name + ".raw " + c.name + "\n";
        list = npy_array_list_append(list, m, "%s.npy", c.name.c_str());
    }
    ASSERT_EQ(npy_array_list_save(path("ours.npz").c_str(), list), static_cast<int>(cases.size()));
    npy_array_list_free(list);
    write_file(path("ours.txt"), manifest);

    std::string output;
    const int status = qbtest::run_python(kNumpyPeer, {dir_.path()}, &output);
    ASSERT_EQ(status, 0) << output;

    // Theirs.
    std::istringstream lines(read_file(path("theirs.txt")));
    std::string line;
    size_t checked = 0;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        Expected e;
        std::string fortran, shape, key;
        f >> e.name >> e.descr >> fortran >> shape >> e.raw >> key;
        e.fortran = fortran == "1";
        if (shape != "-") {
            std::istringstream s(shape);
            for (std::string part; std::getline(s, part, ',');) e.shape.push_back(std::stoul(part));
        }
        const std::string raw = read_file(path(e.raw));
        if (key == "-") {
            npy_array_t* m = nullptr;
            captured_stderr([&] { m = npy_array_load(path(e.name).c_str()); });  // big-endian warnings
            check_array(m, e, raw);
            npy_array_free(m);
        } else {
            npy_array_list_t* z = nullptr;
            captured_stderr([&] { z = npy_array_list_load(path(e.name).c_str()); });
            const npy_array_list_t* node = z;
            while (node && key != node->filename) node = node->next;
            ASSERT_NE(node, nullptr) << key;
            check_array(node->array, e, raw);
            npy_array_list_free(z);
        }
        ++checked;
    }
    EXPECT_EQ(checked, 2u * 21u);

    std::string err = captured_stderr([&] { EXPECT_EQ(npy_array_list_load(path("theirs/compressed.npz").c_str()), nullptr); });
    EXPECT_NE(err.find("local file 'a.npy' is compressed. Skipping.\n"), std::string::npos);
    npy_array_list_t* mixed = nullptr;
    err = captured_stderr([&] { mixed = npy_array_list_load(path("theirs/mixed.npz").c_str()); });
    ASSERT_EQ(npy_array_list_length(mixed), 1u) << err;
    EXPECT_STREQ(mixed->filename, "stored.npy");
    EXPECT_EQ(mixed->array->shape[1], 4u);
    npy_array_list_free(mixed);
}

}  // namespace
