// NPY files and NPZ archives: the worked examples, hostile inputs, and
// round trips with NumPy in both directions.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "crc32.h"
#include "npy_array.h"
#include "support/python_peer.h"
#include "support/test_support.h"
#include "zipcontainer.h"

namespace {

using qbtest::read_file;

using Array = std::unique_ptr<npy_array_t, decltype([](npy_array_t* m) { npy_array_free(m); })>;
using List = std::unique_ptr<npy_array_list_t, decltype([](npy_array_list_t* l) { npy_array_list_free(l); })>;

std::string stderr_of(const std::function<void()>& fn) {
    testing::internal::CaptureStderr();
    return fn(), testing::internal::GetCapturedStderr();
}

std::string pattern(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    std::generate(s.begin(), s.end(), std::independent_bits_engine<std::mt19937, 8, unsigned>(seed));
    return s;
}

// Descriptor, order, every non-zero extent (those from ndim on must be 0) and the data: "<f8 C (2,3,) ...".
std::string describe(const npy_array_t* m, bool with_data = true) {
    if (!m) return "null";
    std::string s = std::string(1, m->endianness) + m->typechar + std::to_string(m->elem_size) + (m->fortran_order ? " F (" : " C (");
    size_t bytes = m->elem_size;
    for (int d = 0; d < NPY_ARRAY_MAX_DIMENSIONS; ++d) {
        if (d < m->ndim) bytes *= m->shape[d];
        if (d < m->ndim || m->shape[d]) s += std::to_string(m->shape[d]) + ",";
    }
    return s + ")" + (with_data ? " " + std::string(m->data, bytes) : "");
}

std::string describe(const npy_array_list_t* l) {
    std::string s;
    for (; l; l = l->next) s += std::string(l->filename ? l->filename : "(unnamed)") + " " + describe(l->array) + "\n";
    return s;
}

// A fresh array ("<f8"-style descriptor) owning a copy of data (by default a pattern of the right size).
npy_array_t* make_array(const std::string& descr, const std::vector<size_t>& shape, std::string data = "", bool fortran = false) {
    size_t bytes = std::stoul(descr.substr(2));
    for (size_t e : shape) bytes *= e;
    if (data.empty()) data = pattern(bytes, uint32_t(bytes));
    auto* m = static_cast<npy_array_t*>(calloc(1, sizeof(npy_array_t)));
    *m = {static_cast<char*>(malloc(data.size() + 1)), {}, int32_t(shape.size()), descr[0], descr[1], std::stoul(descr.substr(2)), fortran};
    std::copy(shape.begin(), shape.end(), m->shape);
    std::copy(data.begin(), data.end(), m->data);
    return m;
}

std::string dict(const std::string& descr, const std::string& shape) {
    return "{'descr': '" + descr + "', 'fortran_order': False, 'shape': (" + shape + "), }";
}

// An NPY image with any header text (not padded), for hostile inputs.
std::string npy_image(const std::string& header, const std::string& data, int major = 1) {
    return std::string(NPY_ARRAY_MAGIC_STRING) + char(major) + '\0' + char(header.size() & 0xff) + char(header.size() >> 8) + header + data;
}

std::string valid_npy(const std::string& data) { return npy_image(dict("<f8", std::to_string(data.size() / 8) + ","), data); }

// Little-endian fields of the given widths.
std::string le(std::initializer_list<std::pair<uint64_t, int>> fields) {
    std::string s;
    for (auto [v, bytes] : fields)
        for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}

// One local entry of a ZIP archive with fields as given (the walk never needs the directory).
std::string zip_entry(const std::string& name, const std::string& body, uint16_t method = 0, uint16_t flags = 0,
                      int64_t compressed = -1, int64_t uncompressed = -1, const std::string& extra = "") {
    return le({{LOCAL_HEADER_SIGNATURE, 4}, {20, 2}, {flags, 2}, {method, 2}, {0, 4}, {crc32(0, body.data(), body.size()), 4},
               {compressed < 0 ? body.size() : uint64_t(compressed), 4}, {uncompressed < 0 ? body.size() : uint64_t(uncompressed), 4},
               {name.size(), 2}, {extra.size(), 2}}) +
           name + extra + body;
}

struct Npy : ::testing::Test {
    qbtest::TempDir dir_;
    std::string path(const std::string& name) const { return name[0] == '/' ? name : dir_.file(name); }
    // Loads a file into *out and returns what the loader wrote to standard error.
    std::string load(const std::string& name, Array* out) { return stderr_of([&] { out->reset(npy_array_load(path(name).c_str())); }); }
    std::string load(const std::string& name, List* out) { return stderr_of([&] { out->reset(npy_array_list_load(path(name).c_str())); }); }
};

TEST_F(Npy, SavesTheExact128ByteHeaderAndLoadsWhatItSaves) {
    // Eight extents save but do not load (at most seven are read).
    for (const auto& [shape, text, count] : std::vector<std::tuple<std::vector<size_t>, std::string, size_t>>{
             {{2, 3}, "2, 3", 6}, {{5}, "5,", 5}, {{1, 1, 1, 1, 1, 1, 1, 2}, "1, 1, 1, 1, 1, 1, 1, 2", 2}}) {
        const std::string data = pattern(count * 8, 1), head = std::string("\x93NUMPY\x01\x00\x76\x00", 10) + dict("<f8", text);
        Array m(make_array("<f8", shape, data)), back;
        npy_array_save(path("s.npy").c_str(), m.get());
        EXPECT_EQ(read_file(path("s.npy")), head + std::string(127 - head.size(), ' ') + "\n" + data);  // 128-byte header
        EXPECT_EQ(load("s.npy", &back), shape.size() == 8 ? "Too many dimensions.\nCannot read matrix.\n" : "");
        EXPECT_EQ(describe(back.get()), shape.size() == 8 ? "null" : describe(m.get())) << text;
    }
}

TEST_F(Npy, RefusedSavesLeaveTheOldFileAlone) {
    qbtest::write_file(path("keep.npy"), "old");
    const struct { int ndim; size_t elem; char order; std::array<size_t, 4> shape; const char* message; } cases[] = {
        {9, 4, '<', {2}, "Too many dimensions.\n"}, {-1, 4, '<', {2}, "Invalid number of dimensions.\n"},
        {1, 0, '<', {2}, "Invalid element size.\n"}, {1, 4, '\0', {2}, "Invalid type descriptor.\n"},
        // A dictionary of 108 characters or more (the product is 0, so it does not overflow).
        {4, 1, '<', {0, size_t{1} << 60, size_t{1} << 60, size_t{1} << 60}, "Header too long.\n"},
        {2, 1, '<', {SIZE_MAX / 2, 3}, "Array size overflows.\n"}};
    const Array m(make_array("<i4", {2}));
    for (const auto& c : cases) {
        npy_array_t spoilt{m->data, {}, c.ndim, c.order, 'i', c.elem, 0};
        std::copy(c.shape.begin(), c.shape.end(), spoilt.shape);
        EXPECT_EQ(stderr_of([&] { npy_array_save(path("keep.npy").c_str(), &spoilt); }), c.message);
        EXPECT_EQ(read_file(path("keep.npy")), "old") << c.message;
    }
    EXPECT_EQ(stderr_of([&] { npy_array_save(path("keep.npy").c_str(), nullptr); }), "Warning: No matrix found. (npy_array_save)\n");
    const std::string err = stderr_of([&] { npy_array_save(path("no/such/dir.npy").c_str(), m.get()); });
    EXPECT_EQ(err.rfind("Cannot open '" + path("no/such/dir.npy") + "' for writing.\nError: ", 0), 0u) << err;
}

TEST_F(Npy, HostileFilesFailCleanly) {
    const std::string f8 = dict("<f8", "2,");
    const std::string terabyte = npy_image(dict("<f8", "137438953472,"), pattern(100, 6));  // refused before allocating
    const std::pair<std::string, std::string> cases[] = {
        {"\x93NUMPY\x01", "Cannot read pre header bytes.\n"},
        {std::string("\x93NUMPZ\x01\x00\x02\x00{}", 12), "File format not recognised as numpy array.\n"},
        {npy_image(f8, pattern(16, 3), 2), "Wrong numpy save version. Expected version 1.x This is version 2.0\n"},
        {npy_image(f8, "").substr(0, 30), "Cannot read header. 57 bytes.\n"},
        {npy_image("{'fortran_order': False, 'shape': (2,), }", ""), "Missing 'descr' in header.\n"},
        {npy_image("{'descr': '<f8', 'shape': (2,), }", ""), "Missing 'fortran_order' in header.\n"},
        {npy_image("{'descr': '<f8', 'fortran_order': False, }", ""), "Missing 'shape' in header.\n"},
        // The second header ends inside the descriptor.
        {npy_image(dict("<f0", "2,"), ""), "Invalid element size.\n"}, {npy_image("{'descr': '<", ""), "Invalid element size.\n"},
        {npy_image(dict("<f99999999999999999999999", "2,"), ""), "Invalid element size.\n"},
        {npy_image(dict("<f8", "1,1,1,1,1,1,1,1"), ""), "Too many dimensions.\n"},
        {npy_image(dict("<f8", "99999999999999999999999,"), ""), "Array size overflows.\n"},
        {npy_image(dict("<f8", "4294967296, 4294967296"), ""), "Array size overflows.\n"},
        {terabyte, "Could not read all data.\n"}, {npy_image(f8, pattern(15, 4)), "Could not read all data.\n"},
    };
    Array m;
    for (const auto& [file, message] : cases) {
        qbtest::write_file(path("bad.npy"), file);
        EXPECT_EQ(load("bad.npy", &m), message + "Cannot read matrix.\n");
        EXPECT_EQ(m, nullptr) << message;
    }
    EXPECT_EQ(load("missing.npy", &m), "Cannot open '" + path("missing.npy") + "' for reading.\nError: No such file or directory\n");
    // A pipe has no size to check against: the block grows only with data that arrives.
    for (const std::string& image : {valid_npy(pattern(800, 5)), terabyte}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], image.data(), image.size()), ssize_t(image.size()));  // fits the pipe's buffer
        close(fds[1]);
        const std::string err = load("/proc/self/fd/" + std::to_string(fds[0]), &m);
        close(fds[0]);
        EXPECT_EQ(describe(m.get()), image == terabyte ? "null" : "<f8 C (100,) " + image.substr(image.size() - 800)) << err;
    }
}

