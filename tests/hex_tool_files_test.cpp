// HEX files written by a real HEX tool (srec_cat, from the srecord package) are read as the
// firmware build writes them: random binary images of several sizes, start addresses, record
// lengths and line ends are turned into Intel HEX by the tool, given the product header line,
// checked against an identified device and compared with the binary cell by cell.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "core/text.h"
#include "hexfile/hex_validation.h"
#include "program_fixture.h"
#include "ui/frm_ui.h"

namespace rompush::testing {
namespace {

constexpr std::size_t kImageCells = 32785;

struct ToolRun {
    int status = -1;
    std::string output;
};

// Runs a shell command and collects what it prints (stdout and stderr).
ToolRun RunTool(const std::string& command) {
    ToolRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    std::string chunk(512, '\0');
    std::size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        run.output += chunk.substr(0, got);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::string Hex2(int value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// The product header the firmware build puts in front of the image: byte count 06, data byte 1
// = 01, data byte 4 = the product code (the device letter XOR 96h), with a proper checksum.
std::string HeaderLine(char letter) {
    const int bytes[] = {0x06, 0x00, 0x00, 0x00, 0x01, 0x18, 0x07, letter ^ 0x96, 0x00, 0x42};
    std::string line = ":";
    int sum = 0;
    for (int b : bytes) {
        line += Hex2(b);
        sum += b;
    }
    return line + Hex2(-sum);
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> data(size);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(byte(random));
    return data;
}

struct ToolFile {
    std::size_t size;     // bytes of random data
    unsigned seed;        // of the random data
    unsigned start;       // address of the first byte
    int blockSize;        // data bytes per record
    bool crlf;            // CR LF line ends, else bare LF
    bool extendedRecord;  // let the tool open with its extended linear address record
};

class HexToolFilesTest : public ProgramTest {
  protected:
    void SetUp() override {
        const ToolRun which = RunTool("command -v srec_cat");
        ASSERT_EQ(which.status, 0)
            << "srec_cat is not installed: these tests need the HEX tool from the Debian package "
               "'srecord' (scripts/install-deps.sh installs it)";
        std::filesystem::create_directories(HexFolder());
        g.dev.DeviceFound = true;
        g.dev.DevLetter = "D";
    }

    std::string HexFolder() const { return PathIn("HexFiles"); }

    // Writes the data as a binary file, has the tool turn it into Intel HEX and puts the
    // product header in front, with the line ends the tool wrote. Returns the HEX file's path.
    std::string MakeFile(const ToolFile& file, const std::vector<std::uint8_t>& data, char letter) {
        const std::string name = "image-" + std::to_string(file.seed);
        const std::string binary = HexFolder() + "/" + name + ".bin";
        const std::string toolOut = HexFolder() + "/" + name + ".tool";
        const std::string hex = HexFolder() + "/" + name + ".hex";
        WriteFile(binary, std::string(data.begin(), data.end()));
        std::string command = "srec_cat " + Quoted(binary) + " -binary";
        if (file.start != 0)
            command += " -offset " + std::to_string(file.start);
        command += " -o " + Quoted(toolOut) + " -intel";
        // Plain 16-bit Intel HEX: the images live below 64 KB and need no extended records.
        if (!file.extendedRecord)
            command += " --address-length=2";
        command += " -Output_Block_Size " + std::to_string(file.blockSize);
        command += file.crlf ? " -Line_Termination CRLF" : " -Line_Termination LF";
        const ToolRun run = RunTool(command);
        EXPECT_EQ(run.status, 0) << command << "\n" << run.output;
        const std::string body = ReadFile(toolOut);
        const std::string end = file.crlf ? "\r\n" : "\n";
        WriteFile(hex, HeaderLine(letter) + end + body);
        return hex;
    }

    // The tool's records, as the file holds them (header excluded).
    static std::vector<std::string> Lines(const std::string& content) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = content.find('\n', start)) != std::string::npos;
             start = end + 1) {
            std::string line = content.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    // The image must hold the data from index 0 and the erased value everywhere else.
    static void ExpectImage(const std::vector<std::uint8_t>& data, std::size_t from = 0) {
        const auto& image = g.hex.HexData;
        ASSERT_EQ(image.size(), kImageCells);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < kImageCells; ++i) {
            const int expected = i >= from && i - from < data.size() ? data[i - from] : 0xFF;
            if (image[i] != expected && ++wrong <= 5)
                ADD_FAILURE() << "HexData(" << i << ") = " << image[i] << ", expected " << expected;
        }
        EXPECT_EQ(wrong, 0u) << "cells that differ from the binary";
    }

    void CheckToolFile(const ToolFile& file) {
        SCOPED_TRACE("size " + std::to_string(file.size) + ", start " + std::to_string(file.start) +
                     ", records of " + std::to_string(file.blockSize) +
                     (file.crlf ? ", CR LF" : ", LF"));
        const auto data = RandomBytes(file.size, file.seed);
        const std::string path = MakeFile(file, data, 'D');
        const std::string written = ReadFile(path);
        const std::size_t lineCount = Lines(written).size();
        // Something left over from an earlier file must not survive in the image.
        std::fill(g.hex.HexData.begin(), g.hex.HexData.end(), std::int16_t{0x55});

        ASSERT_TRUE(CkHexFile(path)) << "ErrorCode " << g.result.ErrorCode;
        EXPECT_EQ(g.result.ErrorCode, 0);
        EXPECT_EQ(g.hex.FileProductCode, 'D' ^ 0x96);
        EXPECT_EQ(frmUI().ProgressBar1.Max, static_cast<int>(lineCount));
        EXPECT_FALSE(frmUI().ProgressBar1.Visible);
        ExpectImage(data);

        if (file.crlf) {
            EXPECT_TRUE(sim.dialogs.Messages().empty()) << "a DOS file is read as it is";
            EXPECT_EQ(ReadFile(path), written);
        } else {
            // The file is rewritten with CR LF after the original went to the program folder.
            ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
            EXPECT_NE(sim.dialogs.Messages()[0].prompt.find("will be converted to DOS format."),
                      std::string::npos);
            EXPECT_EQ(ReadFile(PathIn(FileNameOf(path))), written);
            std::string dos;
            for (char c : written) {
                if (c == '\n')
                    dos += '\r';
                dos += c;
            }
            EXPECT_EQ(ReadFile(path), dos);
        }
    }
};

TEST_F(HexToolFilesTest, SmallImageInOneRecord) {
    CheckToolFile({.size = 7,
                   .seed = 11,
                   .start = 0,
                   .blockSize = 16,
                   .crlf = true,
                   .extendedRecord = false});
}

TEST_F(HexToolFilesTest, OddSizesEndInAShortRecord) {
    CheckToolFile({.size = 1,
                   .seed = 12,
                   .start = 0,
                   .blockSize = 16,
                   .crlf = true,
                   .extendedRecord = false});
    CheckToolFile({.size = 1001,
                   .seed = 13,
                   .start = 0,
                   .blockSize = 32,
                   .crlf = true,
                   .extendedRecord = false});
    CheckToolFile({.size = 4097,
                   .seed = 14,
                   .start = 0,
                   .blockSize = 16,
                   .crlf = true,
                   .extendedRecord = false});
}

TEST_F(HexToolFilesTest, Full32KImageInSixteenByteRecords) {
    CheckToolFile({.size = 0x8000,
                   .seed = 21,
                   .start = 0,
                   .blockSize = 16,
                   .crlf = true,
                   .extendedRecord = false});
}

TEST_F(HexToolFilesTest, Full32KImageInThirtyTwoByteRecords) {
    CheckToolFile({.size = 0x8000,
                   .seed = 22,
                   .start = 0,
                   .blockSize = 32,
                   .crlf = true,
                   .extendedRecord = false});
}

TEST_F(HexToolFilesTest, Full32KImageWithUnixLineEndsIsConvertedAndRead) {
    CheckToolFile({.size = 0x8000,
                   .seed = 23,
                   .start = 0,
                   .blockSize = 16,
                   .crlf = false,
                   .extendedRecord = false});
}

TEST_F(HexToolFilesTest, ImageAtANonZeroStartLandsFromIndexZero) {
    CheckToolFile({.size = 777,
                   .seed = 31,
                   .start = 0x1234,
                   .blockSize = 16,
                   .crlf = true,
                   .extendedRecord = false});
}

TEST_F(HexToolFilesTest, OddStartOddSizeAndUnixLineEnds) {
    CheckToolFile({.size = 333,
                   .seed = 32,
                   .start = 0x4001,
                   .blockSize = 32,
                   .crlf = false,
                   .extendedRecord = false});
}

TEST_F(HexToolFilesTest, ImageReachingTheTopOfThe32KSpace) {
    CheckToolFile({.size = 0x2000,
                   .seed = 33,
                   .start = 0x6000,
                   .blockSize = 32,
                   .crlf = true,
                   .extendedRecord = false});
}

// The tool's default output opens with an extended linear address record ":020000040000FA".
// The reader takes it as a middle record like any other: its address 0000 becomes the base and
// its two data bytes (00 00) are stored at index 0, so the data records follow at their full
// address.
TEST_F(HexToolFilesTest, LeadingExtendedAddressRecordIsStoredAsData) {
    const ToolFile file{.size = 300,
                        .seed = 41,
                        .start = 0x0200,
                        .blockSize = 16,
                        .crlf = true,
                        .extendedRecord = true};
    const auto data = RandomBytes(file.size, file.seed);
    const std::string path = MakeFile(file, data, 'D');
    const auto lines = Lines(ReadFile(path));
    ASSERT_GE(lines.size(), 3u);
    ASSERT_EQ(lines[1], ":020000040000FA") << "the tool's first record";

    ASSERT_TRUE(CkHexFile(path)) << "ErrorCode " << g.result.ErrorCode;
    EXPECT_EQ(g.hex.HexData[0], 0x00);
    EXPECT_EQ(g.hex.HexData[1], 0x00);
    for (std::size_t i = 2; i < file.start; ++i)
        ASSERT_EQ(g.hex.HexData[i], 0xFF) << "index " << i;
    std::vector<std::uint8_t> expected(file.start + data.size(), 0xFF);
    expected[0] = expected[1] = 0x00;
    std::copy(data.begin(), data.end(), expected.begin() + file.start);
    ExpectImage(expected);
}

TEST_F(HexToolFilesTest, ToolFileForAnotherDeviceIsRefused) {
    g.dev.DevLetter = "H";
    const ToolFile file{.size = 100,
                        .seed = 51,
                        .start = 0,
                        .blockSize = 16,
                        .crlf = true,
                        .extendedRecord = false};
    const std::string path = MakeFile(file, RandomBytes(file.size, file.seed), 'D');
    EXPECT_FALSE(CkHexFile(path));
    EXPECT_EQ(g.result.ErrorCode, 1002);

    // The same tool output with the header of the H product is taken.
    const std::string forH = MakeFile(file, RandomBytes(file.size, file.seed), 'H');
    EXPECT_TRUE(CkHexFile(forH)) << "ErrorCode " << g.result.ErrorCode;
    EXPECT_EQ(g.hex.FileProductCode, 0xDE);
}

TEST_F(HexToolFilesTest, OneAlteredDigitInAToolFileIsACheckSumError) {
    const ToolFile file{
        .size = 64, .seed = 61, .start = 0, .blockSize = 16, .crlf = true, .extendedRecord = false};
    const std::string path = MakeFile(file, RandomBytes(file.size, file.seed), 'D');
    std::string content = ReadFile(path);
    // The first data digit of the tool's second record.
    const std::size_t second = content.find("\r\n:", content.find("\r\n:") + 1) + 2;
    char& digit = content[second + 9];
    digit = digit == '0' ? '1' : '0';
    WriteFile(path, content);
    EXPECT_FALSE(CkHexFile(path));
    EXPECT_EQ(g.result.ErrorCode, 1003);
}

}  // namespace
}  // namespace rompush::testing
