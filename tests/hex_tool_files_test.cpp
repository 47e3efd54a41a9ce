// HEX files written by a real HEX tool (srec_cat, from the srecord package) are read as the
// firmware build writes them: random binary images of several sizes, start addresses, record
// lengths and line ends are turned into Intel HEX by the tool, given the product header line,
// checked against an identified device and compared with the binary cell by cell.
#include <algorithm>
#include <cstdlib>
#include <random>

#include "core/text.h"
#include "hex_file_writer.h"
#include "hexfile/hex_validation.h"
#include "program_fixture.h"
#include "ui/frm_ui.h"

namespace rompush::testing {
namespace {

struct ToolFile {
    std::size_t size;  // bytes of random data
    unsigned start;    // address of the first byte
    int blockSize;     // data bytes per record
    bool crlf;         // CR LF line ends, else bare LF
    bool extended;     // let the tool open with its extended linear address record
};

class HexToolFilesTest : public ProgramTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(std::system("command -v srec_cat >/dev/null"), 0)
            << "srec_cat is not installed: these tests need the HEX tool from the Debian package "
               "'srecord' (scripts/install-deps.sh installs it)";
        g.dev.DeviceFound = true;
        g.dev.DevLetter = "D";
    }

    // Has the tool turn random data into Intel HEX and puts the product header in front, with
    // the line ends the tool wrote. Returns the data.
    std::vector<std::uint8_t> MakeFile(const ToolFile& file) {
        std::mt19937 random(static_cast<unsigned>(file.size * 7 + file.start));
        std::vector<std::uint8_t> data(file.size);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(random() & 0xFF);
        WriteFile(PathIn("image.bin"), std::string(data.begin(), data.end()));
        std::string command = "srec_cat '" + PathIn("image.bin") + "' -binary -offset " +
                              std::to_string(file.start) + " -o '" + PathIn("tool.hex") +
                              "' -intel -Output_Block_Size " + std::to_string(file.blockSize) +
                              (file.crlf ? " -Line_Termination CRLF" : " -Line_Termination LF");
        // Plain 16-bit Intel HEX: the images live below 64 KB and need no extended records.
        if (!file.extended)
            command += " --address-length=2";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        const std::string header = HeaderRecord(ProductCodeFor('D')) + (file.crlf ? "\r\n" : "\n");
        WriteFile(Path(), header + ReadFile(PathIn("tool.hex")));
        return data;
    }
    std::string Path() const { return PathIn("firmware.hex"); }
};

TEST_F(HexToolFilesTest, ImagesOfEverySizeStartAndLineEndAreReadCellByCell) {
    for (const ToolFile& file : {
             ToolFile{7, 0, 16, true, false},
             ToolFile{1, 0, 16, true, false},
             ToolFile{1001, 0, 32, true, false},
             ToolFile{4097, 0, 16, true, false},
             ToolFile{0x8000, 0, 16, true, false},
             ToolFile{0x8000, 0, 32, true, false},
             ToolFile{0x8000, 0, 16, false, false},
             ToolFile{777, 0x1234, 16, true, false},  // lands from index 0
             ToolFile{333, 0x4001, 32, false, false},
             ToolFile{0x2000, 0x6000, 32, true, false},  // up to the top of the 32 KB space
             ToolFile{300, 0x0200, 16, true, true},
         }) {
        SCOPED_TRACE("size " + std::to_string(file.size) + ", start " + std::to_string(file.start) +
                     ", records of " + std::to_string(file.blockSize) +
                     (file.crlf ? ", CR LF" : ", LF"));
        const auto data = MakeFile(file);
        const std::string written = ReadFile(Path());
        const std::size_t messages = sim.dialogs.Messages().size();
        // Something left over from an earlier file must not survive in the image.
        std::fill(g.hex.HexData.begin(), g.hex.HexData.end(), std::int16_t{0x55});

        ASSERT_TRUE(CkHexFile(Path())) << "ErrorCode " << g.result.ErrorCode;
        EXPECT_EQ(g.hex.FileProductCode, 'D' ^ 0x96);
        const auto lines = std::count(written.begin(), written.end(), '\n');
        EXPECT_EQ(frmUI().ProgressBar1.Max, lines);
        // The tool's extended linear address record ":020000040000FA" that opens the file keeps
        // the upper address at 0: it is not data, and the image starts at the first data byte.
        std::vector<std::int16_t> expected(g.hex.HexData.size(), 0xFF);
        std::copy(data.begin(), data.end(), expected.begin());
        EXPECT_TRUE(g.hex.HexData == expected) << "the image differs from the binary";
        // An LF file is rewritten with CR LF after the original went to the program folder.
        std::string dos;
        for (char c : written)
            dos += c == '\n' && !file.crlf ? std::string("\r\n") : std::string(1, c);
        EXPECT_EQ(ReadFile(Path()), dos);
        EXPECT_EQ(sim.dialogs.Messages().size() - messages, file.crlf ? 0u : 1u);
    }
}

}  // namespace
}  // namespace rompush::testing