// Blocks this large take the huge-page path; a pipe grows its block in steps.
TEST_F(Npy, LargeArraysLoadWholeFromFilesArchivesAndPipes) {
    const std::string data = pattern((size_t{20} << 20) + 24, 11);
    Array m(make_array("<f8", {data.size() / 8}, data)), back;
    npy_array_save(path("big.npy").c_str(), m.get());
    EXPECT_EQ(load("big.npy", &back), "");
    EXPECT_TRUE(back && describe(back.get()) == describe(m.get()));
    List list(npy_array_list_append(nullptr, back.release(), "big.npy")), from_zip;
    ASSERT_EQ(npy_array_list_save(path("big.npz").c_str(), list.get()), 1);
    EXPECT_EQ(load("big.npz", &from_zip), "");
    EXPECT_TRUE(from_zip && describe(from_zip.get()) == describe(list.get()));
    for (const char* f : {"big.npy", "big.npz"}) {  // space reserved for the write ends with the file
        struct stat st;
        ASSERT_EQ(stat(path(f).c_str(), &st), 0);
        EXPECT_LT(st.st_blocks * 512, st.st_size + (64 << 10)) << f;
    }
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string image = read_file(path("big.npy"));
    std::jthread writer([&] {
        for (size_t at = 0; at < image.size();) {
            const ssize_t n = write(fds[1], image.data() + at, image.size() - at);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        close(fds[1]);
    });
    EXPECT_EQ(load("/proc/self/fd/" + std::to_string(fds[0]), &back), "");
    writer.join();
    close(fds[0]);
    EXPECT_TRUE(back && describe(back.get()) == describe(m.get()));
}

TEST_F(Npy, LenientHeaderFieldsWarnAndLoadAndDumpPrintsTheSummary) {
    Array m;  // big-endian data loads unconverted after a warning without a line feed
    qbtest::write_file(path("be.npy"), npy_image(dict(">u2", "2,"), "\x01\x02\x03\x04"));
    EXPECT_EQ(load("be.npy", &m), "Warning: Endianess of system and file does not match.");
    EXPECT_EQ(describe(m.get()), ">u2 C (2,) \x01\x02\x03\x04");
    qbtest::write_file(path("odd.npy"), npy_image("{'descr': 'b1', 'fortran_order': maybe, 'shape': [3], }", std::string("\x01\x00\x01", 3)));
    EXPECT_EQ(load("odd.npy", &m), "Warning: Endianness not found.Warning: No matrix order found, assuming fortran_order=False");
    EXPECT_EQ(describe(m.get()).substr(1), std::string("b1 C (3,) \x01\x00\x01", 13));
    m.reset(make_array("<f8", {2, 3}, "", true));
    EXPECT_EQ(qbtest::capture_stdout([&] { npy_array_dump(m.get()); }),
              "Dimensions   : 2\nShape        : ( 2, 3)\nType         : 'f' (8 bytes each element)\nFortran order: True\n");
    EXPECT_EQ(stderr_of([] { npy_array_dump(nullptr); }), "Warning: No matrix found. (npy_array_dump)\n");
}

TEST_F(Npy, BmpToNpyWrapsThePixelsAndRefusesBadSizes) {
    std::string pixels = pattern(64, 2);
    char* out = nullptr;
    int len = 0;
    ASSERT_EQ(bmp_to_npy(pixels.data(), 6, 2, 1, &out, &len), 0);
    ASSERT_EQ(len, 134);
    EXPECT_NE(std::string(out, 128).find(dict("|u1", "1, 2, 3")), std::string::npos);
    EXPECT_EQ(std::string(out + 128, 1034 - 128), pixels.substr(6, 6) + std::string(1034 - 134, '\0'));  // zero-filled tail
    free(out);
    out = nullptr;
    const int bad[][3] = {{0, 0, 1}, {0, 1, 0}, {0, -2, 1}, {0, 2, -1}, {-1, 2, 1}, {0, 65536, 65536}, {0, 46341, 46341},
                          {0, 0x7fffffff, 1}, {0, 1, 715827882}};
    for (const auto& b : bad)
        EXPECT_TRUE(bmp_to_npy(pixels.data(), b[0], b[1], b[2], &out, &len) == -1 && out == nullptr) << b[1] << "x" << b[2];
}

TEST_F(Npy, ListsTakeLiteralNamesAndRefuseLongOnes) {
    List list(npy_array_list_append(nullptr, make_array("<f8", {1}, "abcdefgh"), "b_%d.npy", 1));
    list.reset(npy_array_list_prepend(list.release(), make_array("<f8", {1}, "ABCDEFGH"), "a.npy"));
    list.reset(npy_array_list_append(list.release(), make_array("<f8", {1}, "12345678"), nullptr));
    EXPECT_EQ(describe(list.get()), "a.npy <f8 C (1,) ABCDEFGH\nb_1.npy <f8 C (1,) abcdefgh\n(unnamed) <f8 C (1,) 12345678\n");
    npy_array_save(path("a.npy").c_str(), list->array);  // the node's CRC is that of the NPY image
    const std::string image = read_file(path("a.npy"));
    EXPECT_EQ(list->crc32, crc32(0, image.data(), image.size()));
    Array extra(make_array("<f8", {1}));
    // The list comes back unchanged, and the array is still ours.
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(npy_array_list_append(list.get(), extra.get(), "%s", std::string(81, 'n').c_str()), list.get()); }),
              "Warning: Cannot save neural network. Your filename is too long. Please limit the filename to 80 characters.\n");
    EXPECT_EQ(npy_array_list_length(list.get()), 3u);
    npy_array_list_append(list.get(), extra.release(), "%s", std::string(80, 'n').c_str());  // exactly 80 is fine
    EXPECT_EQ(npy_array_list_length(list.get()), 4u);
}

