#include "support/pillow.h"

#include <sstream>

#include "support/python_peer.h"
#include "support/test_support.h"

namespace qbtest {

namespace {

constexpr const char* kScript = R"(
import sys
from PIL import Image
try:
    im = Image.open(sys.argv[1])
    im.load()
    print(im.format, im.mode, im.size[0], im.size[1])
    open(sys.argv[2], "wb").write(im.convert("RGB").tobytes())
except Exception as e:
    print("ERROR", type(e).__name__, e)
)";

}  // namespace

PillowImage pillow_decode(const std::string& bytes) {
    PillowImage img;
    TempDir dir;
    write_file(dir.file("in"), bytes);
    std::string out;
    if (run_python(kScript, {dir.file("in"), dir.file("out")}, &out) != 0 || out.rfind("ERROR", 0) == 0 ||
        out.find("Traceback") != std::string::npos) {
        img.error = out.empty() ? "python3 failed" : out;
        return img;
    }
    std::istringstream line(out);
    line >> img.format >> img.mode >> img.width >> img.height;
    img.rgb = read_file(dir.file("out"));
    img.ok = !line.fail() && img.rgb.size() == size_t(img.width) * img.height * 3;
    if (!img.ok) img.error = "unexpected output: " + out;
    return img;
}

}  // namespace qbtest
