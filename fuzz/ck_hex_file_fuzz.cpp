// libFuzzer target for the HEX file reader: every input is written to a file and checked with
// CkHexFile on the simulated platform, as the operator's file would be.
//
// The first input byte chooses the set-up, the rest is the file:
//   bits 0-1  the identified device: 0 none, 1 letter "D", 2 letter "H", 3 the letter in bits 3-7
//   bit 2     tracing on (every line read goes to the trace file)
//   bit 7     the file lies in the program folder itself, where the copy made before a
//             conversion to CR LF has to go beside it
//
// Beyond the sanitizers, each run checks what the reader promises: a result that matches the
// error code, an image of 32785 byte values, a hidden progress bar, and a converted file that
// holds the same text with CR LF line ends and its original saved in the program folder.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "app/main_loop.h"
#include "core/state.h"
#include "hexfile/hex_validation.h"
#include "providers/sim/sim_platform.h"
#include "serial/packets.h"

namespace {

namespace fs = std::filesystem;

std::string& Folder() {
    static std::string folder;
    return folder;
}

void RemoveFolder() {
    std::error_code ignored;
    if (!Folder().empty())
        fs::remove_all(Folder(), ignored);
}

// Removes the files an earlier input left (the input, the copy made before a conversion, a
// half-written conversion, the trace); the folders themselves stay, which is much cheaper
// than making them anew for every input.
void EmptyFolders() {
    std::error_code error;
    for (const std::string& dir : {Folder(), Folder() + "/HexFiles"}) {
        std::vector<fs::path> files;
        for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
            files.push_back(it->path());
        for (const auto& file : files) {
            if (!fs::is_directory(file, error))
                fs::remove(file, error);
        }
    }
}

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "ck_hex_file_fuzz: %s\n", what);
    std::abort();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        Broken("cannot write the input file");
}

// The text as ConvertToDosFormat leaves it: every LF not already after a CR gets one.
std::string WithCrLf(const std::string& text) {
    std::string dos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            dos += '\r';
        dos += text[i];
    }
    return dos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (fs::temp_directory_path() / "rompush-fuzz-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        Broken("cannot make a temporary program folder");
    Folder() = buffer.data();
    std::error_code error;
    if (!fs::create_directory(Folder() + "/HexFiles", error))
        Broken("cannot make the HexFiles folder");
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rompush;
    if (size == 0)
        return 0;
    const std::uint8_t setup = data[0];
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);

    // Every input starts from an empty folder, a fresh program and its own virtual clock and
    // dialog log, so a reported input replays alone exactly as it ran.
    const std::string& folder = Folder();
    EmptyFolders();
    platform::sim::SimPlatform sim(folder, folder);
    ResetState();
    BuildCrcTable();
    WireMainWindowHandlers();

    switch (setup & 3) {
        case 0:
            break;
        case 1:
            g.dev.DeviceFound = true;
            g.dev.DevLetter = "D";
            break;
        case 2:
            g.dev.DeviceFound = true;
            g.dev.DevLetter = "H";
            break;
        default:
            g.dev.DeviceFound = true;
            g.dev.DevLetter = std::string(1, static_cast<char>('A' + (setup >> 3) % 26));
            break;
    }
    if (setup & 4) {
        g.trace.File = std::make_shared<std::ofstream>(folder + "/trace.txt",
                                                       std::ios::binary | std::ios::trunc);
        g.trace.TraceOn = true;
    }
    const bool inProgramFolder = (setup & 0x80) != 0;
    const std::string path =
        inProgramFolder ? folder + "/input.hex" : folder + "/HexFiles/input.hex";
    WriteAll(path, content);
    g.files.SelectedFileName = "input.hex";
    g.files.SelectedFilePath = path;

    const bool valid = CkHexFile(path);

    const auto code = g.result.ErrorCode;
    if (valid != (code == 0))
        Broken("the result and ErrorCode disagree");
    if (!valid && (code < 1001 || code > 1012))
        Broken("a refused file with an error code outside the HEX file codes 1001-1012");
    if (g.hex.HexData.size() != 32785)
        Broken("the image changed its size");
    for (const std::int16_t cell : g.hex.HexData) {
        if (cell < 0 || cell > 0xFF)
            Broken("an image cell holds more than a byte");
    }
    if (frmUI().ProgressBar1.Visible)
        Broken("the progress bar is left showing");

    bool conversionOffered = false;
    for (const auto& message : sim.dialogs.Messages())
        conversionOffered |=
            message.prompt.find("will be converted to DOS format.") != std::string::npos;
    if (conversionOffered && code != 1001) {
        // The file was converted: it holds the input with CR LF line ends, and the input as
        // it was is kept in the program folder.
        if (ReadAll(path) != WithCrLf(content))
            Broken("the converted file differs from the input with CR LF line ends");
        const std::string backup = folder + "/input.hex" + (inProgramFolder ? ".orig" : "");
        if (ReadAll(backup) != content)
            Broken("the copy of the original file differs from the input");
    } else if (code != 1001 && ReadAll(path) != content) {
        Broken("a file that needed no conversion was changed");
    }

    ResetState();
    return 0;
}