TEST_F(Npy, TheTwoArrayArchiveIs562BytesAndLoadsBack) {
    List list(npy_array_list_append(nullptr, make_array("<f8", {2, 3}, pattern(48, 8)), nullptr));
    npy_array_list_append(list.get(), make_array("<f8", {2, 3}, pattern(48, 9)), nullptr);
    ASSERT_EQ(npy_array_list_save(path("two.npz").c_str(), list.get()), 2);
    const std::string z = read_file(path("two.npz"));
    ASSERT_EQ(z.size(), 562u);
    const uint32_t fields[][3] = {{0, 4, LOCAL_HEADER_SIGNATURE}, {14, 4, list->crc32}, {18, 4, 176}, {215, 4, LOCAL_HEADER_SIGNATURE},
                                  {430, 4, CENTRAL_DIRECTORY_HEADER_SIGNATURE}, {434, 2, 0x0314}, {446, 4, list->crc32},
                                  {468, 4, 0x01A40000}, {527, 4, 215}, {540, 4, END_OF_CENTRAL_DIR_SIGNATURE}, {548, 2, 2},
                                  {550, 2, 2}, {552, 4, 110}, {556, 4, 430}};
    for (const auto& f : fields) EXPECT_EQ(z.substr(f[0], f[1]), le({{f[2], int(f[1])}})) << "offset " << f[0];
    List back;
    EXPECT_EQ(load("two.npz", &back), "");
    EXPECT_EQ(describe(back.get()), "arr_0.npy <f8 C (2,3,) " + pattern(48, 8) + "\narr_1.npy <f8 C (2,3,) " + pattern(48, 9) + "\n");
    EXPECT_EQ(describe(list.get()), describe(back.get()));  // named in place
    EXPECT_EQ(npy_array_list_save(path("none.npz").c_str(), nullptr), 0);
    EXPECT_EQ(access(path("none.npz").c_str(), F_OK), -1);
}

TEST_F(Npy, ArchiveSaveRefusesWhatZipCannotHoldAndReportsWriteErrors) {
    // Arrays that are never read: each refused archive is refused before any byte is written.
    char small[8] = {};
    std::vector<npy_array_t> arrays(65535, npy_array_t{small, {}, 1, '|', 'u', 1, 0});
    std::vector<npy_array_list_t> nodes(65535);
    for (size_t i = 0; i < nodes.size(); ++i)
        nodes[i] = npy_array_list_t{&arrays[i], const_cast<char*>("x.npy"), 0, i + 1 < nodes.size() ? &nodes[i + 1] : nullptr};
    const std::string err = stderr_of([&] { EXPECT_EQ(npy_array_list_save(path("many.npz").c_str(), nodes.data()), -1); });
    EXPECT_NE(err.find("more than 65534 arrays"), std::string::npos) << err;  // 0xFFFF would mean ZIP64
    nodes[65533].next = nullptr;
    EXPECT_EQ(npy_array_list_save(path("many.npz").c_str(), nodes.data()), 65534);
    nodes[0].next = nullptr;
    stderr_of([&] { EXPECT_EQ(npy_array_list_save("/dev/full", nodes.data()), -1); });  // a write error is a failure
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(npy_array_list_save(path("no/dir.npz").c_str(), nodes.data()), -1); }),
              "Cannot open file '" + path("no/dir.npz") + "' for writing\n");
    arrays[0].shape[0] = size_t{5} << 30;
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(npy_array_list_save(path("big.npz").c_str(), nodes.data()), -1); }),
              "Cannot save '" + path("big.npz") + "': the archive would reach 4 GiB.\n");
    EXPECT_EQ(access(path("big.npz").c_str(), F_OK), -1);
}

TEST_F(Npy, ArchiveWalkSkipsBadEntriesNeverLeavesAnEntryAndStopsAtTruncations) {
    const std::string a = valid_npy(pattern(16, 10)), b = valid_npy(pattern(24, 11)), first = zip_entry("a.npy", a);
    const std::string got_a = "a.npy <f8 C (2,) " + a.substr(a.size() - 16) + "\n";
    const std::string zip64_extra = le({{1, 2}, {16, 2}, {b.size(), 8}, {b.size(), 8}});  // header 1, 16 bytes: both sizes
    const struct { std::string file, message, arrays; } cases[] = {
        {zip_entry("packed.npy", "xxxxxxxx", 8) + zip_entry("secret.npy", "yyyy", 0, 1) + zip_entry("%n%s%n.npy", a) +
             zip_entry("greedy.npy", npy_image(dict("<f8", "4,"), pattern(16, 12))) +  // claims 4 elements, holds 2
             zip_entry("sizes.npy", a, 0, 0, -1, 5) + zip_entry(std::string("nul\0.npy", 8), a) + zip_entry(std::string(81, 'L'), a) +
             zip_entry("zip64.npy", b, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, zip64_extra) + zip_entry("streamed.npy", a, 0, 8) +
             zip_entry("never.npy", a) + std::string("PK\x01\x02", 4) + std::string(42, '\0'),
         "local file 'packed.npy' is compressed. Skipping.\nStill no support for reading compressed files.\n"
         "Please store numpy array with np.savez() instead of np.savez_compressed().\n"
         "local file 'secret.npy' is encrypted. Skipping.\nCould not read all data.\nCannot read matrix.\n"
         "local file 'sizes.npy' has inconsistent sizes. Skipping.\nlocal file 'nul' has an invalid name. Skipping.\n"
         "Warning: Cannot save neural network. Your filename is too long. Please limit the filename to 80 characters.\n"
         "No support for streamed datafiles with data descriptor.\n",
         // A name is data, never a format.
         "%n%s%n.npy <f8 C (2,) " + a.substr(a.size() - 16) + "\nzip64.npy <f8 C (3,) " + b.substr(b.size() - 24) + "\n"},
        {first + zip_entry("b.npy", a, 0, 0, 1 << 30, 1 << 30), "local file 'b.npy' has inconsistent sizes. Skipping.\n", got_a},
        {first + zip_entry("c.npy", a, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF), "local file 'c.npy' has inconsistent sizes. Skipping.\n", got_a},
        {first + zip_entry("d.npy", a).substr(0, 20), "Cannot read header.\n", got_a},
        {first + zip_entry("e.npy", a).substr(0, 33), "3 != 5.\n", got_a},
        {first + zip_entry("f.npy", a, 0, 0, -1, -1, "0123456789").substr(0, 38), "Incorrect read.\n", got_a},
        {a, "", ""},  // a bare NPY file
        {"PK", "Warning: cannot read from '" + path("t.npz") + "'.\n", ""},
    };
    for (const auto& c : cases) {
        qbtest::write_file(path("t.npz"), c.file);
        List list;
        EXPECT_EQ(load("t.npz", &list), c.message);
        EXPECT_EQ(describe(list.get()), c.arrays) << c.message;
    }
}

// Step "theirs" writes np.save files and an np.savez archive, and lists each case with its expected
// summary; step "ours" loads our files with NumPy. Case i's bytes are (k * 37 + i) & 0xff (bools: & 1).
const char* kNumpyPeer = R"PY(
import os, sys
import numpy as np
work, step = sys.argv[1], sys.argv[2]
cases = [(d.strip('<>|') + ('_be' if d[0] == '>' else ''), d, s, False) for d, s in (
    ('<f4', (2, 3)), ('<f8', (4,)), ('|i1', (3, 5)), ('<i2', (7,)), ('<i4', (2, 2, 2)), ('<i8', (3,)), ('|u1', (9,)),
    ('<u2', (2, 5)), ('<u4', (1,)), ('<u8', (2, 2)), ('|b1', (6,)), ('<c8', (3,)), ('<c16', (2, 2)), ('>i4', (3,)))]
cases += [('fortran', '<f8', (3, 4), True), ('fortran3', '<i2', (2, 3, 4), True), ('scalar', '<f8', (), False),
          ('empty', '<i4', (0,), False), ('empty2d', '<f8', (2, 0), False)]
arrays = {}
for i, (name, descr, shape, fortran) in enumerate(cases):
    raw = bytes((k * 37 + i) & (1 if 'b1' in descr else 0xff) for k in range(int(np.prod(shape)) * np.dtype(descr).itemsize))
    arrays[name] = np.frombuffer(raw, descr).reshape(shape, order='F' if fortran else 'C')
    if step == 'theirs':
        np.save(os.path.join(work, 'theirs_%s.npy' % name), arrays[name])
        print(name, descr, 'CF'[fortran], '(%s)' % ''.join('%d,' % e for e in shape), file=open(os.path.join(work, 'cases.txt'), 'a'))
        continue
    with np.load(os.path.join(work, 'ours.npz'), allow_pickle=False) as z:
        for what, a in (('npy', np.load(os.path.join(work, 'ours_%s.npy' % name), allow_pickle=False)), ('npz', z[name])):
            f_order = a.ndim > 1 and a.flags.f_contiguous and not a.flags.c_contiguous
            if (a.dtype.str, a.shape, f_order, a.tobytes(order='A')) != (descr, shape, fortran, raw):
                sys.exit('%s (%s): %s %s order %s' % (name, what, a.dtype.str, a.shape, 'CF'[f_order]))
if step == 'theirs':
    np.savez(os.path.join(work, 'theirs.npz'), **arrays)
)PY";

TEST_F(Npy, NumpyLoadsOursAndWeLoadTheirsForEveryVersion1Dtype) {
    std::string out;
    ASSERT_EQ(qbtest::run_python(kNumpyPeer, {dir_.path(), "theirs"}, &out), 0) << out;
    List theirs, ours;
    load("theirs.npz", &theirs);  // (big-endian warnings)
    const npy_array_list_t* node = theirs.get();
    std::istringstream listing(read_file(path("cases.txt")));
    for (std::string name, want; listing >> name && std::getline(listing >> std::ws, want); node = node->next) {
        Array m;
        load("theirs_" + name + ".npy", &m);
        EXPECT_EQ(describe(m.get(), false), want) << name;
        ASSERT_NE(node, nullptr) << name;
        EXPECT_EQ(node->filename + (" " + describe(node->array)), name + ".npy " + describe(m.get())) << name;
        // Saved back by us, as a file and as an archive entry, for NumPy to check against the same bytes.
        npy_array_save(path("ours_" + name + ".npy").c_str(), m.get());
        ours.reset(npy_array_list_append(ours.release(), m.release(), "%s.npy", name.c_str()));
    }
    ASSERT_EQ(npy_array_list_save(path("ours.npz").c_str(), ours.get()), 19);
    ASSERT_EQ(qbtest::run_python(kNumpyPeer, {dir_.path(), "ours"}, &out), 0) << out;
}

}  // namespace
